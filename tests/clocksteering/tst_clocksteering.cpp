// SPDX-License-Identifier: MIT
// A pipeline clock steered onto the master's time line: it follows the master's rate on a drifting host
// clock, takes an error out gradually and within its bound, and never jumps while it does.
#include "ClockSteering.h"

#include <QTest>

#include <cmath>

namespace {

constexpr qint64 kNsPerS = 1000000000;

// The master's clock is the monotonic clock itself; this host's clock runs `driftPpm` fast and
// `offsetUs` ahead. The exact line of the master's clock over this host's, at monotonic time `monoNs`.
MasterLine trueLine(const HostClock& host, qint64 monoNs)
{
    const qint64 hostUs = host.atMonotonicUs(monoNs / 1000);
    return MasterLine{hostUs, double(hostUs) - double(monoNs) / 1000.0, (1.0 - 1.0 / (1.0 + host.driftPpm() * 1e-6)) * 1e6};
}

} // namespace

class tst_ClockSteering : public QObject
{
    Q_OBJECT
private slots:
    void followsTheMastersRate_data()
    {
        QTest::addColumn<double>("driftPpm");
        QTest::newRow("host 100 ppm fast") << 100.0;
        QTest::newRow("host 1000 ppm slow") << -1000.0;
    }

    // Put on the line once, the clock stays on it for ten minutes: its rate is the master's.
    void followsTheMastersRate()
    {
        QFETCH(double, driftPpm);
        const HostClock host(-3500, driftPpm);
        ClockSteering steering(host);
        const qint64 t0 = host.anchorMonotonicUs() * 1000 + kNsPerS;
        steering.jumpTo(trueLine(host, t0), t0);
        QVERIFY(std::abs(double(steering.calibration().externalAt(t0)) - double(t0)) < 1000);
        const qint64 later = t0 + 600 * kNsPerS;
        const double driftNs = double(steering.calibration().externalAt(later)) - double(later);
        QVERIFY2(std::abs(driftNs) < 2000, qPrintable(QString::number(driftNs)));
    }

    void takesAnErrorOutGraduallyWithoutAJump_data()
    {
        QTest::addColumn<double>("errorUs");
        QTest::newRow("an estimate 300 us further on") << 300.0;
        QTest::newRow("an estimate 300 us back") << -300.0;
        QTest::newRow("50 ms: at the bound of the correction rate") << 50000.0;
    }

    void takesAnErrorOutGraduallyWithoutAJump()
    {
        QFETCH(double, errorUs);
        const HostClock host(1200, 100.0);
        ClockSteering steering(host);
        qint64 now = host.anchorMonotonicUs() * 1000;
        steering.jumpTo(trueLine(host, now), now);
        // The estimate moves: the clock now stands `errorUs` off the line.
        MasterLine moved = trueLine(host, now);
        moved.offsetUs -= errorUs;
        const double correctionBound = ClockSteering::kMaxCorrectionPpm * 1e-6;
        const double lineRate = (1 + 100e-6) * (1 - moved.ratePpm * 1e-6);
        for (int step = 0; step < 60; ++step, now += kNsPerS / 2) {
            const qint64 before = steering.calibration().externalAt(now);
            steering.steer(moved, now);
            QCOMPARE(steering.calibration().externalAt(now), before);  // no jump
            QVERIFY(std::abs(steering.calibration().rate - lineRate) <= correctionBound + 1e-12);
        }
        // After 30 s a small error is gone; a large one has shrunk by what the bound allows, 15 ms.
        const double left = std::abs(steering.errorNs(moved, now)) / 1000.0;
        const double expected = std::max(0.0, std::abs(errorUs) - ClockSteering::kMaxCorrectionPpm * 30.0);
        QVERIFY2(std::abs(left - expected) < (expected == 0 ? 2 : 100), qPrintable(QString::number(left)));
    }
};

QTEST_APPLESS_MAIN(tst_ClockSteering)
#include "tst_clocksteering.moc"
