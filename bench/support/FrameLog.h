// SPDX-License-Identifier: MIT
// The rendered frames of a player's frame log (one frame a line: "<kind> <key> <mono-ns>", kind 'r' for a
// frame rendered at its time while playing, the key the play's number times kPlaySpanNs plus the frame's
// time stamp in ns). Lines of another kind or form are passed over.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

constexpr std::int64_t kPlaySpanNs = 10000LL * 1000000000LL;

struct RenderedFrame
{
    std::int64_t key = 0;
    std::int64_t shownNs = 0;  // monotonic
};

// In the log's order; throws std::runtime_error when the log cannot be read.
std::vector<RenderedFrame> renderedFrames(const QString& frameLog);
