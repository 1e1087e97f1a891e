// SPDX-License-Identifier: MIT
#include "slave/ClockSamples.h"

#include "common/LogLine.h"
#include "slave/ClockSampleMath.h"

namespace tamo::detail {

ClockSamples::Taken ClockSamples::take(const ClockSyncStamps& stamps)
{
    const ClockMeasurement measured = measureClock(stamps);
    m_netDelayDelt = measured.delayUs;
    m_clockOffset = measured.offsetUs;
    switch (judgeDelay(measured.delayUs)) {
    case DelayVerdict::Slow:
        logLine("  ---------------------------- m_netDelayDelt >0.8 ms and <3 ms !!!!!! ---------------------------\n");
        return {};
    case DelayVerdict::TooSlow:
        logLine("  ---------------------------- m_netDelayDelt >3 ms !!!!!! ---------------------------\n");
        return {};
    case DelayVerdict::Accepted:
        break;
    }
    // Slots 2 and 3 are this host's departure and arrival stamps.
    m_clockEstimator.add(stamps.slot[2], stamps.slot[3], measured.offsetUs);
    publishEstimate();
    m_offsetMean = addOffsetSample(static_cast<double>(measured.offsetUs) / 1000000.0, m_offsetSamples,
                                   m_offsetIndex, m_offsetSum);
    m_clockSynced = true;
    Taken taken{true, m_offsetMean, !m_clockPreparedSent};
    m_clockPreparedSent = true;
    return taken;
}

void ClockSamples::startAfresh()
{
    m_clockEstimator.reset();
    publishEstimate();
    m_clockPreparedSent = false;
}

NetControlNS::struClockEstimate ClockSamples::estimate() const
{
    std::lock_guard<std::mutex> lock(m_clockEstimateMutex);
    return m_clockEstimate;
}

void ClockSamples::publishEstimate()
{
    std::lock_guard<std::mutex> lock(m_clockEstimateMutex);
    m_clockEstimate = m_clockEstimator.estimate();
}

} // namespace tamo::detail
