// SPDX-License-Identifier: MIT
#include "PresentationMeter.h"

#include <algorithm>
#include <vector>

namespace {

// Nearest rank, as SkewStats::percentile.
qint64 percentileOf(std::vector<qint64>& values, double fraction)
{
    if (values.empty())
        return 0;
    const std::size_t rank = std::min(values.size() - 1, std::size_t(fraction * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(rank), values.end());
    return values[rank];
}

} // namespace

void PresentationMeter::reset()
{
    m_samples.clear();
    m_shown = 0;
    m_dropped = 0;
    m_lastLine = 0;
    m_lastIndex = 0;
}

void PresentationMeter::add(qint64 monoNs, std::optional<qint64> lateNs, qint64 line, qint64 index)
{
    ++m_shown;
    if (!lateNs)
        return;
    m_samples.push_back(Sample{monoNs, *lateNs});
    // Frames of the same time line that lie between this one and the one before were never shown.
    if (line == m_lastLine && index > m_lastIndex + 1)
        m_dropped += quint32(index - m_lastIndex - 1);
    m_lastLine = line;
    m_lastIndex = index;
}

NetControlNS::struPresentation PresentationMeter::figures(qint64 nowMonoNs)
{
    while (!m_samples.empty() && m_samples.front().monoNs < nowMonoNs - kWindowNs)
        m_samples.pop_front();
    std::vector<qint64> lateUs;
    lateUs.reserve(m_samples.size());
    for (const Sample& sample : m_samples)
        lateUs.push_back(sample.lateNs / 1000);
    NetControlNS::struPresentation figures;
    figures.lateP50Us = percentileOf(lateUs, 0.5);
    figures.lateP99Us = percentileOf(lateUs, 0.99);
    figures.framesShown = m_shown;
    figures.framesDropped = m_dropped;
    return figures;
}
