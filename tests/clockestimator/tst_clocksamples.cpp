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
    const qint64 masterUs = sentUs - offsetUs + 100;
    return samples.take(ClockSyncStamps{{masterUs, masterUs, sentUs, sentUs + 200}});
}

} // namespace

// Two seconds of answers as clock sync starts, then three 50 ms off: the host hears of the third only.
void tst_ClockSamples::meanOfTenJumpsOnlyWithTheEstimate()
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

QTEST_APPLESS_MAIN(tst_ClockSamples)
#include "tst_clocksamples.moc"
