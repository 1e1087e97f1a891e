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
    double slopePpm = 0;        // how fast other - reference grows over the time compared (us per s)
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
    double sameFrameShare = 0;       // every player at once
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

    // Nearest-rank percentile of `values` (0 for none); `fraction` in [0, 1].
    static qint64 percentile(std::vector<qint64> values, double fraction);
};
