// SPDX-License-Identifier: MIT
#include "slave/ClockSamples.h"

#include "common/LogLine.h"
#include "slave/ClockSampleMath.h"

#include <algorithm>

namespace tamo::detail {

void ClockSamples::sendRequest(const std::function<std::optional<qint64>()>& send)
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    const std::optional<qint64> sentUs = send();
    if (!sentUs)
        return;
    if (m_pending.size() >= kMaxPending)
        m_pending.pop_front();
    m_pending.push_back(*sentUs);
}

ClockSamples::Taken ClockSamples::take(const ClockSyncStamps& stamps)
{
    {
        // An answer to nothing this slave asked is somebody else's, or forged: it must not move the clock.
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        const auto request = std::find(m_pending.begin(), m_pending.end(), stamps.slot[2]);
        if (request == m_pending.end()) {
            Taken unanswered;
            unanswered.answersARequest = false;
            return unanswered;
        }
        m_pending.erase(request);
    }
    if (stamps.slot[3] + kStepBackUs < m_lastReceiptUs) {
        logLine("MultiNetControl WARING the host clock stepped back by %lld us: the clock estimate starts afresh\n",
                static_cast<long long>(m_lastReceiptUs - stamps.slot[3]));
        m_clockEstimator.reset();
    }
    m_lastReceiptUs = stamps.slot[3];
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
    if (measured.delayUs >= kLeastDelayUs) {
        const NetControlNS::struClockEstimate before = m_clockEstimator.estimate();
        switch (m_clockEstimator.add(stamps.slot[2], stamps.slot[3], measured.offsetUs)) {
        case OffsetJumpGate::Verdict::HeldBack:
            // Nor does it reach the mean of ten: the host steers by that one too.
            logLine(LineRate::FloodLimited,
                    "MultiNetControl WARING clock answer %.0f us off the clock estimate, beyond what its rate "
                    "explains: held back until %d in a row agree\n",
                    double(measured.offsetUs) - before.offsetAtUs(stamps.slot[3]),
                    int(OffsetJumpGate::kAgreeingSamples));
            return {};
        case OffsetJumpGate::Verdict::Jump:
            logLine(LineRate::FloodLimited,
                    "MultiNetControl WARING %d clock answers in a row agree %.0f us off the clock estimate: it "
                    "starts afresh from them, and the mean of ten from the last\n",
                    int(OffsetJumpGate::kAgreeingSamples),
                    m_clockEstimator.estimate().offsetUs - before.offsetAtUs(m_clockEstimator.estimate().atHostUs));
            m_offsetSamples.clear();
            m_offsetIndex = 0;
            break;
        case OffsetJumpGate::Verdict::Taken:
            break;
        }
        publishEstimate();
    }
    m_offsetMean = addOffsetSample(static_cast<double>(measured.offsetUs) / 1000000.0, m_offsetSamples,
                                   m_offsetIndex, m_offsetSum);
    m_clockSynced = true;
    Taken taken;
    taken.accepted = true;
    taken.meanSeconds = m_offsetMean;
    taken.reportReady = !m_clockPreparedSent;
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
