// SPDX-License-Identifier: MIT
// Carrying a system-clock moment over to the host clock: steps of the system clock, a host clock that
// stands still, and a moment that is not known.
#include "endpoint/ClockCarry.h"

#include <QTest>

using namespace tamo::detail;

namespace {

constexpr qint64 kHostUs = 5000000;
constexpr std::int64_t kSystemNs = 1700000000000000000;

// A fake clock that advances by `stepNs` on every reading, starting at `startNs`.
struct SteppingClock
{
    std::int64_t nowNs;
    std::int64_t stepNs;
    int reads = 0;

    std::int64_t read()
    {
        ++reads;
        const std::int64_t value = nowNs;
        nowNs += stepNs;
        return value;
    }
};

} // namespace

class tst_ClockCarry : public QObject
{
    Q_OBJECT
private slots:
    void carriedMoment_data();
    void carriedMoment();
    void hostClockThatRuns_data();
    void hostClockThatRuns();
    void stillTestEndsOnAStoppedOrSteppedSystemClock_data();
    void stillTestEndsOnAStoppedOrSteppedSystemClock();
};

void tst_ClockCarry::carriedMoment_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<qint64>("distanceNs");  // moment = reading's system time - distance (Before) or + (After)
    QTest::addColumn<bool>("before");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("received 30.6 us ago: rounds to nearest") << true << 30600LL << true << kHostUs - 31;
    QTest::newRow("sent 12 us after the reading") << true << 12000LL << false << kHostUs + 12;
    QTest::newRow("one second is still carried") << true << qint64(kMaxCarryNs) << true << kHostUs - 1000000;
    // The system clock stepped between the kernel's stamp and the reading: never a wild value.
    QTest::newRow("just over one second") << true << qint64(kMaxCarryNs + 1) << true << kHostUs;
    QTest::newRow("stepped back: stamp in the future") << true << -500000LL << true << kHostUs;
    QTest::newRow("send clock ran backwards") << true << -1LL << false << kHostUs;
    QTest::newRow("no kernel stamp") << false << 0LL << true << kHostUs;
}

void tst_ClockCarry::carriedMoment()
{
    QFETCH(bool, known);
    QFETCH(qint64, distanceNs);
    QFETCH(bool, before);
    QFETCH(qint64, expected);
    const std::optional<std::int64_t> moment =
        known ? std::optional<std::int64_t>(before ? kSystemNs - distanceNs : kSystemNs + distanceNs) : std::nullopt;
    QCOMPARE(hostTimeAt(moment, before ? MomentIs::Before : MomentIs::After, ClockPair{kHostUs, kSystemNs, false}), expected);
}

void tst_ClockCarry::hostClockThatRuns_data()
{
    QTest::addColumn<qint64>("systemStepNs");
    QTest::addColumn<bool>("expectWait");
    // A microsecond host clock read twice within the same microsecond looks still until the span is long
    // enough to tell; one that has moved between the first two readings needs no wait.
    QTest::newRow("fast readings") << 100LL << true;
    QTest::newRow("slow readings") << 1500LL << false;
}

void tst_ClockCarry::hostClockThatRuns()
{
    QFETCH(qint64, systemStepNs);
    QFETCH(bool, expectWait);
    // The host clock is the fake system clock in microseconds plus an offset: it runs with it.
    SteppingClock system{kSystemNs, systemStepNs};
    const qint64 offsetUs = -kSystemNs / 1000 + 42;
    const ClockPair pair = readClockPair([&] { return system.read() / 1000 + offsetUs; },
                                         [&] { return system.read(); });
    QVERIFY(!pair.hostStandsStill);
    QCOMPARE(system.reads > 3, expectWait);
    // The pair is back to back: the host reading follows the system reading by one reading's time.
    QVERIFY(pair.hostUs - (pair.systemNs / 1000 + offsetUs) <= systemStepNs / 1000 + 1);
    QVERIFY(pair.hostUs >= pair.systemNs / 1000 + offsetUs);
    QCOMPARE(hostTimeAt(pair.systemNs - 25000, MomentIs::Before, pair), pair.hostUs - 25);
}

void tst_ClockCarry::stillTestEndsOnAStoppedOrSteppedSystemClock_data()
{
    QTest::addColumn<qint64>("systemStepNs");
    // The wait for a distinguishing span is bounded by the system clock, not by a count of host readings.
    QTest::newRow("system clock runs") << 300LL;
    QTest::newRow("system clock stands still") << 0LL;
    QTest::newRow("system clock runs backwards") << -1000LL;
}

// A host clock that stands still is told apart, and carries every moment to its own value exactly.
void tst_ClockCarry::stillTestEndsOnAStoppedOrSteppedSystemClock()
{
    QFETCH(qint64, systemStepNs);
    SteppingClock system{kSystemNs, systemStepNs};
    const ClockPair pair = readClockPair([] { return qint64(777); }, [&] { return system.read(); });
    QVERIFY(pair.hostStandsStill);
    QCOMPARE(pair.hostUs, qint64(777));
    QVERIFY(system.reads < 100000);
    if (systemStepNs > 0)
        QVERIFY2(system.nowNs - kSystemNs >= kStillTestNs, qPrintable(QString::number(system.reads)));
    QCOMPARE(hostTimeAt(pair.systemNs - 40000, MomentIs::Before, pair), qint64(777));
    QCOMPARE(hostTimeAt(pair.systemNs + 40000, MomentIs::After, pair), qint64(777));
}

QTEST_GUILESS_MAIN(tst_ClockCarry)
#include "tst_clockcarry.moc"
