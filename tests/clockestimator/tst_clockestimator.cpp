// SPDX-License-Identifier: MIT
// The slave's estimate of its master's clock, on synthetic samples: a slave clock that drifts at a known
// rate, with noise and outliers, measured as the exchanges would measure it; and the mean of ten samples
// that clockOffsetCbk gets, which follows the estimate's rule for jumps.
#include "common/LogCapture.h"
#include "slave/ClockEstimator.h"
#include "slave/ClockSamples.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using tamo::detail::ClockEstimator;
using tamo::detail::ClockSamples;
using tamo::detail::ClockSyncStamps;

namespace {

constexpr qint64 kUsPerSecond = 1000000;

// Slave minus master, in microseconds, at `seconds` of the slave's host clock.
using TrueOffset = std::function<double(double seconds)>;

// Feeds a sample every `everyS` seconds from 0 to `forS` seconds: the true offset plus Gaussian noise of
// `noiseUs`, and every `outlierEvery`-th sample (if any) `outlierUs` further off, as an answer that waited
// in a queue on one way only.
void feed(ClockEstimator& estimator, const TrueOffset& offset, double forS, double everyS, double noiseUs,
          int outlierEvery = 0, double outlierUs = 0)
{
    std::mt19937 random(20261206);
    std::normal_distribution<double> noise(0.0, noiseUs);
    int index = 0;
    for (double t = 0; t <= forS + 1e-9; t += everyS, ++index) {
        const qint64 hostUs = qint64(std::llround(t * kUsPerSecond));
        double measured = offset(t) + noise(random);
        if (outlierEvery > 0 && index % outlierEvery == outlierEvery - 1)
            measured += outlierUs;
        // The request leaves 150 us before and the answer arrives 150 us after the point it stands for.
        estimator.add(hostUs - 150, hostUs + 150, qint64(std::llround(measured)));
    }
}

// One exchange leaving this host at `sentUs`, 100 us each way, with the slave's clock `offsetUs` ahead.
ClockSamples::Taken exchange(ClockSamples& samples, qint64 sentUs, qint64 offsetUs)
{
    samples.sendRequest([sentUs] { return std::optional<qint64>(sentUs); });
    const qint64 masterUs = sentUs - offsetUs + 100;
    return samples.take(ClockSyncStamps{{masterUs, masterUs, sentUs, sentUs + 200}});
}

} // namespace

class tst_ClockEstimator : public QObject
{
    Q_OBJECT
private slots:
    void beforeEnoughSamples_data();
    void beforeEnoughSamples();
    void followsADriftingClock_data();
    void followsADriftingClock();
    void followsARateThatRamps();
    void departureFromTheWireCannotMoveTheSample_data();
    void departureFromTheWireCannotMoveTheSample();
    void jumpNeedsAgreeingSamples_data();
    void jumpNeedsAgreeingSamples();
    void meanOfTenJumpsOnlyWithTheEstimate();
};

void tst_ClockEstimator::beforeEnoughSamples_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("a new estimator") << false;
    QTest::newRow("one reset after a rate was known") << true;
}

void tst_ClockEstimator::beforeEnoughSamples()
{
    QFETCH(bool, reset);
    ClockEstimator estimator;
    if (reset) {
        feed(estimator, [](double t) { return 100 * t; }, 30, 1, 5);
        QVERIFY(estimator.estimate().rateKnown);
        estimator.reset();
    }
    QVERIFY(!estimator.estimate().valid);
    estimator.add(1000000 - 100, 1000000 + 100, 2500);
    QVERIFY(estimator.estimate().valid);
    QVERIFY(!estimator.estimate().rateKnown);
    QCOMPARE(estimator.estimate().offsetUs, 2500.0);
    QCOMPARE(estimator.estimate().atHostUs, qint64(1000000));
    // Two more close together, one of them far off: the median stands, no rate yet.
    estimator.add(1100000, 1100200, 2510);
    estimator.add(1200000, 1200200, 9000);
    QVERIFY(!estimator.estimate().rateKnown);
    QCOMPARE(estimator.estimate().offsetUs, 2510.0);
    QCOMPARE(estimator.estimate().ratePpm, 0.0);
}

