// SPDX-License-Identifier: MIT
// The host side of a benchmark node: a host clock that is the monotonic clock plus a fixed offset, and
// records of the start commands and clock offsets that the library hands over.
#pragma once

#include "HostClock.h"
#include "MultiNetControl.h"
#include "support/DeliveryRecords.h"

#include <cstdint>
#include <string>
#include <vector>

// The secret of a keyed bench group (--keyed): any 32 bytes, the same in every node of a run.
inline const std::string kBenchGroupKey = "tamo-bench-group-key-32-bytes-!!";

struct OffsetReading
{
    std::int64_t atNs;   // monotonic time of the call
    double meanSeconds;  // what the library handed over
};

class BenchHost
{
public:
    BenchHost(std::int64_t clockOffsetUs, std::size_t commandSlots);

    NetControlNS::slaveControlCbk* callbacks() { return &m_cbk; }

    // Read these only once the control object is gone: its worker thread, which writes them, has been joined.
    const Arrivals& starts() const { return m_starts; }
    const std::vector<OffsetReading>& offsets() const { return m_offsets; }

private:
    NetControlNS::slaveControlCbk m_cbk;
    const HostClock m_clock;
    Arrivals m_starts;                     // worker thread while the control object lives
    std::vector<OffsetReading> m_offsets;  // worker thread while the control object lives
};
