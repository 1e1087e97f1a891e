// SPDX-License-Identifier: MIT
#include "support/FrameSkew.h"

#include "support/FrameLog.h"

#include <algorithm>

namespace {

// The rendered frames of a log, key to time shown; a key shown twice keeps its first time.
std::map<std::int64_t, std::int64_t> firstShown(const QString& path)
{
    std::map<std::int64_t, std::int64_t> frames;
    for (const RenderedFrame& frame : renderedFrames(path))
        frames.emplace(frame.key, frame.shownNs);
    return frames;
}

// Each play's start as its median frame puts it: shown minus time stamp.
std::map<std::int64_t, std::int64_t> playStarts(const std::map<std::int64_t, std::int64_t>& frames)
{
    std::map<std::int64_t, std::vector<std::int64_t>> starts;
    for (const auto& [key, shownNs] : frames)
        starts[key / kPlaySpanNs].push_back(shownNs - key % kPlaySpanNs);
    std::map<std::int64_t, std::int64_t> medians;
    for (auto& [play, values] : starts) {
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
        medians[play] = values[values.size() / 2];
    }
    return medians;
}

} // namespace

FrameSkew::FrameSkew(const QString& masterLog)
    : m_masterFrames(firstShown(masterLog)), m_playStartNs(playStarts(m_masterFrames))
{
}

std::vector<double> FrameSkew::skewsUs(const QString& slaveLog, std::int64_t fromNs, std::int64_t toNs) const
{
    std::vector<double> skews;
    for (const auto& [key, shownNs] : firstShown(slaveLog)) {
        const auto master = m_masterFrames.find(key);
        if (shownNs < fromNs || shownNs > toNs || master == m_masterFrames.end())
            continue;
        skews.push_back(static_cast<double>(shownNs - master->second) / 1000.0);
    }
    return skews;
}

std::vector<double> FrameSkew::latenessUs(const QString& slaveLog, std::int64_t fromNs, std::int64_t toNs) const
{
    std::vector<double> lateness;
    for (const auto& [key, shownNs] : firstShown(slaveLog)) {
        const auto start = m_playStartNs.find(key / kPlaySpanNs);
        if (shownNs < fromNs || shownNs > toNs || start == m_playStartNs.end())
            continue;
        lateness.push_back(static_cast<double>(shownNs - start->second - key % kPlaySpanNs) / 1000.0);
    }
    return lateness;
}
