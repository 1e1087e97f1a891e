// SPDX-License-Identifier: MIT
// The slave's clock samples as the host sees them: the mean of ten that clockOffsetCbk gets follows the
// estimate's rule for jumps of the offset.
#include "common/LogCapture.h"
#include "slave/ClockSamples.h"

#include <QTest>

using tamo::detail::ClockSamples;
using tamo::detail::ClockSyncStamps;

class tst_ClockSamples : public QObject
{
    Q_OBJECT
private slots:
    void meanOfTenJumpsOnlyWithTheEstimate();
};

namespace {

// One exchange leaving this host at `sentUs`, 100 us each way, with the slave's clock `offsetUs` ahead.
ClockSamples::Taken exchange(ClockSamples& samples, qint64 sentUs, qint64 offsetUs)
{
    samples.sendRequest([sentUs] { return std::optional<qint64>(sentUs); });
    const qint64 masterReceiptUs = sentUs - offsetUs + 100;
    return samples.take(ClockSyncStamps{{masterReceiptUs, masterReceiptUs + 20, sentUs, sentUs + 220}});
}

} // namespace

void tst_ClockSamples::meanOfTenJumpsOnlyWithTheEstimate()
{
    constexpr qint64 kStepUs = 50000;
    LogCapture out;
    ClockSamples samples;
    qint64 nowUs = 0;
    for (int i = 0; i < 20; ++i, nowUs += 100000)  // two seconds as clock sync starts: a rate is known
        QCOMPARE(exchange(samples, nowUs, 2000).meanSeconds, 0.002);
    QVERIFY(samples.estimate().rateKnown);

    // Two answers 50 ms off: neither reaches the host nor the estimate; a third that agrees moves both.
    for (int i = 0; i < 2; ++i, nowUs += 100000)
        QVERIFY(!exchange(samples, nowUs, 2000 + kStepUs).accepted);
    QCOMPARE(samples.estimate().offsetUs, 2000.0);
    const ClockSamples::Taken third = exchange(samples, nowUs, 2000 + kStepUs);
    QVERIFY(third.accepted);
    QCOMPARE(third.meanSeconds, 0.052);
    QCOMPARE(samples.estimate().offsetUs, 2000.0 + kStepUs);
    QCOMPARE(out.text().count("held back until 3 in a row agree"), 2);
    QCOMPARE(out.text().count("3 clock answers in a row agree 50000 us off the clock estimate"), 1);
}

QTEST_APPLESS_MAIN(tst_ClockSamples)
#include "tst_clocksamples.moc"
