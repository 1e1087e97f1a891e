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
    qint64 shownKey = -1;

    qint64 at(qint64 t)
    {
        for (; next < frames->size() && (*frames)[next].monoNs <= t; ++next)
            shownKey = (*frames)[next].key;
        return shownKey;
    }
};

std::vector<ShownFrame> byTime(std::vector<ShownFrame> frames)
{
    std::stable_sort(frames.begin(), frames.end(),
                     [](const ShownFrame& a, const ShownFrame& b) { return a.monoNs < b.monoNs; });
    return frames;
}

} // namespace

namespace {

struct MatchedFrame
{
    qint64 monoNs;  // when the other player showed it
    qint64 skewNs;  // other - reference
};

// Pairs each frame `other` rendered with the reference's rendering of the same frame nearest in time.
std::vector<MatchedFrame> match(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                                qint64 windowNs, int* unmatched)
{
    std::multimap<qint64, qint64> referenceTimes;  // key -> time shown
    for (const ShownFrame& frame : reference) {
        if (frame.kind == ShownFrame::Rendered)
            referenceTimes.emplace(frame.key, frame.monoNs);
    }
    std::vector<MatchedFrame> matched;
    for (const ShownFrame& frame : other) {
        if (frame.kind != ShownFrame::Rendered)
            continue;
        const auto [first, last] = referenceTimes.equal_range(frame.key);
        qint64 best = 0;
        bool found = false;
        for (auto it = first; it != last; ++it) {
            const qint64 skew = frame.monoNs - it->second;
            if (std::llabs(skew) <= windowNs && (!found || std::llabs(skew) < std::llabs(best))) {
                best = skew;
                found = true;
            }
        }
        if (found)
            matched.push_back(MatchedFrame{frame.monoNs, best});
        else if (unmatched)
            ++*unmatched;
    }
    return matched;
}

// Least squares of skew against time: microseconds per second.
double slopeOf(const std::vector<MatchedFrame>& matched)
{
    if (matched.size() < 2)
        return 0;
    const double t0 = double(matched.front().monoNs);
    double sumT = 0, sumY = 0;
    for (const MatchedFrame& m : matched) {
        sumT += (double(m.monoNs) - t0) / 1e9;
        sumY += double(m.skewNs) / 1e3;
    }
    const double n = double(matched.size());
    double stt = 0, sty = 0;
    for (const MatchedFrame& m : matched) {
        const double dt = (double(m.monoNs) - t0) / 1e9 - sumT / n;
        stt += dt * dt;
        sty += dt * (double(m.skewNs) / 1e3 - sumY / n);
    }
    return stt > 0 ? sty / stt : 0;
}

} // namespace

SkewFigures SkewStats::compare(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                               qint64 windowNs)
{
    SkewFigures figures;
    const std::vector<MatchedFrame> matched = match(reference, other, windowNs, &figures.unmatched);
    std::vector<qint64> signedSkews;
    for (const MatchedFrame& m : matched) {
        figures.magnitudesUs.push_back(std::llabs(m.skewNs) / kNsPerUs);
        signedSkews.push_back(m.skewNs / kNsPerUs);
    }
    figures.matched = int(matched.size());
    figures.p50Us = percentile(figures.magnitudesUs, 0.5);
    figures.p99Us = percentile(figures.magnitudesUs, 0.99);
    figures.maxUs = percentile(figures.magnitudesUs, 1.0);
    figures.signedMedianUs = percentile(signedSkews, 0.5);
    figures.slopePpm = slopeOf(matched);
    return figures;
}

std::optional<qint64> SkewStats::inStepFrom(const std::vector<ShownFrame>& reference, const std::vector<ShownFrame>& other,
                                            qint64 boundUs, qint64 holdNs)
{
    std::vector<MatchedFrame> matched = match(reference, other, 1000000000, nullptr);
    std::stable_sort(matched.begin(), matched.end(), [](const MatchedFrame& a, const MatchedFrame& b) { return a.monoNs < b.monoNs; });
    auto within = [boundUs](const MatchedFrame& m) { return std::llabs(m.skewNs) <= boundUs * kNsPerUs; };
    // A frame off the bound rules out every start in the hold before it.
    std::size_t end = 0;
    for (std::size_t first = 0; first < matched.size(); ++first) {
        if (!within(matched[first]))
            continue;
        const qint64 until = matched[first].monoNs + holdNs;
        end = std::max(end, first);
        while (end < matched.size() && matched[end].monoNs <= until && within(matched[end]))
            ++end;
        // The hold is over (the log goes beyond it), or the log ends within it after half of it.
        const bool held = end < matched.size() ? matched[end].monoNs > until
                                               : matched.back().monoNs - matched[first].monoNs >= holdNs / 2;
        if (held)
            return matched[first].monoNs;
    }
    return std::nullopt;
}

std::vector<SkewBin> SkewStats::bins(const std::vector<std::vector<ShownFrame>>& players, qint64 binNs)
{
    std::vector<SkewBin> result;
    if (players.size() < 2 || players.front().empty() || binNs <= 0)
        return result;
    const std::vector<ShownFrame>& master = players.front();
    qint64 from = master.front().monoNs;
    qint64 to = from;
    for (const ShownFrame& frame : master) {
        from = std::min(from, frame.monoNs);
        to = std::max(to, frame.monoNs);
    }
    const std::size_t count = std::size_t((to - from) / binNs) + 1;
    std::vector<std::vector<qint64>> magnitudes(count);
    std::vector<std::vector<std::vector<qint64>>> signedPerSlave(count, std::vector<std::vector<qint64>>(players.size() - 1));
    for (std::size_t slave = 1; slave < players.size(); ++slave) {
        for (const MatchedFrame& m : match(master, players[slave], 1000000000, nullptr)) {
            const qint64 index = (m.monoNs - from) / binNs;
            if (index < 0 || std::size_t(index) >= count)
                continue;
            magnitudes[std::size_t(index)].push_back(std::llabs(m.skewNs) / kNsPerUs);
            signedPerSlave[std::size_t(index)][slave - 1].push_back(m.skewNs / kNsPerUs);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        SkewBin bin;
        bin.startNs = qint64(i) * binNs;
        bin.matched = int(magnitudes[i].size());
        bin.p50Us = percentile(magnitudes[i], 0.5);
        bin.p99Us = percentile(magnitudes[i], 0.99);
        bin.maxUs = percentile(magnitudes[i], 1.0);
        for (const std::vector<qint64>& skews : signedPerSlave[i]) {
            const qint64 median = percentile(skews, 0.5);
            if (std::llabs(median) > std::llabs(bin.worstSignedMedianUs))
                bin.worstSignedMedianUs = median;
        }
        bin.sameFrameShare = sameFrameShare(players, 100000, from + bin.startNs, from + bin.startNs + binNs);
        result.push_back(bin);
    }
    return result;
}

double SkewStats::sameFrameShare(const std::vector<std::vector<ShownFrame>>& players, qint64 stepNs, qint64 fromNs,
                                 qint64 toNs)
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
    if (toNs > fromNs) {
        from = std::max(from, fromNs);
        to = std::min(to, toNs);
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