void tst_ClockEstimator::followsADriftingClock_data()
{
    QTest::addColumn<double>("ratePpm");
    QTest::addColumn<int>("outlierEvery");
    QTest::newRow("0 ppm") << 0.0 << 0;
    QTest::newRow("+100 ppm, every 5th sample 600 us late") << 100.0 << 5;
    QTest::newRow("-2000 ppm, every 5th sample 600 us late") << -2000.0 << 5;
    QTest::newRow("+20000 ppm, forged: the rate stays bounded") << 20000.0 << 0;
}

// A minute of samples 3 s apart with 12 us of noise, as during playback on a LAN.
void tst_ClockEstimator::followsADriftingClock()
{
    QFETCH(double, ratePpm);
    QFETCH(int, outlierEvery);
    const TrueOffset offset = [ratePpm](double t) { return -4000.0 + ratePpm * t; };
    ClockEstimator estimator;
    feed(estimator, offset, 60, 3, 12, outlierEvery, 600);

    const NetControlNS::struClockEstimate estimate = estimator.estimate();
    QVERIFY(estimate.rateKnown);
    const double bounded = std::clamp(ratePpm, -ClockEstimator::kMaxRatePpm, ClockEstimator::kMaxRatePpm);
    QVERIFY2(std::abs(estimate.ratePpm - bounded) < 1.0, qPrintable(QString::number(estimate.ratePpm)));
    if (bounded != ratePpm)
        return;
    // Now is between two samples, a second and a half after the last.
    const double nowS = 61.5;
    const qint64 nowUs = qint64(nowS * kUsPerSecond);
    const double error = estimate.offsetAtUs(nowUs) - offset(nowS);
    QVERIFY2(std::abs(error) < 20, qPrintable(QString::number(error)));
    QVERIFY2(std::abs(estimate.masterTimeAt(nowUs) - (nowUs - offset(nowS))) < 20, "masterTimeAt");
    QVERIFY2(std::abs(estimate.hostTimeAt(estimate.masterTimeAt(nowUs)) - double(nowUs)) < 1, "hostTimeAt");
    if (outlierEvery > 0)
        QVERIFY2(estimate.rejected >= 21 / outlierEvery, qPrintable(QString::number(estimate.rejected)));
    QVERIFY2(estimate.residualUs < 25, qPrintable(QString::number(estimate.residualUs)));
}

// A machine that warms up: the rate moves by 1 ppm a minute, for ten minutes.
void tst_ClockEstimator::followsARateThatRamps()
{
    constexpr double kStartPpm = 50;
    constexpr double kPpmPerSecond = 1.0 / 60;
    const TrueOffset offset = [](double t) { return kStartPpm * t + kPpmPerSecond * t * t / 2; };
    ClockEstimator estimator;
    feed(estimator, offset, 600, 3, 12);

    const NetControlNS::struClockEstimate estimate = estimator.estimate();
    const double rateNow = kStartPpm + kPpmPerSecond * 600;
    // A line over the last two minutes stands for their middle: a minute behind, 1 ppm.
    QVERIFY2(std::abs(estimate.ratePpm - rateNow) < 1.5, qPrintable(QString::number(estimate.ratePpm)));
    const double error = estimate.offsetAtUs(600 * kUsPerSecond) - offset(600);
    QVERIFY2(std::abs(error) < 35, qPrintable(QString::number(error)));
    QVERIFY(estimate.spanUs <= ClockEstimator::kWindowUs);
}

void tst_ClockEstimator::departureFromTheWireCannotMoveTheSample_data()
{
    // The departure stamp comes back in the master's answer: a forged or garbled one must neither
    // overflow nor carry the sample out of the window, taking the others with it.
    constexpr qint64 kArrivalUs = 30 * kUsPerSecond;
    constexpr qint64 kLongest = ClockEstimator::kMaxRoundTripUs;
    QTest::addColumn<qint64>("sentUs");
    QTest::addColumn<qint64>("atHostUs");
    QTest::newRow("the longest round trip: midway") << kArrivalUs - kLongest << kArrivalUs - kLongest / 2;
    QTest::newRow("longer: at the arrival") << kArrivalUs - kLongest - 1 << kArrivalUs;
    QTest::newRow("after the arrival") << kArrivalUs + 1 << kArrivalUs;
    QTest::newRow("least time") << std::numeric_limits<qint64>::min() << kArrivalUs;
    QTest::newRow("greatest time") << std::numeric_limits<qint64>::max() << kArrivalUs;
}

