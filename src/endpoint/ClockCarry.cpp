// SPDX-License-Identifier: MIT
#include "endpoint/ClockCarry.h"

namespace tamo::detail {

namespace {

// Enough for kStillTestNs on any clock that reads in under 100 ns; a clock stepped back ends it as well.
constexpr int kMaxStillTestReads = 20000;

} // namespace

ClockPair readClockPair(const std::function<qint64()>& hostClockUs, const std::function<std::int64_t()>& systemClockNs)
{
    const qint64 firstHostUs = hostClockUs();
    const std::int64_t firstSystemNs = systemClockNs();
    const qint64 secondHostUs = hostClockUs();
    if (secondHostUs != firstHostUs)
        return {secondHostUs, firstSystemNs, false};
    std::int64_t systemNs = firstSystemNs;
    for (int i = 0; i < kMaxStillTestReads && systemNs - firstSystemNs < kStillTestNs; ++i)
        systemNs = systemClockNs();
    const qint64 lastHostUs = hostClockUs();
    return {lastHostUs, systemNs, lastHostUs == firstHostUs};
}

qint64 hostTimeAt(std::optional<std::int64_t> momentNs, MomentIs direction, const ClockPair& now)
{
    if (!momentNs || now.hostStandsStill)
        return now.hostUs;
    const std::int64_t distanceNs = direction == MomentIs::Before ? now.systemNs - *momentNs : *momentNs - now.systemNs;
    if (distanceNs < 0 || distanceNs > kMaxCarryNs)
        return now.hostUs;
    const qint64 distanceUs = static_cast<qint64>((distanceNs + 500) / 1000);
    return direction == MomentIs::Before ? now.hostUs - distanceUs : now.hostUs + distanceUs;
}

} // namespace tamo::detail
