// SPDX-License-Identifier: MIT
// A screen's trim, through multinet-player's own processes on loopback: a master and two slaves loop a
// clip, one slave trimmed by 20 ms from its start (--trim-ms). Its frame log must show every frame moved by
// the trim against the master's (the median skew within 100 us of it), the other slave's not moved; then
// the master trims that slave live to -30 ms ("trim IP_PID MS" on its standard input, MasterPlayer::setTrim)
// and its frames from then on are moved by the new trim. Beside it, the slave's health reaches the master
// ("health" on its standard input).
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "HostProcess.h"
#include "LoopbackPlan.h"
#include "PlayerTestSupport.h"
#include "SkewStats.h"

#include <QTemporaryDir>

namespace {

constexpr int kReplyMs = 20000;
constexpr qint64 kTrimUs = 20000;
constexpr qint64 kLiveTrimUs = -30000;
// How far the median skew may lie from what the trim makes it.
constexpr qint64 kWithinUs = 100;
// Frames this close to the live change are left out: one frame may wait for its old time, and frames
// moved earlier come at once.
constexpr qint64 kAroundChangeNs = 300000000;

} // namespace

class tst_PlayerTrim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    std::unique_ptr<HostProcess> startSlave(int slave, quint16 port, const QStringList& more = {})
    {
        return startPlayer(QStringLiteral(MULTINET_PLAYER), QStringLiteral("slave %1").arg(slave + 1),
                           QStringList{"slave", "--ip", loopbackSlaveIp(slave), "--port", QString::number(port), "--master",
                                       kLoopbackMasterIp, "--headless", "--clock-offset-us", QString::number(injectedOffsetUs(slave)),
                                       "--frame-log", m_dir.filePath(QStringLiteral("slave%1.frames").arg(slave + 1)), "--label",
                                       QStringLiteral("screen %1").arg(slave + 1)} +
                               more);
    }

private Q_SLOTS:
    void trimmedScreenShowsItsFramesMoved()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath("clip.avi"), 3.0, 30, ClipMaker::kDefaultSize, error), qPrintable(error));
        const quint16 port = pickFreePort();
        const auto plain = startSlave(0, port);
        const auto trimmed = startSlave(1, port, {"--trim-ms", QString::number(kTrimUs / 1000)});
        QVERIFY(plain && trimmed);
        QCOMPARE(trimmed->readyLine().integer("trim-ms"), kTrimUs / 1000);
        const QString trimmedKey = trimmed->readyLine().value("key");
        const QString masterLog = m_dir.filePath("master.frames");
        const auto master = startPlayer(QStringLiteral(MULTINET_PLAYER), "master", {"master", "--ip", kLoopbackMasterIp, "--port", QString::number(port), "--headless",
                                                   "--slaves", plain->readyLine().value("key") + ',' + trimmedKey, "--media",
                                                   m_dir.filePath("clip.avi"), "--loop", "--for", "9", "--frame-log", masterLog});
        QVERIFY(master);
        const EventLine* start = awaitLine(*master, [](const EventLine& e) { return isStep(e, "start"); }, kReplyMs);
        QVERIFY2(start && start->integer("met") == 1, qPrintable(master->recentOutput()));

        // The health of both slaves reaches the master about once a second.
        runEventLoopFor(3500);
        std::size_t from = master->events().size();
        master->send("health");
        for (const auto* slave : {plain.get(), trimmed.get()}) {
            const QString key = slave->readyLine().value("key");
            const EventLine* health = awaitLine(*master, [&](const EventLine& e) { return e.event() == "health" && e.value("key") == key; }, kReplyMs, from);
            QVERIFY2(health, qPrintable(master->recentOutput()));
            QVERIFY2(health->integer("known") == 1 && health->integer("shown") > 30 && health->has("late-p99-us") &&
                         health->value("text").startsWith("screen_"),
                     qPrintable(health->text()));
        }

        // A live trim for the second slave only; the other receives it too (it is broadcast) and leaves it.
        from = trimmed->events().size();
        const std::size_t plainFrom = plain->events().size();
        master->send(QStringLiteral("trim %1 %2").arg(trimmedKey).arg(kLiveTrimUs / 1000));
        const EventLine* change = awaitLine(*trimmed, [](const EventLine& e) { return e.event() == "applied" && e.value("command") == "trim"; }, kReplyMs, from);
        QVERIFY2(change, qPrintable(trimmed->recentOutput()));
        QVERIFY2(change->integer("ok") == 1 && change->integer("trim-us") == kLiveTrimUs && change->integer("was-us") == kTrimUs,
                 qPrintable(change->text()));
        const qint64 changedNs = change->integer("mono-us") * 1000;
        const EventLine* finished = awaitLine(*master, [](const EventLine& e) { return e.event() == "finished"; }, kReplyMs);
        QVERIFY2(finished && finished->integer("ok") == 1, qPrintable(master->recentOutput()));
        QVERIFY(master->finish(kReplyMs) && plain->finish(kReplyMs) && trimmed->finish(kReplyMs));
        for (std::size_t i = plainFrom; i < plain->events().size(); ++i) {
            const EventLine& e = plain->events()[i];
            QVERIFY2(e.event() == "received" || e.value("command") != "trim", qPrintable(e.text()));
        }

        const std::vector<ShownFrame> reference = FrameLog::read(masterLog, error);
        const std::vector<ShownFrame> plainFrames = FrameLog::read(m_dir.filePath("slave1.frames"), error);
        const std::vector<ShownFrame> trimmedFrames = FrameLog::read(m_dir.filePath("slave2.frames"), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const struct
        {
            const char* what;
            std::vector<ShownFrame> frames;
            qint64 expectedUs;
        } checks[] = {
            {"the untrimmed slave", plainFrames, 0},
            {"the trimmed slave before the live change", renderedBetween(trimmedFrames, 0, changedNs - kAroundChangeNs), kTrimUs},
            {"the trimmed slave after the live change", renderedBetween(trimmedFrames, changedNs + kAroundChangeNs), kLiveTrimUs},
        };
        for (const auto& check : checks) {
            const SkewFigures skew = SkewStats::compare(reference, check.frames);
            const QString figures = QStringLiteral("%1: %2 frames matched, median skew %3 us, expected %4 us")
                                        .arg(check.what)
                                        .arg(skew.matched)
                                        .arg(skew.signedMedianUs)
                                        .arg(check.expectedUs);
            qInfo("%s", qPrintable(figures));
            QVERIFY2(skew.matched > 30 && std::llabs(skew.signedMedianUs - check.expectedUs) <= kWithinUs, qPrintable(figures));
        }
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_PlayerTrim>(argc, argv);
}
#include "tst_playertrim.moc"
