// SPDX-License-Identifier: MIT
#include "support/SecondFrames.h"

#include "support/FrameLog.h"

#include <algorithm>

namespace {

constexpr std::int64_t kSecondNs = 1000000000LL;

} // namespace

std::vector<std::int64_t> wholeSecondFramesNs(const QString& frameLog)
{
    std::vector<std::int64_t> shown;
    for (const RenderedFrame& frame : renderedFrames(frameLog)) {
        if (frame.key % kPlaySpanNs % kSecondNs == 0)
            shown.push_back(frame.shownNs);
    }
    std::sort(shown.begin(), shown.end());
    return shown;
}
