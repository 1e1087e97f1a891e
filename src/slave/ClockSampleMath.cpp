// SPDX-License-Identifier: MIT
#include "slave/ClockSampleMath.h"

#include <numeric>

namespace tamo::detail {

namespace {

constexpr std::int64_t kSlowDelayUs = 800;
constexpr std::int64_t kTooSlowDelayUs = 3000;

std::int64_t wrappingHalfOf(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d)
{
    return static_cast<std::int64_t>(a - b - c + d) / 2;
}

} // namespace

ClockMeasurement measureClock(const ClockSyncStamps& stamps)
{
    const auto s0 = static_cast<std::uint64_t>(stamps.slot[0]);
    const auto s1 = static_cast<std::uint64_t>(stamps.slot[1]);
    const auto s2 = static_cast<std::uint64_t>(stamps.slot[2]);
    const auto s3 = static_cast<std::uint64_t>(stamps.slot[3]);
    return {wrappingHalfOf(s0, s2, s1, s3), wrappingHalfOf(s3, s0, s1, s2)};
}

DelayVerdict judgeDelay(std::int64_t delayUs)
{
    if (delayUs < kSlowDelayUs)
        return DelayVerdict::Accepted;
    return delayUs < kTooSlowDelayUs ? DelayVerdict::Slow : DelayVerdict::TooSlow;
}

double addOffsetSample(double sample, std::vector<double>& samples, int& nextIndex, double& sum)
{
    if (samples.size() < static_cast<std::size_t>(kOffsetWindowSize)) {
        samples.push_back(sample);
    } else {
        samples[static_cast<std::size_t>(nextIndex)] = sample;
        nextIndex = (nextIndex + 1) % kOffsetWindowSize;
    }
    sum = std::accumulate(samples.begin(), samples.end(), 0.0);
    return sum / static_cast<double>(samples.size());
}

} // namespace tamo::detail
