// SPDX-License-Identifier: MIT
// Puts a recording of a null sink's monitor on CLOCK_MONOTONIC, the clock of the players' frame logs.
//
// The null sink plays on the server's real time (CLOCK_MONOTONIC): when the time of its last rendered
// sample has come, it renders the next `latency` of sound from its inputs, so that a block begins to play
// as it is rendered, and its monitor hands the block to the recorder at once. A block that reaches the
// recorder at T therefore ends playing at about T + latency, less the time it took to get there. The
// blocks that took least time say it best: a low percentile of (arrival - frames up to the block's end /
// rate), plus the sink's latency.
//
// The recording is not one straight line on the clock: while players play, the server rewinds the sink
// now and then to mix in what a stream wrote late, and the monitor hands the rewound stretch on twice. The
// recording then gains frames on the clock (some 500 ppm on a null sink with three players), smoothly
// enough that a frame is placed by the blocks of the quarter second either side of it alone. The error is
// the delivery time of the chosen blocks, the sink thread's late wake-ups and what the recording gains
// within the window, tens of microseconds; `scatterUs` bounds it (the median block against the chosen).
#pragma once

#include "support/SoundRecorder.h"

#include <cstdint>
#include <vector>

class RecordingClock
{
public:
    RecordingClock(const Recording& recording, std::int64_t sinkLatencyUs);

    // When frame `frame` of the recording played (monotonic ns); throws std::runtime_error when no block
    // of the recording is near it.
    double monoNsOf(std::int64_t frame) const;
    // How much later the median block arrived than the chosen ones (us), the median over the recording.
    double scatterUs() const;

private:
    struct Window
    {
        double chosenNs;
        double medianNs;
    };
    Window window(std::int64_t frame) const;

    double m_frameNs;
    std::int64_t m_halfWindowFrames;
    double m_latencyNs;
    std::vector<RecordedBlock> m_blocks;
};
