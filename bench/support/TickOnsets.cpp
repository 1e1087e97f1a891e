// SPDX-License-Identifier: MIT
#include "support/TickOnsets.h"

#include <cstdlib>

namespace {

constexpr int kThreshold = 3000;  // of 32767: the tick is at 0.8 of full scale, its tone passes this within 2 % of a period
constexpr double kQuietSeconds = 0.5;

} // namespace

std::vector<std::int64_t> tickOnsets(const Recording& recording, int channel)
{
    const std::int64_t quietNeeded = std::int64_t(kQuietSeconds * recording.rate);
    std::int64_t quiet = quietNeeded;  // the recording may begin in silence
    std::vector<std::int64_t> onsets;
    const std::int64_t frames = std::int64_t(recording.samples.size()) / recording.channels;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        if (std::abs(recording.samples[std::size_t(frame * recording.channels + channel)]) < kThreshold) {
            ++quiet;
            continue;
        }
        if (quiet >= quietNeeded)
            onsets.push_back(frame);
        quiet = 0;
    }
    return onsets;
}