void tst_ClockEstimator::departureFromTheWireCannotMoveTheSample()
{
    QFETCH(qint64, sentUs);
    QFETCH(qint64, atHostUs);
    ClockEstimator estimator;
    feed(estimator, [](double) { return 500.0; }, 29, 1, 3);  // 30 samples up to 29 s
    estimator.add(sentUs, 30 * kUsPerSecond, 500);
    QCOMPARE(estimator.estimate().atHostUs, atHostUs);
    QCOMPARE(estimator.estimate().samples + estimator.estimate().rejected, 31);
}

void tst_ClockEstimator::jumpNeedsAgreeingSamples_data()
{
    QTest::addColumn<QVector<double>>("departuresUs");  // of each sample after the fit, from the true line
    QTest::addColumn<int>("jumpsAt");                   // the sample (from 1) the estimate jumps at; 0 never
    QTest::addColumn<int>("inWindow");                  // samples of the window at the end
    constexpr double kOff = 50000;
    QTest::newRow("one outlier") << QVector<double>{kOff, 0, 0} << 0 << 33;
    QTest::newRow("two outliers, a genuine sample, one more") << QVector<double>{kOff, kOff, 0, kOff, 0} << 0 << 33;
    QTest::newRow("a step of the master's clock") << QVector<double>{kOff, kOff, kOff, kOff} << 3 << 4;
    QTest::newRow("a step after a lone outlier") << QVector<double>{-kOff, kOff, kOff, kOff} << 4 << 3;
    QTest::newRow("forged values that never agree") << QVector<double>{kOff, -kOff, kOff, -kOff, kOff, -kOff} << 0 << 31;
    QTest::newRow("within the floor: taken") << QVector<double>{900, 900} << 0 << 33;
}

// After 31 samples a second apart, samples a second apart off the line by the given departures.
void tst_ClockEstimator::jumpNeedsAgreeingSamples()
{
    QFETCH(QVector<double>, departuresUs);
    QFETCH(int, jumpsAt);
    QFETCH(int, inWindow);
    const TrueOffset offset = [](double t) { return -4000.0 + 100 * t; };
    ClockEstimator estimator;
    feed(estimator, offset, 30, 1, 12);
    QVERIFY(estimator.estimate().rateKnown);
    double t = 30;
    for (int i = 0; i < departuresUs.size(); ++i) {
        const qint64 hostUs = qint64(++t * kUsPerSecond);
        const auto verdict = estimator.add(hostUs - 150, hostUs + 150, qint64(offset(t) + departuresUs[i]));
        QCOMPARE(verdict == tamo::detail::OffsetJumpGate::Verdict::Jump, i + 1 == jumpsAt);
    }
    // After a jump the offset is the median of the agreeing samples, without a rate for now: 100 us a second.
    const double error = estimator.estimate().offsetAtUs(qint64(t * kUsPerSecond)) - offset(t)
                         - (jumpsAt > 0 ? departuresUs[jumpsAt - 1] : 0.0);
    QVERIFY2(std::abs(error) < 250, qPrintable(QString::number(error)));
    QCOMPARE(estimator.estimate().samples + estimator.estimate().rejected, inWindow);
}

// Two seconds of answers as clock sync starts, then three 50 ms off: the host hears of the third only.
void tst_ClockEstimator::meanOfTenJumpsOnlyWithTheEstimate()
{
    LogCapture out;
    ClockSamples samples;
    QList<bool> accepted;
    for (int i = 0; i < 23; ++i)
        accepted << exchange(samples, i * 100000, i < 20 ? 2000 : 52000).accepted;
    QCOMPARE(accepted.count(false), 2);
    QCOMPARE(exchange(samples, 2300000, 52000).meanSeconds, 0.052);
    QCOMPARE(samples.estimate().offsetUs, 52000.0);
    QCOMPARE(out.text().count("held back until 3 in a row agree"), 2);
    QCOMPARE(out.text().count("3 clock answers in a row agree 50000 us off the clock estimate"), 1);
}

QTEST_APPLESS_MAIN(tst_ClockEstimator)
#include "tst_clockestimator.moc"
