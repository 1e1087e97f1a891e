// SPDX-License-Identifier: MIT
// Clock synchronisation and heartbeats: the sample arithmetic, and the exchange between real objects.
#include "EventLoopWait.h"
#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "common/LogCapture.h"
#include "common/RecordingHost.h"
#include "wire/MessageCode.h"
#include "slave/ClockSampleMath.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cmath>

using namespace tamo::detail;

class tst_ClockSync : public QObject
{
    Q_OBJECT
private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }

    void measurement_data();
    void measurement();
    void windowSlidesOverTenSamples();
    void offsetFoundOverLoopback();
    void driftingSlaveClockFollowedByTheEstimate();
    void masterLostOnceAfterItsSilence_data();
    void masterLostOnceAfterItsSilence();
    void slaveOnMasterPcRunsNoSyncThread();
    void destroyingSleepingSlaveIsPrompt();
    void healthReachesTheMaster_data();
    void healthReachesTheMaster();
};

void tst_ClockSync::measurement_data()
{
    QTest::addColumn<qint64>("s0");
    QTest::addColumn<qint64>("s1");
    QTest::addColumn<qint64>("s2");
    QTest::addColumn<qint64>("s3");
    QTest::addColumn<qint64>("delay");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("verdict");
    const int ok = int(DelayVerdict::Accepted), slow = int(DelayVerdict::Slow), tooSlow = int(DelayVerdict::TooSlow);
    QTest::newRow("worked example") << 1000LL << 1100LL << 900LL << 1400LL << 200LL << 100LL << ok;
    QTest::newRow("delay 799") << 0LL << 0LL << 0LL << 1598LL << 799LL << 799LL << ok;
    QTest::newRow("delay 800") << 0LL << 0LL << 0LL << 1600LL << 800LL << 800LL << slow;
    QTest::newRow("delay 2999") << 0LL << 0LL << 0LL << 5998LL << 2999LL << 2999LL << slow;
    QTest::newRow("delay 3000") << 0LL << 0LL << 0LL << 6000LL << 3000LL << 3000LL << tooSlow;
    QTest::newRow("delay -5") << 0LL << 10LL << 0LL << 0LL << -5LL << -5LL << ok;
    QTest::newRow("odd sums truncate toward zero") << 0LL << 3LL << 0LL << 0LL << -1LL << -1LL << ok;
    // Stamps off the wire may be anything: the sums wrap instead of overflowing.
    QTest::newRow("extreme stamps") << LLONG_MAX << LLONG_MIN << 0LL << LLONG_MAX << 4611686018427387903LL
                                      << -4611686018427387904LL << tooSlow;
}

void tst_ClockSync::measurement()
{
    QFETCH(qint64, s0);
    QFETCH(qint64, s1);
    QFETCH(qint64, s2);
    QFETCH(qint64, s3);
    QFETCH(qint64, delay);
    QFETCH(qint64, offset);
    QFETCH(int, verdict);
    const ClockMeasurement m = measureClock(ClockSyncStamps{{s0, s1, s2, s3}});
    QCOMPARE(qint64(m.delayUs), delay);
    QCOMPARE(qint64(m.offsetUs), offset);
    QCOMPARE(int(judgeDelay(m.delayUs)), verdict);
}

void tst_ClockSync::windowSlidesOverTenSamples()
{
    std::vector<double> samples;
    int next = 0;
    double sum = 0;
    QCOMPARE(addOffsetSample(0.0001, samples, next, sum), 0.0001);
    for (int i = 2; i <= 10; ++i)
        addOffsetSample(i, samples, next, sum);
    QCOMPARE(samples.size(), std::size_t(10));
    QCOMPARE(next, 0);
    const double eleventh = addOffsetSample(100, samples, next, sum);
    QCOMPARE(samples.front(), 100.0);
    QCOMPARE(next, 1);
    QCOMPARE(eleventh, (100.0 + 54.0) / 10);  // 2 + ... + 10 = 54
    addOffsetSample(200, samples, next, sum);
    QCOMPARE(samples[1], 200.0);
    QCOMPARE(sum, 100.0 + 200.0 + 52.0);
}

