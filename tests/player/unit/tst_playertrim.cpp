// SPDX-License-Identifier: MIT
// A screen's trim, through multinet-player's own processes on loopback: a master and two slaves loop a
// clip, one slave trimmed by 20 ms from its start (--trim-ms). Its frame log must show every frame moved by
// the trim against the master's (the median skew within 100 us of it), the other slave's not moved; then
// the master trims that slave live to -30 ms ("trim IP_PID MS" on its standard input, MasterPlayer::setTrim)
// and its frames from then on are moved by the new trim. Beside it, the slave's health reaches the master
// ("health" on its standard input), and a slave refuses a trim earlier than the margin allows.
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "FrameLog.h"
#include "HostProcess.h"
#include "LoopbackPlan.h"
#include "SkewStats.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <gst/gst.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int kStartMs = 15000;
constexpr int kReplyMs = 20000;
constexpr qint64 kTrimUs = 20000;
constexpr qint64 kLiveTrimUs = -30000;
// How far the median skew may lie from what the trim makes it.
constexpr qint64 kWithinUs = 100;
// Frames this close to the live change are left out: one frame may wait for its old time, and frames
// moved earlier come at once.
constexpr qint64 kAroundChangeNs = 300000000;
constexpr double kPlaySeconds = 9;
const QString kPlayer = QStringLiteral(MULTINET_PLAYER);

std::vector<ShownFrame> between(const std::vector<ShownFrame>& frames, qint64 fromNs, qint64 toNs)
{
    std::vector<ShownFrame> kept;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(kept),
                 [&](const ShownFrame& frame) { return frame.monoNs >= fromNs && frame.monoNs < toNs; });
    return kept;
}

} // namespace

