// SPDX-License-Identifier: MIT
#include "SkewStats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

constexpr qint64 kNsPerUs = 1000;

// The time stamp a player shows at `t`, walking `next` forward through frames sorted by time.
struct ShownCursor
{
    const std::vector<ShownFrame>* frames;
    std::size_t next = 0;
    qint64 shownPts = -1;

    qint64 at(qint64 t)
    {
        for (; next < frames->size() && (*frames)[next].monoNs <= t; ++next)
            shownPts = (*frames)[next].ptsNs;
        return shownPts;
    }
};

std::vector<ShownFrame> byTime(std::vector<ShownFrame> frames)
{
    std::stable_sort(frames.begin(), frames.end(),
                     [](const ShownFrame& a, const ShownFrame& b) { return a.monoNs < b.monoNs; });
    return frames;
}

} // namespace

SkewFigures SkewStats::compare(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                               qint64 windowNs)
{
    std::multimap<qint64, qint64> referenceTimes;  // pts -> time shown
    for (const ShownFrame& frame : reference) {
        if (frame.kind == ShownFrame::Rendered)
            referenceTimes.emplace(frame.ptsNs, frame.monoNs);
    }
    SkewFigures figures;
    std::vector<qint64> magnitudes;
    std::vector<qint64> signedSkews;
    for (const ShownFrame& frame : other) {
        if (frame.kind != ShownFrame::Rendered)
            continue;
        const auto [first, last] = referenceTimes.equal_range(frame.ptsNs);
        qint64 best = 0;
        bool found = false;
        for (auto it = first; it != last; ++it) {
            const qint64 skew = frame.monoNs - it->second;
            if (std::llabs(skew) <= windowNs && (!found || std::llabs(skew) < std::llabs(best))) {
                best = skew;
                found = true;
            }
        }
        if (!found) {
            ++figures.unmatched;
            continue;
        }
        ++figures.matched;
        magnitudes.push_back(std::llabs(best) / kNsPerUs);
        signedSkews.push_back(best / kNsPerUs);
    }
    figures.magnitudesUs = magnitudes;
    figures.p50Us = percentile(magnitudes, 0.5);
    figures.p99Us = percentile(magnitudes, 0.99);
    figures.maxUs = percentile(magnitudes, 1.0);
    figures.signedMedianUs = percentile(signedSkews, 0.5);
    return figures;
}

double SkewStats::sameFrameShare(const std::vector<std::vector<ShownFrame>>& players, qint64 stepNs)
{
    if (players.empty() || stepNs <= 0)
        return 0;
    std::vector<std::vector<ShownFrame>> sorted;
    qint64 from = 0;
    qint64 to = 0;
    for (const std::vector<ShownFrame>& frames : players) {
        if (frames.empty())
            return 0;
        sorted.push_back(byTime(frames));
        from = sorted.size() == 1 ? sorted.back().front().monoNs : std::max(from, sorted.back().front().monoNs);
        to = sorted.size() == 1 ? sorted.back().back().monoNs : std::min(to, sorted.back().back().monoNs);
    }
    std::vector<ShownCursor> cursors;
    for (const std::vector<ShownFrame>& frames : sorted)
        cursors.push_back(ShownCursor{&frames});
    qint64 instants = 0;
    qint64 same = 0;
    for (qint64 t = from; t <= to; t += stepNs) {
        const qint64 shown = cursors.front().at(t);
        bool allSame = true;
        for (std::size_t i = 1; i < cursors.size(); ++i)
            allSame = cursors[i].at(t) == shown && allSame;
        ++instants;
        same += allSame ? 1 : 0;
    }
    return instants ? double(same) / double(instants) : 0;
}

qint64 SkewStats::percentile(std::vector<qint64> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(std::clamp(fraction, 0.0, 1.0) * double(values.size()));
    const std::size_t index = rank < 1 ? 0 : std::size_t(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}
