// SPDX-License-Identifier: MIT
// When a player showed the frame of each whole second of its clip, from its frame log (FrameLog.h): the
// instants that a clip's ticks of sound, one at the start of every second, belong to.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Monotonic ns, in order; throws std::runtime_error when the log cannot be read.
std::vector<std::int64_t> wholeSecondFramesNs(const QString& frameLog);
