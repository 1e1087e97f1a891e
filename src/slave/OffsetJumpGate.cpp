// SPDX-License-Identifier: MIT
#include "slave/OffsetJumpGate.h"

#include "slave/ClockEstimator.h"

#include <algorithm>
#include <cmath>

namespace tamo::detail {

namespace {

// Whether one clock explains two offsets `departureUs` apart and `elapsedUs` apart: the fastest rate any
// clock is taken to run at, over that time, beyond the fit's noise and one exchange's error.
bool explained(double departureUs, qint64 elapsedUs, const NetControlNS::struClockEstimate& fit)
{
    const double toleranceUs = ClockEstimator::kMaxRatePpm * 1e-6 * std::abs(double(elapsedUs))
                               + OffsetJumpGate::kSpreadSigmas * fit.residualUs + OffsetJumpGate::kFloorUs;
    return std::abs(departureUs) <= toleranceUs;
}

} // namespace

OffsetJumpGate::Verdict OffsetJumpGate::judge(const ClockSample& sample, const NetControlNS::struClockEstimate& fit)
{
    // Before a rate is known the estimate is the samples' median, which a lone sample cannot move either.
    if (!fit.rateKnown
        || explained(sample.offsetUs - fit.offsetAtUs(sample.hostUs), sample.hostUs - fit.atHostUs, fit)) {
        m_heldBack.clear();
        return Verdict::Taken;
    }
    const bool agreesWithAll = std::all_of(m_heldBack.begin(), m_heldBack.end(), [&](const ClockSample& held) {
        return explained(sample.offsetUs - held.offsetUs, sample.hostUs - held.hostUs, fit);
    });
    if (!agreesWithAll)
        m_heldBack.clear();
    m_heldBack.push_back(sample);
    return m_heldBack.size() >= kAgreeingSamples ? Verdict::Jump : Verdict::HeldBack;
}

} // namespace tamo::detail
