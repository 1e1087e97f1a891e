// SPDX-License-Identifier: MIT
// A show set up by configuration files, as multinet-player@.service runs it: a master and two slaves on
// loopback, each `multinet-player --config FILE` with its standard input at /dev/null (as under systemd),
// the master's slaves written as plain IPs before any slave ran, the group keyed. The master, started
// first, plays its looping programme once both slaves are in; a slave killed with SIGKILL and started
// again from its file is back in the show within 10 s of the kill, nobody touching the master: the frames
// it shows advance in step with the master's again, and the other slave's never stopped.
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "LoopbackPlan.h"
#include "PlayerTestSupport.h"
#include "SkewStats.h"

#include <QTemporaryDir>

#include <csignal>

namespace {

constexpr int kReplyMs = 30000;
constexpr int kBackWithinMs = 10000;
constexpr int kPlayMs = 2500;
constexpr int kClipFps = 30;
// The skew of a slave's frames that counts as in step here: loose enough for a busy 2-core machine (the
// skew itself is player_session's to measure), far below a frame of the clip (33 ms).
constexpr qint64 kInStepUs = 5000;

} // namespace

class tst_PlayerVenue : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The player of `name`.conf, started as the unit starts it: nothing on its standard input, ever.
    std::unique_ptr<HostProcess> startFromFile(const QString& name)
    {
        return startPlayer("/bin/sh", name, {"-c", "exec \"$0\" --config \"$1\" </dev/null", MULTINET_PLAYER, path(name + ".conf")});
    }

    static bool stop(HostProcess& player)
    {
        ::kill(pid_t(player.pid()), SIGTERM);
        return runEventLoopUntil([&] { return !player.running(); }, kReplyMs);
    }

    // The master's STEP line of the session from event `from` on, met; else nothing.
    static bool stepMet(HostProcess& master, const char* step, const QString& detail, int timeoutMs, std::size_t from = 0)
    {
        const EventLine* line = awaitLine(master, [&](const EventLine& e) { return isStep(e, step) && e.value("detail") == detail; }, timeoutMs, from);
        return line && line->integer("met") == 1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(path("clip.avi"), 2.0, kClipFps, ClipMaker::kDefaultSize, error), qPrintable(error));
        QVERIFY(writeOwnerOnly(path("group.keys"), "1 " + QByteArray(32, '\x5a').toHex() + '\n'));
        const QString common = QStringLiteral("port = %1\nkey-file = %2\nheadless = true\n").arg(pickFreePort()).arg(path("group.keys"));
        QVERIFY(writeOwnerOnly(path("master.conf"),
                               QStringLiteral("# written before any slave ran: their IPs, not their process ids\nrole = master\nip = %1\n%2"
                                              "slaves = %3, %4\nmedia = %5\nloop = true\nframe-log = %6\n")
                                   .arg(kLoopbackMasterIp, common, loopbackSlaveIp(0), loopbackSlaveIp(1), path("clip.avi"), path("master.frames"))
                                   .toUtf8()));
        for (int slave = 1; slave <= 2; ++slave) {
            QVERIFY(writeOwnerOnly(path(QStringLiteral("slave%1.conf").arg(slave)),
                                   QStringLiteral("role = slave\nip = %1\n%2master = %3\nclock-offset-us = %4\nframe-log = %5\n")
                                       .arg(loopbackSlaveIp(slave - 1), common, kLoopbackMasterIp)
                                       .arg(injectedOffsetUs(slave - 1))
                                       .arg(path(QStringLiteral("slave%1.frames").arg(slave)))
                                       .toUtf8()));
        }
    }

    void restartedSlaveIsBackInTheShow()
    {
        const auto master = startFromFile("master");
        const auto first = startFromFile("slave1");
        auto second = startFromFile("slave2");
        QVERIFY(master && first && second);
        // Both slaves are in before the programme starts: found, not joined later.
        QVERIFY2(stepMet(*master, "find", "slaves=2/2", kReplyMs), qPrintable(master->recentOutput()));
        QVERIFY2(awaitLine(*master, [](const EventLine& e) { return isStep(e, "start") && e.integer("met") == 1; }, kReplyMs),
                 qPrintable(master->recentOutput()));
        runEventLoopFor(kPlayMs);

        ::kill(pid_t(second->pid()), SIGKILL);
        const qint64 killedNs = FrameLog::monotonicNs();
        QVERIFY(runEventLoopUntil([&] { return !second->running(); }, kReplyMs));
        const std::size_t sinceKill = master->events().size();
        second = startFromFile("slave2");
        QVERIFY(second);
        const QString key = second->readyLine().value("key");
        QVERIFY2(stepMet(*master, "join", key, std::max(0, kBackWithinMs - int((FrameLog::monotonicNs() - killedNs) / 1000000)), sinceKill),
                 qPrintable(QStringLiteral("%1 was not brought in within %2 ms of the kill:\n%3").arg(key).arg(kBackWithinMs).arg(master->recentOutput())));
        runEventLoopFor(kPlayMs);
        QVERIFY2(stop(*master), qPrintable(master->recentOutput()));
        QVERIFY(stop(*first) && stop(*second));

        QString error;
        const std::vector<ShownFrame> reference = FrameLog::read(path("master.frames"), error);
        const std::vector<ShownFrame> stayed = FrameLog::read(path("slave1.frames"), error);
        const std::vector<ShownFrame> restarted = FrameLog::read(path("slave2.frames"), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Back in the show: from some frame on, every frame it shows over a second is in step with the master's.
        const std::optional<qint64> inStepNs = SkewStats::inStepFrom(reference, restarted, kInStepUs);
        QVERIFY2(inStepNs, "the restarted slave never came into step with the master");
        const qint64 backAfterMs = (*inStepNs - killedNs) / 1000000;
        qInfo("the restarted slave was in step %lld ms after the kill", static_cast<long long>(backAfterMs));
        QVERIFY2(backAfterMs <= kBackWithinMs, qPrintable(QStringLiteral("%1 ms after the kill").arg(backAfterMs)));
        for (const auto& [what, frames] : {std::pair("the restarted slave since then", renderedBetween(restarted, *inStepNs)),
                                           std::pair("the other slave since the kill", renderedBetween(stayed, killedNs))}) {
            const SkewFigures skew = SkewStats::compare(reference, frames);
            const QString figures = QStringLiteral("%1: %2 frames matched, skew p99 %3 us").arg(what).arg(skew.matched).arg(skew.p99Us);
            qInfo("%s", qPrintable(figures));
            QVERIFY2(skew.matched >= kPlayMs * kClipFps / 1000 / 2 && skew.p99Us <= kInStepUs, qPrintable(figures));
        }
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_PlayerVenue>(argc, argv);
}
#include "tst_playervenue.moc"
