// SPDX-License-Identifier: MIT
// multinet-player's own processes on loopback, one ctest a case:
// - tst_playertrim: a master and two slaves loop a clip, one slave trimmed by 20 ms from its start
//   (--trim-ms); its frame log must show every frame moved by the trim against the master's (the median
//   skew within 100 us of it), the other slave's not moved; then the master trims that slave live to
//   -30 ms ("trim IP_PID MS" on its standard input) and its frames from then on are moved by the new trim.
// - tst_playervenue: a show set up by configuration files, as multinet-player@.service runs it: each player
//   `multinet-player --config FILE` with its standard input at /dev/null, the master's slaves written as
//   plain IPs before any slave ran, the group keyed. A slave killed with SIGKILL and started again from its
//   file is back in step within 10 s of the kill, nobody touching the master, and the other slave's frames
//   never left it.
// - tst_playerfailures: each command that cannot be carried out gets one line that says why, and the
//   slave goes on with the next (driven by a master of this test through the players' wire convention; a
//   master's session that a prepare fails ends: codecs.sh).
#include "ClipMaker.h"
#include "CommandData.h"
#include "EventLoopWait.h"
#include "HostClock.h"
#include "LoopbackPlan.h"
#include "PlayerTestSupport.h"
#include "SkewStats.h"
#include "SyncCommand.h"

#include <MultiNetControl.h>

#include <QTemporaryDir>
#include <QUrl>

#include <csignal>

namespace {

const QString kPlayer = QStringLiteral(MULTINET_PLAYER);
constexpr int kReplyMs = 30000;
constexpr int kClipFps = 30;
constexpr qint64 kClipUs = 2000000;

constexpr qint64 kTrimUs = 20000;
constexpr qint64 kLiveTrimUs = -30000;
// How far the median skew may lie from what the trim makes it.
constexpr qint64 kTrimWithinUs = 100;
// Frames this close to the live change are left out: one frame may wait for its old time, and frames
// moved earlier come at once.
constexpr qint64 kAroundChangeNs = 300000000;

constexpr int kBackWithinMs = 10000;
constexpr int kPlayMs = 2500;
// The skew of a slave's frames that counts as in step in a venue: loose enough for a busy 2-core machine
// (the skew itself is player_session's to measure), far below a frame of the clip (33 ms).
constexpr qint64 kInStepUs = 5000;

constexpr int kLayer = 0;
constexpr qint64 kLeadUs = 150000;

// The skew of `frames` against `reference`, told in a line that starts with `what`.
SkewFigures skewOf(const QString& what, const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& frames, QString& told)
{
    const SkewFigures skew = SkewStats::compare(reference, frames);
    told = QStringLiteral("%1: %2 frames matched, median skew %3 us, p99 %4 us").arg(what).arg(skew.matched).arg(skew.signedMedianUs).arg(skew.p99Us);
    qInfo("%s", qPrintable(told));
    return skew;
}

} // namespace

