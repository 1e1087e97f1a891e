// SPDX-License-Identifier: MIT
// A load that a scenario puts on the machine beside what it measures. It tells how much CPU it took, so
// that the table shows the load a condition really had, not the one it was meant to have.
#pragma once

#include <cstdint>

class CpuLoad
{
public:
    virtual ~CpuLoad() = default;
    // CPU time (user and system) the load has taken since it started, in microseconds.
    virtual std::int64_t cpuUs() = 0;
};