class tst_PlayerTrim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QStringList slaveArguments(int slave, quint16 port) const
    {
        return {QStringLiteral("slave"), QStringLiteral("--ip"), loopbackSlaveIp(slave), QStringLiteral("--port"), QString::number(port),
                QStringLiteral("--master"), QLatin1String(kLoopbackMasterIp), QStringLiteral("--headless"),
                QStringLiteral("--clock-offset-us"), QString::number(injectedOffsetUs(slave)), QStringLiteral("--frame-log"),
                m_dir.filePath(QStringLiteral("slave%1.frames").arg(slave + 1)), QStringLiteral("--label"),
                QStringLiteral("screen %1").arg(slave + 1)};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath(QStringLiteral("clip.avi")), 3.0, 30, ClipMaker::kDefaultSize, error),
                 qPrintable(error));
    }

    void trimmedScreenShowsItsFramesMoved()
    {
        const quint16 port = pickFreePort();
        HostProcess plain(QStringLiteral("slave 1"), slaveArguments(0, port), false, kPlayer);
        HostProcess trimmed(QStringLiteral("slave 2"),
                            slaveArguments(1, port) << QStringLiteral("--trim-ms") << QString::number(kTrimUs / 1000), false, kPlayer);
        QVERIFY2(plain.start(kStartMs), qPrintable(plain.startFailure()));
        QVERIFY2(trimmed.start(kStartMs), qPrintable(trimmed.startFailure()));
        QCOMPARE(trimmed.readyLine().integer(QStringLiteral("trim-ms")), kTrimUs / 1000);
        const QString trimmedKey = trimmed.readyLine().value(QStringLiteral("key"));
        const QString masterLog = m_dir.filePath(QStringLiteral("master.frames"));
        HostProcess master(QStringLiteral("master"),
                           {QStringLiteral("master"), QStringLiteral("--ip"), QLatin1String(kLoopbackMasterIp), QStringLiteral("--port"),
                            QString::number(port), QStringLiteral("--headless"), QStringLiteral("--slaves"),
                            plain.readyLine().value(QStringLiteral("key")) + QLatin1Char(',') + trimmedKey,
                            QStringLiteral("--media"), m_dir.filePath(QStringLiteral("clip.avi")), QStringLiteral("--loop"),
                            QStringLiteral("--for"), QString::number(kPlaySeconds), QStringLiteral("--frame-log"), masterLog},
                           false, kPlayer);
        QVERIFY2(master.start(kStartMs), qPrintable(master.startFailure()));
        auto isStart = [](const EventLine& e) {
            return e.event() == QLatin1String("session") && e.value(QStringLiteral("step")) == QLatin1String("start");
        };
        const int start = master.waitForEvent(isStart, kReplyMs * 2);
        QVERIFY2(start >= 0, qPrintable(master.recentOutput()));
        QCOMPARE(master.events()[std::size_t(start)].integer(QStringLiteral("met")), qint64(1));

        // The health of both slaves reaches the master about once a second.
        runEventLoopFor(3500);
        std::size_t from = master.events().size();
        master.send(QStringLiteral("health"));
        for (const HostProcess* slave : {&plain, &trimmed}) {
            const QString key = slave->readyLine().value(QStringLiteral("key"));
            const int health = master.waitForEvent(
                [&](const EventLine& e) { return e.event() == QLatin1String("health") && e.value(QStringLiteral("key")) == key; },
                kReplyMs, from);
            QVERIFY2(health >= 0, qPrintable(master.recentOutput()));
            const EventLine& line = master.events()[std::size_t(health)];
            qInfo("%s", qPrintable(line.text()));
            QVERIFY2(line.integer(QStringLiteral("known")) == 1 && line.integer(QStringLiteral("shown")) > 30, qPrintable(line.text()));
            QVERIFY2(line.has(QStringLiteral("late-p99-us")) && line.value(QStringLiteral("text")).startsWith(QLatin1String("screen_")),
                     qPrintable(line.text()));
        }

        // A live trim for the second slave only.
        from = trimmed.events().size();
        const std::size_t plainFrom = plain.events().size();
        master.send(QStringLiteral("trim %1 %2").arg(trimmedKey).arg(kLiveTrimUs / 1000));
        const int applied = trimmed.waitForEvent(
            [](const EventLine& e) { return e.event() == QLatin1String("applied") && e.value(QStringLiteral("command")) == QLatin1String("trim"); },
            kReplyMs, from);
        QVERIFY2(applied >= 0, qPrintable(trimmed.recentOutput()));
        const EventLine& change = trimmed.events()[std::size_t(applied)];
        QVERIFY2(change.integer(QStringLiteral("ok")) == 1 && change.integer(QStringLiteral("trim-us")) == kLiveTrimUs &&
                     change.integer(QStringLiteral("was-us")) == kTrimUs,
                 qPrintable(change.text()));
        const qint64 changedNs = change.integer(QStringLiteral("mono-us")) * 1000;

        const int finished = master.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("finished"); }, kReplyMs * 2);
        QVERIFY2(finished >= 0 && master.events()[std::size_t(finished)].integer(QStringLiteral("ok")) == 1, qPrintable(master.recentOutput()));
        QVERIFY(master.finish(kReplyMs));
        QVERIFY(plain.finish(kReplyMs));
        QVERIFY(trimmed.finish(kReplyMs));
        // The other slave received the trim, which is broadcast, and left it.
        for (std::size_t i = plainFrom; i < plain.events().size(); ++i) {
            const EventLine& e = plain.events()[i];
            QVERIFY2(e.event() == QLatin1String("received") || e.value(QStringLiteral("command")) != QLatin1String("trim"), qPrintable(e.text()));
        }

        QString error;
        const std::vector<ShownFrame> reference = FrameLog::read(masterLog, error);
        const std::vector<ShownFrame> plainFrames = FrameLog::read(m_dir.filePath(QStringLiteral("slave1.frames")), error);
        const std::vector<ShownFrame> trimmedFrames = FrameLog::read(m_dir.filePath(QStringLiteral("slave2.frames")), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const qint64 end = std::numeric_limits<qint64>::max();
        const struct
        {
            const char* what;
            const std::vector<ShownFrame>& frames;
            qint64 fromNs, toNs;
            qint64 expectedUs;
        } checks[] = {
            {"the untrimmed slave", plainFrames, 0, end, 0},
            {"the trimmed slave before the live change", trimmedFrames, 0, changedNs - kAroundChangeNs, kTrimUs},
            {"the trimmed slave after the live change", trimmedFrames, changedNs + kAroundChangeNs, end, kLiveTrimUs},
        };
        for (const auto& check : checks) {
            const SkewFigures skew = SkewStats::compare(reference, between(check.frames, check.fromNs, check.toNs));
            const QString figures = QStringLiteral("%1: %2 frames matched, median skew %3 us, expected %4 us")
                                        .arg(QLatin1String(check.what))
                                        .arg(skew.matched)
                                        .arg(skew.signedMedianUs)
                                        .arg(check.expectedUs);
            qInfo("%s", qPrintable(figures));
            QVERIFY2(skew.matched > 30, qPrintable(figures));
            QVERIFY2(std::llabs(skew.signedMedianUs - check.expectedUs) <= kWithinUs, qPrintable(figures));
        }
    }

    void trimEarlierThanTheMarginAllowsIsRefused()
    {
        QProcess slave;
        slave.start(kPlayer, slaveArguments(0, pickFreePort()) << QStringLiteral("--trim-ms") << QStringLiteral("-151"));
        QVERIFY(slave.waitForFinished(kStartMs));
        QCOMPARE(slave.exitCode(), 2);
        const QString said = QString::fromUtf8(slave.readAllStandardError());
        QVERIFY2(said.contains(QLatin1String("--trim-ms -151")) && said.contains(QLatin1String("at most 150 ms early")), qPrintable(said));
        // With the master's margin wider, it is taken.
        HostProcess wider(QStringLiteral("slave"),
                          slaveArguments(0, pickFreePort()) << QStringLiteral("--trim-ms") << QStringLiteral("-151")
                                                             << QStringLiteral("--margin-ms") << QStringLiteral("300"),
                          false, kPlayer);
        QVERIFY2(wider.start(kStartMs), qPrintable(wider.startFailure()));
        QCOMPARE(wider.readyLine().integer(QStringLiteral("trim-ms")), qint64(-151));
        QVERIFY(wider.finish(kReplyMs));
    }
};

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);  // the clip is made here
    QCoreApplication app(argc, argv);
    tst_PlayerTrim test;
    const int status = QTest::qExec(&test, argc, argv);
    gst_deinit();
    return status;
}
#include "tst_playertrim.moc"