void tst_ClockSync::offsetFoundOverLoopback()
{
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2", {0, 1});
    constexpr qint64 kInjectedUs = 25000;
    slave.host->setClockOffsetUs(kInjectedUs);
    QVERIFY(group.discover());

    LogCapture out;
    MultiNetControl& master = *group.master().control;
    QVERIFY(master.notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return slave.host->clockOffsets().size() >= 12; }, 10000));
    QVERIFY(runEventLoopUntil([&] { return master.isAllSlaveClockSucced(); }));

    // Loopback turns a request round in well under a millisecond; the mean must land that close.
    const double reported = slave.host->clockOffsets().back();
    QVERIFY2(std::abs(reported - kInjectedUs / 1e6) < 0.0005, qPrintable(QString::number(reported)));
    QCOMPARE(out.text().count("SLAVE send message: enS2MNotifyMasterClockPrepared"), 1);

    // A stop command re-arms the clock-prepared report.
    QVERIFY(master.notifySlaveStop(0, 0, nullptr, 0));
    QVERIFY(runEventLoopUntil([&] { return out.text().count("SLAVE send message: enS2MNotifyMasterClockPrepared") == 2; }));
}

void tst_ClockSync::driftingSlaveClockFollowedByTheEstimate()
{
    // Ten times a fast PC's drift, so that a few seconds of samples 100 ms apart show it plainly.
    constexpr double kDriftPpm = 1000;
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2", {0}, kDriftPpm);
    QVERIFY(group.discover());
    QVERIFY(!slave.control->getClockEstimate().valid);
    QVERIFY(group.master().control->notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return slave.control->getClockEstimate().spanUs >= 6000000; }, 15000));

    const NetControlNS::struClockEstimate estimate = slave.control->getClockEstimate();
    QVERIFY(estimate.rateKnown);
    QVERIFY2(std::abs(estimate.ratePpm - kDriftPpm) < 50, qPrintable(QString::number(estimate.ratePpm)));
    // The master's clock read through the estimate, against the master's own clock read at the same time.
    const qint64 slaveNow = slave.host->now();
    const qint64 masterNow = group.master().host->now();
    const double error = estimate.masterTimeAt(slaveNow) - double(masterNow);
    QVERIFY2(std::abs(error) < 300, qPrintable(QString::number(error)));
}

void tst_ClockSync::masterLostOnceAfterItsSilence_data()
{
    QTest::addColumn<bool>("recovery");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("lostAtFirstCheck");
    // Classically a master that has not answered yet has been silent since the host clock's zero; under
    // recovery (its first answer was lost, say) since the first heartbeat.
    QTest::newRow("classic, no answer yet: silent since the clock's zero") << false << false << true;
    QTest::newRow("recovery, no answer yet: silent since the first heartbeat") << true << false << false;
    QTest::newRow("an answer, then a minute of silence") << false << true << false;
}

void tst_ClockSync::masterLostOnceAfterItsSilence()
{
    QFETCH(bool, recovery);
    QFETCH(bool, answered);
    QFETCH(bool, lostAtFirstCheck);
    constexpr int kGroup = 21;
    RecordingHost host;
    host.setClockOffsetUs(100LL * 1000 * 1000);  // a host clock far past the 50 s from its zero
    MultiNetControl slave(host.callbacks(), kGroup, "127.0.0.2", pickFreePort());
    slave.setSlaveFlag(true);
    slave.setRecovery(recovery);
    slave.setMasterIp("127.0.0.1");
    RawPeer master(QStringLiteral("127.0.0.1"));
    QVERIFY2(master.isBound(), qPrintable(master.errorString()));
    master.send(buildDatagram(enM2SStartClockSyncCmd, -1, kGroup), QStringLiteral("127.0.0.2"), slave.unicastPort());
    QVERIFY(master.waitForCode(enS2MHeartbeatCmd));
    if (answered)
        master.send(buildDatagram(enM2SHeartbeatReplyCmd, -1, kGroup), QStringLiteral("127.0.0.2"), slave.unicastPort());
    runEventLoopFor(2300);  // past the first check
    QCOMPARE(host.masterLostCount(), lostAtFirstCheck ? 1 : 0);
    if (lostAtFirstCheck) {
        runEventLoopFor(2100);  // the next check does not report it again
    } else {
        host.setClockOffsetUs(160 * 1000000LL);  // a minute of silence on the slave's clock
        QVERIFY(runEventLoopUntil([&] { return host.masterLostCount() > 0; }, 5000));
    }
    QCOMPARE(host.masterLostCount(), 1);
}

