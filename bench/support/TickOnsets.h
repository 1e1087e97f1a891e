// SPDX-License-Identifier: MIT
// The onsets of the ticks in one channel of a recording, as `multinet-player make-clip --audio` makes
// them: a burst of tone after at least half a second of silence (a tick lasts 10 ms, ticks are a second
// apart). The same rule as tests/player/tick_onsets.py.
#pragma once

#include "support/SoundRecorder.h"

#include <vector>

// The frame index of each onset in `channel`.
std::vector<std::int64_t> tickOnsets(const Recording& recording, int channel);
