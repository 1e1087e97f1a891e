// SPDX-License-Identifier: MIT
// Clock synchronisation and heartbeats: the sample arithmetic, and the exchange between real objects (the
// offset found over loopback is checked with the health it reports to the master).
#include "EventLoopWait.h"
#include "common/LoopbackGroup.h"
#include "common/LogCapture.h"
#include "wire/MessageCode.h"
#include "slave/ClockSampleMath.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cmath>

using namespace tamo::detail;

Q_DECLARE_METATYPE(ClockSyncStamps)

class tst_ClockSync : public QObject
{
    Q_OBJECT
private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }

    void measurement_data();
    void measurement();
    void windowSlidesOverTenSamples();
    void destroyingSleepingSlaveIsPrompt();
    void healthReachesTheMaster_data();
    void healthReachesTheMaster();
};

void tst_ClockSync::measurement_data()
{
    QTest::addColumn<ClockSyncStamps>("stamps");
    QTest::addColumn<qint64>("delay");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("verdict");
    const int ok = int(DelayVerdict::Accepted), slow = int(DelayVerdict::Slow), tooSlow = int(DelayVerdict::TooSlow);
    const auto returnAfter = [](qint64 us) { return ClockSyncStamps{{0, 0, 0, us}}; };
    QTest::newRow("worked example") << ClockSyncStamps{{1000, 1100, 900, 1400}} << 200LL << 100LL << ok;
    QTest::newRow("delay 799") << returnAfter(1598) << 799LL << 799LL << ok;
    QTest::newRow("delay 800") << returnAfter(1600) << 800LL << 800LL << slow;
    QTest::newRow("delay 2999") << returnAfter(5998) << 2999LL << 2999LL << slow;
    QTest::newRow("delay 3000") << returnAfter(6000) << 3000LL << 3000LL << tooSlow;
    QTest::newRow("odd sums truncate toward zero") << ClockSyncStamps{{0, 3, 0, 0}} << -1LL << -1LL << ok;
    // Stamps off the wire may be anything: the sums wrap instead of overflowing.
    QTest::newRow("extreme stamps") << ClockSyncStamps{{LLONG_MAX, LLONG_MIN, 0, LLONG_MAX}} << 4611686018427387903LL
                                    << -4611686018427387904LL << tooSlow;
}

void tst_ClockSync::measurement()
{
    QFETCH(ClockSyncStamps, stamps);
    QFETCH(qint64, delay);
    QFETCH(qint64, offset);
    QFETCH(int, verdict);
    const ClockMeasurement m = measureClock(stamps);
    QCOMPARE(qint64(m.delayUs), delay);
    QCOMPARE(qint64(m.offsetUs), offset);
    QCOMPARE(int(judgeDelay(m.delayUs)), verdict);
}

void tst_ClockSync::windowSlidesOverTenSamples()
{
    std::vector<double> samples;
    int next = 0;
    double sum = 0;
    for (int i = 1; i <= 10; ++i)
        QCOMPARE(addOffsetSample(i, samples, next, sum), (i + 1) / 2.0);
    QCOMPARE(addOffsetSample(100, samples, next, sum), (100.0 + 54.0) / 10);  // 2 + ... + 10 = 54
    QCOMPARE(addOffsetSample(200, samples, next, sum), (100.0 + 200.0 + 52.0) / 10);
    QCOMPARE(samples[1], 200.0);
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
    LogCapture out;
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

    // The mean of ten that the slave's host gets lands as close: loopback turns a request round in well
    // under a millisecond. The slave reports its clock ready once, and again after a stop command.
    QVERIFY(runEventLoopUntil([&] { return slave.host->clockOffsets().size() >= 10 && master.isAllSlaveClockSucced(); }));
    const double mean = slave.host->clockOffsets().back();
    QVERIFY2(std::abs(mean * 1e6 - kInjectedUs) < 500, qPrintable(QString::number(mean)));
    const auto clockReady = [&] { return int(out.text().count("SLAVE send message: enS2MNotifyMasterClockPrepared")); };
    QCOMPARE(clockReady(), 1);
    QVERIFY(master.notifySlaveStop(0, 0, nullptr, 0));
    QVERIFY(runEventLoopUntil([&] { return clockReady() == 2; }));
}

#include "tst_clocksync.moc"
