// SPDX-License-Identifier: MIT
// How far apart players showed the same frames, from their frame logs.
#pragma once

#include "FrameLog.h"

#include <optional>
#include <vector>

struct SkewFigures
{
    int matched = 0;          // frames rendered by both players
    int unmatched = 0;        // frames the other player rendered and the reference did not (near that time)
    qint64 p50Us = 0;         // of |other - reference|
    qint64 p99Us = 0;
    qint64 maxUs = 0;
    qint64 signedMedianUs = 0;  // other - reference: its sign says who is late
    std::vector<qint64> magnitudesUs;  // every matched |other - reference|, for pooling players
    double slopePpm = 0;        // how fast other - reference grows over the time compared (us per s; a line
                                // through the median of every second, so that single late frames do not tilt it)
};

// One stretch of time (10 s, say) of a programme: how far apart every slave was from the master there.
struct SkewBin
{
    qint64 startNs = 0;       // from the first frame the master showed
    int matched = 0;
    qint64 p50Us = 0;         // of every slave's |skew|
    qint64 p99Us = 0;
    qint64 maxUs = 0;
    qint64 worstSignedMedianUs = 0;  // the slave whose signed median lies furthest from zero
    std::vector<qint64> slaveSignedMedianUs;  // each slave's, in the order given (0 for one without frames there)
    double sameFrameShare = 0;       // every player at once
    // The master's own frames: how far each interval between two frames of one play differs from the
    // interval of their time stamps (p99). The master plays on the machine's clock as it is, so this is
    // the machine's wake-up noise, which every player's skew carries too.
    qint64 masterSpacingP99Us = 0;
};

// Where a looping programme (or a playlist) goes from one play to the next: how late each player showed
// the first frame of the new play after the instant the master's time line gives it (the master's last
// frame of the play before, plus the frames in between).
struct LoopFigures
{
    int loopPoints = 0;
    qint64 frameDurationUs = 0;
    qint64 worstLateUs = 0;                 // over every player and loop point (negative: all early)
    std::vector<qint64> worstLatePerPlayerUs;  // the master first
};

class SkewStats
{
public:
    // Pairs each frame `other` rendered with the reference's rendering of the same time stamp nearest in
    // time (a frame shown twice, after a seek back, pairs with the right showing) within `windowNs`.
    static SkewFigures compare(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                               qint64 windowNs = 1000000000);

    // When `other` came into step with the reference for good: the CLOCK_MONOTONIC time of the first frame
    // it rendered from which every frame it rendered over the next `holdNs` lies within `boundUs` of the
    // reference's showing (a player that steers into step, or returns to it, shows a few frames off
    // first). Nothing when that never happens.
    static std::optional<qint64> inStepFrom(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                                            qint64 boundUs, qint64 holdNs = 1000000000);

    // The share of instants, every `stepNs` over the time all players were showing frames (and within
    // [fromNs, toNs] when given), at which every player showed the same frame. 0 when they never overlapped.
    static double sameFrameShare(const std::vector<std::vector<ShownFrame>>& players, qint64 stepNs = 100000,
                                 qint64 fromNs = 0, qint64 toNs = 0);

    // The figures of every `binNs` of the master's frames: the first player is the master.
    static std::vector<SkewBin> bins(const std::vector<std::vector<ShownFrame>>& players, qint64 binNs);

    // The master's frame spacing (see SkewBin::masterSpacingP99Us): every |interval - time stamp interval|,
    // in us, of consecutive rendered frames of one play.
    static std::vector<qint64> masterSpacingUs(const std::vector<ShownFrame>& master);
    // The machine's wake-up noise as one player's frames show it, in any programme: the p99 of that
    // spacing over the intervals within a quarter frame of their time stamps' (a pause, a step or a change
    // of speed puts an interval further off; a stall of the machine rarely does).
    static qint64 wakeNoiseP99Us(const std::vector<ShownFrame>& frames);

    // The loop points of the master's frames and every player's lateness there (the first player is the master).
    static LoopFigures loopPoints(const std::vector<std::vector<ShownFrame>>& players);

    // Nearest-rank percentile of `values` (0 for none); `fraction` in [0, 1].
    static qint64 percentile(std::vector<qint64> values, double fraction);
};