class tst_PlayerProcesses : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    NetControlNS::slaveControlCbk m_masterCallbacks;
    std::unique_ptr<MultiNetControl> m_master;  // the failures' master
    std::unique_ptr<HostProcess> m_slave;       // and the slave it drives
    qint64 m_nextId = 1;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QStringList slaveArguments(int slave, quint16 port)
    {
        return {"slave", "--ip", loopbackSlaveIp(slave), "--port", QString::number(port), "--master", kLoopbackMasterIp, "--headless"};
    }

    // Slave `slave` of a trim's show, its clock offset injected, its frames logged.
    std::unique_ptr<HostProcess> startTrimSlave(int slave, quint16 port, const QStringList& more = {})
    {
        return startPlayer(kPlayer, QStringLiteral("slave %1").arg(slave + 1),
                           slaveArguments(slave, port) + QStringList{"--clock-offset-us", QString::number(injectedOffsetUs(slave)), "--frame-log",
                                                                     path(QStringLiteral("slave%1.frames").arg(slave + 1))} + more);
    }

    // The player of `name`.conf, started as the unit starts it: nothing on its standard input, ever.
    std::unique_ptr<HostProcess> startFromFile(const QString& name)
    {
        return startPlayer("/bin/sh", name, {"-c", "exec \"$0\" --config \"$1\" </dev/null", kPlayer, path(name + ".conf")});
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

    // Sends the failures' master's command that `line` names ("prepare FILE", "start US", "seek US", "pause US").
    void send(const QString& line)
    {
        const QStringList words = line.split(' ');
        SyncCommand command;
        command.kind = words[0] == "prepare" ? SyncCommand::Prepare
                       : words[0] == "start" ? SyncCommand::Start
                       : words[0] == "seek"  ? SyncCommand::Seek
                                             : SyncCommand::Pause;
        if (command.kind == SyncCommand::Prepare)
            command.programme = Programme({QUrl::fromLocalFile(path(words[1])).toString()}, false);
        else
            command.positionUs = words[1].toLongLong();
        command.playOn = false;
        command.atHostUs = double(HostClock::monotonicUs() + kLeadUs);
        command.run = 1;
        command.id = m_nextId++;
        command.send(*m_master);
    }

    bool startDrivenSlave()
    {
        const quint16 port = pickFreePort();
        m_slave = startPlayer(kPlayer, "slave", slaveArguments(0, port));
        if (!m_slave)
            return false;
        m_masterCallbacks.getClockTimeCbk = [] { return HostClock::monotonicUs(); };
        m_master = std::make_unique<MultiNetControl>(&m_masterCallbacks, 0, kLoopbackMasterIp, port);
        m_master->setMasterFlag(true);
        m_master->setSlaves({loopbackSlaveIp(0) + '_' + QString::number(m_slave->pid())});
        return m_master->findSlavePlayer() && runEventLoopUntil([this] { return m_master->getSlavesPlayer().size() == 1; }, kReplyMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(path("clip.avi"), kClipUs / 1e6, kClipFps, ClipMaker::kDefaultSize, error), qPrintable(error));
        QVERIFY(writeOwnerOnly(path("notes.avi"), "These are notes, not a film.\n"));
    }

    void cleanupTestCase()
    {
        m_master.reset();
        if (m_slave)
            QVERIFY2(m_slave->finish(kReplyMs), qPrintable(m_slave->recentOutput()));
    }

    void trimmedScreenShowsItsFramesMoved()
    {
        const quint16 port = pickFreePort();
        const auto plain = startTrimSlave(0, port);
        const auto trimmed = startTrimSlave(1, port, {"--trim-ms", QString::number(kTrimUs / 1000)});
        QVERIFY(plain && trimmed);
        const QString trimmedKey = trimmed->readyLine().value("key");
        const auto master = startPlayer(kPlayer, "master", {"master", "--ip", kLoopbackMasterIp, "--port", QString::number(port), "--headless",
                                                            "--slaves", plain->readyLine().value("key") + ',' + trimmedKey, "--media",
                                                            path("clip.avi"), "--loop", "--for", "9", "--frame-log", path("master.frames")});
        QVERIFY(master);
        const EventLine* start = awaitLine(*master, [](const EventLine& e) { return isStep(e, "start"); }, kReplyMs);
        QVERIFY2(start && start->integer("met") == 1, qPrintable(master->recentOutput()));

        // A live trim for the second slave only; the other receives it too (it is broadcast) and leaves it.
        runEventLoopFor(3500);
        const std::size_t from = trimmed->events().size();
        master->send(QStringLiteral("trim %1 %2").arg(trimmedKey).arg(kLiveTrimUs / 1000));
        const EventLine* change = awaitLine(*trimmed, [](const EventLine& e) { return e.event() == "applied" && e.value("command") == "trim"; }, kReplyMs, from);
        QVERIFY2(change, qPrintable(trimmed->recentOutput()));
        QVERIFY2(change->integer("ok") == 1 && change->integer("trim-us") == kLiveTrimUs && change->integer("was-us") == kTrimUs, qPrintable(change->text()));
        const qint64 changedNs = change->integer("mono-us") * 1000;
        const EventLine* finished = awaitLine(*master, [](const EventLine& e) { return e.event() == "finished"; }, kReplyMs);
        QVERIFY2(finished && finished->integer("ok") == 1, qPrintable(master->recentOutput()));
        QVERIFY(master->finish(kReplyMs) && plain->finish(kReplyMs) && trimmed->finish(kReplyMs));

        QString error;
        const std::vector<ShownFrame> reference = FrameLog::read(path("master.frames"), error);
        const std::vector<ShownFrame> trimmedFrames = FrameLog::read(path("slave2.frames"), error);
        const struct
        {
            const char* what;
            std::vector<ShownFrame> frames;
            qint64 expectedUs;
        } checks[] = {
            {"the untrimmed slave", FrameLog::read(path("slave1.frames"), error), 0},
            {"the trimmed slave before the live change", renderedBetween(trimmedFrames, 0, changedNs - kAroundChangeNs), kTrimUs},
            {"the trimmed slave after the live change", renderedBetween(trimmedFrames, changedNs + kAroundChangeNs), kLiveTrimUs},
        };
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (const auto& check : checks) {
            QString told;
            const SkewFigures skew = skewOf(QStringLiteral("%1 (expected %2 us)").arg(check.what).arg(check.expectedUs), reference, check.frames, told);
            QVERIFY2(skew.matched > 30 && std::llabs(skew.signedMedianUs - check.expectedUs) <= kTrimWithinUs, qPrintable(told));
        }
    }

    void restartedSlaveIsBackInTheShow()
    {
        QVERIFY(writeOwnerOnly(path("group.keys"), "1 " + QByteArray(32, '\x5a').toHex() + '\n'));
        const QString common = QStringLiteral("port = %1\nkey-file = %2\nheadless = true\n").arg(pickFreePort()).arg(path("group.keys"));
        QVERIFY(writeOwnerOnly(path("master.conf"),
                               QStringLiteral("# written before any slave ran: their IPs, not their process ids\nrole = master\nip = %1\n%2"
                                              "slaves = %3, %4\nmedia = %5\nloop = true\nframe-log = %6\n")
                                   .arg(kLoopbackMasterIp, common, loopbackSlaveIp(0), loopbackSlaveIp(1), path("clip.avi"), path("show-master.frames"))
                                   .toUtf8()));
        for (int slave = 1; slave <= 2; ++slave) {
            QVERIFY(writeOwnerOnly(path(QStringLiteral("slave%1.conf").arg(slave)),
                                   QStringLiteral("role = slave\nip = %1\n%2master = %3\nclock-offset-us = %4\nframe-log = %5\n")
                                       .arg(loopbackSlaveIp(slave - 1), common, kLoopbackMasterIp)
                                       .arg(injectedOffsetUs(slave - 1))
                                       .arg(path(QStringLiteral("show-slave%1.frames").arg(slave)))
                                       .toUtf8()));
        }
        const auto master = startFromFile("master");
        const auto first = startFromFile("slave1");
        auto second = startFromFile("slave2");
        QVERIFY(master && first && second);
        // Both slaves are in before the programme starts: found, not joined later.
        QVERIFY2(stepMet(*master, "find", "slaves=2/2", kReplyMs), qPrintable(master->recentOutput()));
        QVERIFY2(awaitLine(*master, [](const EventLine& e) { return isStep(e, "start") && e.integer("met") == 1; }, kReplyMs), qPrintable(master->recentOutput()));
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
        const std::vector<ShownFrame> reference = FrameLog::read(path("show-master.frames"), error);
        const std::vector<ShownFrame> stayed = FrameLog::read(path("show-slave1.frames"), error);
        const std::vector<ShownFrame> restarted = FrameLog::read(path("show-slave2.frames"), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Back in the show: from some frame on, every frame it shows over a second is in step with the master's.
        const std::optional<qint64> inStepNs = SkewStats::inStepFrom(reference, restarted, kInStepUs);
        QVERIFY2(inStepNs, "the restarted slave never came into step with the master");
        const qint64 backAfterMs = (*inStepNs - killedNs) / 1000000;
        qInfo("the restarted slave was in step %lld ms after the kill", static_cast<long long>(backAfterMs));
        QVERIFY2(backAfterMs <= kBackWithinMs, qPrintable(QStringLiteral("%1 ms after the kill").arg(backAfterMs)));
        for (const auto& [what, frames] : {std::pair("the restarted slave since then", renderedBetween(restarted, *inStepNs)),
                                           std::pair("the other slave since the kill", renderedBetween(stayed, killedNs))}) {
            QString told;
            const SkewFigures skew = skewOf(what, reference, frames, told);
            // A stall of the machine makes a frame late in the skew as in the player's own spacing.
            const qint64 noiseUs = std::max(SkewStats::wakeNoiseP99Us(reference), SkewStats::wakeNoiseP99Us(frames));
            told += QStringLiteral(", the machine's wake-up noise %1 us").arg(noiseUs);
            QVERIFY2(skew.matched >= kPlayMs * kClipFps / 1000 / 2 && skew.p99Us <= kInStepUs + noiseUs, qPrintable(told));
        }
    }

    // The rows run in order on one slave: each failure leaves it ready for the next row's command.
    void slaveGoesOnAfterEachFailure_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says");  // empty: carried out
        QTest::newRow("start before prepare") << "start 0" << "before_any_media_is_prepared";
        QTest::newRow("missing file") << "prepare missing.avi" << "Resource_not_found";
        QTest::newRow("undecodable file") << "prepare notes.avi" << "Could_not_determine_type";
        QTest::newRow("the clip") << "prepare clip.avi" << "";
        QTest::newRow("seek to the very end") << QStringLiteral("seek %1").arg(kClipUs) << "past_the_end";
        // A pause carries its position by a rule of its own.
        QTest::newRow("pause past the end") << QStringLiteral("pause %1").arg(kClipUs + 500000) << "past_the_end";
        QTest::newRow("pause on a frame") << "pause 500000" << "";
    }
    void slaveGoesOnAfterEachFailure()
    {
        QFETCH(QString, command);
        QFETCH(QString, says);
        if (!m_slave)
            QVERIFY2(startDrivenSlave(), "the slave was not found");
        QVERIFY2(m_slave->running(), qPrintable(m_slave->recentOutput()));
        const std::size_t from = m_slave->events().size();
        send(command);
        const QString event = command.startsWith("prepare") ? "prepared" : "applied";
        const EventLine* line = awaitLine(*m_slave, [&](const EventLine& e) { return e.event() == event; }, kReplyMs, from);
        QVERIFY2(line, qPrintable(QStringLiteral("no %1 line:\n%2").arg(event, m_slave->recentOutput())));
        QVERIFY2(line->text().contains(says) && line->integer("ok", -1) == int(says.isEmpty()), qPrintable(line->text()));
        // One line for the failure: no separate error line beside it.
        for (std::size_t i = from; i < m_slave->events().size(); ++i)
            QVERIFY2(&m_slave->events()[i] == line || m_slave->events()[i].event() != "error", qPrintable(m_slave->events()[i].text()));
        // Only a player that prerolled reports prepared to the master.
        if (command.startsWith("prepare"))
            QCOMPARE(runEventLoopUntil([this] { return m_master->isAllSlavePrepared(kLayer); }, says.isEmpty() ? kReplyMs : 0), says.isEmpty());
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_PlayerProcesses>(argc, argv);
}
#include "tst_playerprocesses.moc"
