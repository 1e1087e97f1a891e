// SPDX-License-Identifier: MIT
#include "roles/BenchHost.h"

#include "support/BenchClock.h"

BenchHost::BenchHost(std::int64_t clockOffsetUs, std::size_t commandSlots)
    : m_clock(clockOffsetUs), m_starts(commandSlots)
{
    // Stamped first thing: the callback's arrival is what the latency figures measure.
    m_cbk.startCbk = [this](int, double index, double, char*, int) { m_starts.record(index, monotonicNs()); };
    m_cbk.clockOffsetCbk = [this](double seconds) { m_offsets.push_back({monotonicNs(), seconds}); };
    m_cbk.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    m_cbk.getLayerIdsCbk = [] { return std::vector<int>{0}; };
}