void tst_ClockSync::slaveOnMasterPcRunsNoSyncThread()
{
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.1");
    QVERIFY(group.discover());
    LogCapture out;
    QVERIFY(group.master().control->notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return out.text().contains("slave and master player in same PC, not need start clock sync!\n"); }));
    // Heartbeats and no clock requests: a stop ends the heartbeats alone.
    QVERIFY(runEventLoopUntil([&] { return group.master().control->getSlavesPlayer().front().lastOnlineTime > 0; }, 5000));
    QVERIFY(group.master().control->notifySlaveStopClockSync());
    QVERIFY(runEventLoopUntil([&] { return out.text().contains("MultiNetControl::heartSyncThread exit!"); }));
    runEventLoopFor(100);
    QVERIFY(!out.text().contains("MultiNetControl::syncThread exit!"));
    QVERIFY(slave.host->clockOffsets().empty());
    QVERIFY(!group.master().control->isAllSlaveClockSucced());
}

void tst_ClockSync::destroyingSleepingSlaveIsPrompt()
{
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    QVERIFY(group.discover());
    QVERIFY(group.master().control->notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return !slave.host->clockOffsets().empty(); }));
    QVERIFY(group.master().control->notifySlaveStart(0, 0, 0, nullptr, 0));  // 3000 ms between requests
    QVERIFY(runEventLoopUntil([&] { return slave.host->callCount() == 1; }));
    runEventLoopFor(200);  // both threads are now asleep

    QElapsedTimer timer;
    timer.start();
    slave.control.reset();
    // The threads sleep up to 2 and 3 s; the destructor wakes them instead of waiting.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(tst_ClockSync)
void tst_ClockSync::healthReachesTheMaster_data()
{
    QTest::addColumn<bool>("atMaster");
    QTest::addColumn<bool>("atSlave");
    QTest::newRow("both") << true << true;
    QTest::newRow("an older master") << false << true;
    QTest::newRow("an older slave") << true << false;
}

// A slave's health, once a second: its clock estimate, the last command, what its host handed in. An end
// without the option ignores the other; the master then shows the slave's health as unknown.
void tst_ClockSync::healthReachesTheMaster()
{
    QFETCH(bool, atMaster);
    QFETCH(bool, atSlave);
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    constexpr qint64 kInjectedUs = 4000;
    slave.host->setClockOffsetUs(kInjectedUs);
    MultiNetControl& master = *group.master().control;
    master.setOptions(atMaster ? unsigned(NetControlNS::HealthReports) : 0u);
    slave.control->setOptions(atSlave ? unsigned(NetControlNS::HealthReports) : 0u);
    std::atomic<int> changes{0};
    master.setSlaveEventHandler([&](NetControlNS::SlaveEvent event, const NetControlNS::struAddress&) {
        if (event == NetControlNS::SlaveEvent::HealthChanged)
            ++changes;
    });
    QVERIFY(group.discover());
    slave.control->setHealthText("left screen");
    slave.control->setPresentation({120, 900, 300, 2});
    QVERIFY(master.notifySlaveStartClockSync());
    QVERIFY(master.notifySlavePause(0, 0, nullptr, 0));
    const auto health = [&] { return master.getSlavesHealth().front(); };
    if (!(atMaster && atSlave)) {
        QTest::qWait(2500);
        QVERIFY(!health().known);
        QCOMPARE(changes.load(), 0);
        return;
    }
    QVERIFY(runEventLoopUntil([&] { return health().known && health().clockValid; }, 5000));
    const NetControlNS::struSlaveHealth h = health();
    QVERIFY2(std::abs(h.offsetUs - kInjectedUs) < 500, qPrintable(QString::number(h.offsetUs)));
    QCOMPARE(h.lastCommandCode, int(enM2SPauseCmd));
    QCOMPARE(h.text, std::string("left screen"));
    QVERIFY(h.presentationKnown);
    QCOMPARE(h.presentation.lateP99Us, qint64(900));
    QCOMPARE(h.presentation.framesDropped, 2u);
    QVERIFY(changes.load() >= 1);
}

#include "tst_clocksync.moc"
