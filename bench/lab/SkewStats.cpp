// SPDX-License-Identifier: MIT
#include "SkewStats.h"

#include "Programme.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

constexpr qint64 kNsPerUs = 1000;
constexpr qint64 kNsPerS = 1000000000;

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

// Least squares of skew against time, in microseconds per second, through the median of every second:
// a frame shown late by a wake-up of the machine moves a median little, where it would tilt a line
// through every frame.
double slopeOf(const std::vector<MatchedFrame>& matched)
{
    if (matched.size() < 2)
        return 0;
    std::vector<MatchedFrame> sorted = matched;
    std::sort(sorted.begin(), sorted.end(), [](const MatchedFrame& a, const MatchedFrame& b) { return a.monoNs < b.monoNs; });
    const qint64 t0 = sorted.front().monoNs;
    std::vector<std::pair<double, double>> points;  // (s, us)
    const bool perSecond = sorted.back().monoNs - t0 >= 2 * kNsPerS;
    for (std::size_t first = 0; first < sorted.size();) {
        std::size_t last = first + 1;
        while (perSecond && last < sorted.size() && (sorted[last].monoNs - t0) / kNsPerS == (sorted[first].monoNs - t0) / kNsPerS)
            ++last;
        std::vector<qint64> times;
        std::vector<qint64> skews;
        for (std::size_t i = first; i < last; ++i) {
            times.push_back(sorted[i].monoNs - t0);
            skews.push_back(sorted[i].skewNs);
        }
        points.emplace_back(double(SkewStats::percentile(times, 0.5)) / 1e9, double(SkewStats::percentile(skews, 0.5)) / 1e3);
        first = last;
    }
    const double n = double(points.size());
    double sumT = 0, sumY = 0;
    for (const auto& [t, y] : points) {
        sumT += t;
        sumY += y;
    }
    double stt = 0, sty = 0;
    for (const auto& [t, y] : points) {
        stt += (t - sumT / n) * (t - sumT / n);
        sty += (t - sumT / n) * (y - sumY / n);
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

namespace {

qint64 ptsOfKey(qint64 key)
{
    return key - Programme::playOfKey(key) * Programme::kPlaySpanNs;
}

// Consecutive rendered frames of one play that follow each other at normal speed (a seek, a pause or a
// change of play between them breaks the pair).
constexpr qint64 kLongestFrameNs = 100000000;

std::vector<ShownFrame> renderedByTime(const std::vector<ShownFrame>& frames)
{
    std::vector<ShownFrame> rendered;
    for (const ShownFrame& frame : frames) {
        if (frame.kind == ShownFrame::Rendered)
            rendered.push_back(frame);
    }
    return byTime(std::move(rendered));
}

struct Spacing
{
    qint64 monoNs = 0;  // when the later frame of the pair was shown
    qint64 us = 0;      // |interval - time stamp interval|
    qint64 stepUs = 0;  // the time stamp interval
};

std::vector<Spacing> spacingOf(const std::vector<ShownFrame>& master)
{
    std::vector<Spacing> spacing;
    const std::vector<ShownFrame> frames = renderedByTime(master);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const ShownFrame& before = frames[i - 1];
        const ShownFrame& frame = frames[i];
        const qint64 ptsStep = frame.key - before.key;
        if (Programme::playOfKey(frame.key) != Programme::playOfKey(before.key) || ptsStep <= 0 || ptsStep > kLongestFrameNs)
            continue;
        spacing.push_back({frame.monoNs, std::llabs((frame.monoNs - before.monoNs) - ptsStep) / kNsPerUs, ptsStep / kNsPerUs});
    }
    return spacing;
}

} // namespace

std::vector<qint64> SkewStats::masterSpacingUs(const std::vector<ShownFrame>& master)
{
    std::vector<qint64> result;
    for (const Spacing& spacing : spacingOf(master))
        result.push_back(spacing.us);
    return result;
}

qint64 SkewStats::wakeNoiseP99Us(const std::vector<ShownFrame>& frames)
{
    std::vector<qint64> steady;
    for (const Spacing& spacing : spacingOf(frames)) {
        if (spacing.us * 4 < spacing.stepUs)
            steady.push_back(spacing.us);
    }
    return percentile(steady, 0.99);
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
    std::vector<std::vector<qint64>> spacingPerBin(count);
    for (const Spacing& spacing : spacingOf(master)) {
        const qint64 index = (spacing.monoNs - from) / binNs;
        if (index >= 0 && std::size_t(index) < count)
            spacingPerBin[std::size_t(index)].push_back(spacing.us);
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
            bin.slaveSignedMedianUs.push_back(median);
            if (std::llabs(median) > std::llabs(bin.worstSignedMedianUs))
                bin.worstSignedMedianUs = median;
        }
        bin.sameFrameShare = sameFrameShare(players, 100000, from + bin.startNs, from + bin.startNs + binNs);
        bin.masterSpacingP99Us = percentile(spacingPerBin[i], 0.99);
        result.push_back(bin);
    }
    return result;
}

LoopFigures SkewStats::loopPoints(const std::vector<std::vector<ShownFrame>>& players)
{
    LoopFigures figures;
    if (players.empty())
        return figures;
    const std::vector<ShownFrame> master = renderedByTime(players.front());
    // The frame duration: the most common step between time stamps within a play.
    std::vector<qint64> steps;
    for (std::size_t i = 1; i < master.size(); ++i) {
        const qint64 step = master[i].key - master[i - 1].key;
        if (step > 0 && step <= kLongestFrameNs)
            steps.push_back(step);
    }
    const qint64 frameNs = percentile(steps, 0.5);
    figures.frameDurationUs = frameNs / kNsPerUs;
    // The master's last frame of each play.
    std::map<qint64, ShownFrame> lastOfPlay;
    for (const ShownFrame& frame : master) {
        const qint64 play = Programme::playOfKey(frame.key);
        const auto it = lastOfPlay.find(play);
        if (it == lastOfPlay.end() || frame.key > it->second.key)
            lastOfPlay[play] = frame;
    }
    figures.worstLatePerPlayerUs.assign(players.size(), 0);
    std::vector<bool> seen(players.size(), false);
    bool any = false;
    for (const auto& [play, last] : lastOfPlay) {
        if (lastOfPlay.count(play + 1) == 0)
            continue;
        ++figures.loopPoints;
        // The first frame of the next play is due one frame after the last of this one, and so on.
        const qint64 dueBaseNs = last.monoNs + frameNs;
        for (std::size_t p = 0; p < players.size(); ++p) {
            const ShownFrame* first = nullptr;
            for (const ShownFrame& frame : players[p]) {
                if (frame.kind == ShownFrame::Rendered && Programme::playOfKey(frame.key) == play + 1 &&
                    (!first || frame.monoNs < first->monoNs))
                    first = &frame;
            }
            if (!first)
                continue;
            const qint64 lateUs = (first->monoNs - (dueBaseNs + ptsOfKey(first->key))) / kNsPerUs;
            if (!seen[p] || lateUs > figures.worstLatePerPlayerUs[p])
                figures.worstLatePerPlayerUs[p] = lateUs;
            if (!any || lateUs > figures.worstLateUs)
                figures.worstLateUs = lateUs;
            seen[p] = true;
            any = true;
        }
    }
    return figures;
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
