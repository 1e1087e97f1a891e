// SPDX-License-Identifier: MIT
// The slave's clock-sample arithmetic: network delay and clock offset from the four stamps of one
// exchange, the delay gate, and the sliding window whose mean is handed to the host.
#pragma once

#include "wire/Payloads.h"

#include <cstdint>
#include <vector>

namespace tamo::detail {

struct ClockMeasurement
{
    std::int64_t delayUs;   // one-way network delay
    std::int64_t offsetUs;  // slave clock minus master clock
};

// delay = (s0 - s2 - s1 + s3) / 2, offset = (s3 - s0 - s1 + s2) / 2, truncated toward zero. Stamps come
// off the wire, so the sums wrap instead of overflowing.
ClockMeasurement measureClock(const ClockSyncStamps& stamps);

enum class DelayVerdict {
    Accepted,  // below 800 us (negative included)
    Slow,      // 800 us up to below 3000 us: discarded
    TooSlow,   // 3000 us or more: discarded
};
DelayVerdict judgeDelay(std::int64_t delayUs);

constexpr int kOffsetWindowSize = 10;

// Appends `sample` (seconds) while the window holds fewer than ten samples, else overwrites the slot at
// `nextIndex` (oldest first) and advances it. Recomputes `sum` and returns the mean.
double addOffsetSample(double sample, std::vector<double>& samples, int& nextIndex, double& sum);

} // namespace tamo::detail
