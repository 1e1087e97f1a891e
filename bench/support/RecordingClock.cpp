// SPDX-License-Identifier: MIT
#include "support/RecordingClock.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr double kHalfWindowSeconds = 0.25;
constexpr double kChosenShare = 0.05;  // the blocks that took least time: the quickest 5 % of a window

} // namespace

RecordingClock::RecordingClock(const Recording& recording, std::int64_t sinkLatencyUs)
    : m_frameNs(1e9 / recording.rate), m_halfWindowFrames(std::int64_t(kHalfWindowSeconds * recording.rate)),
      m_latencyNs(double(sinkLatencyUs) * 1000.0), m_blocks(recording.blocks)
{
}

RecordingClock::Window RecordingClock::window(std::int64_t frame) const
{
    const auto byFrames = [](const RecordedBlock& block, std::int64_t frames) { return block.framesAfter < frames; };
    const auto first = std::lower_bound(m_blocks.begin(), m_blocks.end(), frame - m_halfWindowFrames, byFrames);
    const auto last = std::lower_bound(first, m_blocks.end(), frame + m_halfWindowFrames, byFrames);
    if (first == last)
        throw std::runtime_error("no block of the recording near frame " + std::to_string(frame));
    std::vector<double> offsets;
    for (auto block = first; block != last; ++block)
        offsets.push_back(double(block->arrivedNs) - double(block->framesAfter) * m_frameNs);
    std::sort(offsets.begin(), offsets.end());
    return {offsets[std::size_t(double(offsets.size() - 1) * kChosenShare)], offsets[offsets.size() / 2]};
}

double RecordingClock::monoNsOf(std::int64_t frame) const
{
    return window(frame).chosenNs + m_latencyNs + double(frame) * m_frameNs;
}

double RecordingClock::scatterUs() const
{
    if (m_blocks.empty())
        return 0;
    std::vector<double> scatters;
    for (std::int64_t frame = m_halfWindowFrames; frame < m_blocks.back().framesAfter; frame += 2 * m_halfWindowFrames) {
        const Window w = window(frame);
        scatters.push_back((w.medianNs - w.chosenNs) / 1000.0);
    }
    if (scatters.empty())
        return 0;
    std::nth_element(scatters.begin(), scatters.begin() + std::ptrdiff_t(scatters.size() / 2), scatters.end());
    return scatters[scatters.size() / 2];
}
