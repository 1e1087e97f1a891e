// SPDX-License-Identifier: MIT
// Where the master's programme is, for the operator: read from its playback at a time of its pipeline's
// clock. Main thread, as the playback is.
#pragma once

#include "ShowStatus.h"
#include "SyncedPlayback.h"

// `started`: the show is past its readiness steps (until then the state is "starting").
ProgrammeStatus programmeStatusOf(SyncedPlayback& playback, qint64 nowClockNs, bool started);
