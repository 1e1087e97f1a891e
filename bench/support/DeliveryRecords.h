// SPDX-License-Identifier: MIT
// What a sender and a receiver of numbered commands note, how a role hands it to the driver, and how
// the driver reads it back. Command i carries i as its first value; times are monotonic ns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/Args.h"
#include "support/BenchClock.h"

class ChildControl;

// Arrival times by command index, and the count and span of all arrivals (numbered or not).
struct Arrivals
{
    std::vector<std::int64_t> timeNs;  // -1 where the command did not arrive
    std::size_t count = 0;
    std::int64_t firstNs = -1;
    std::int64_t lastNs = -1;

    explicit Arrivals(std::size_t slotCount = 0) : timeNs(slotCount, -1) {}
    // Call from one thread at a time.
    void record(double index, std::int64_t ns);
    // Takes in the arrivals of another receiver of the same process, of other commands.
    void add(const Arrivals& other);
    // "arrival <index> <ns>" lines, then "arrivals <count> <first> <last>".
    void report(ChildControl& control) const;
    static Arrivals parse(const Lines& lines, std::size_t slotCount);
};

// In a run whose commands go to two groups in turn, the group (0 or 1) of command `index`. Each pair of
// commands takes its order from a fixed pseudo-random sequence: in strict turns each group's commands
// would fall every 4 ms, in step with a 250 Hz timer tick, and one group alone would take what that
// phase of the tick costs.
int groupOfCommand(std::size_t index);

// When each command was handed to the sending call (before), when that call returned (after), and how much
// CPU time the calling thread spent in it: the call's own cost, without the time other threads held the
// CPU while the caller was ready to go on.
struct Sends
{
    std::vector<std::int64_t> beforeNs;
    std::vector<std::int64_t> afterNs;
    std::vector<std::int64_t> cpuNs;

    explicit Sends(std::size_t slotCount = 0) : beforeNs(slotCount, -1), afterNs(slotCount, -1), cpuNs(slotCount, -1) {}
    // Runs the sending call of command `index` and notes its times.
    template <typename Call>
    void time(std::size_t index, Call&& call);
    // "sent <index> <before> <after> <cpu>" lines.
    void report(ChildControl& control) const;
    static Sends parse(const Lines& lines, std::size_t slotCount);
};

template <typename Call>
void Sends::time(std::size_t index, Call&& call)
{
    // The CPU clock is read outside the wall-clock span, so that its cost does not count there.
    const std::int64_t cpuBefore = threadCpuNs();
    beforeNs[index] = monotonicNs();
    call();
    afterNs[index] = monotonicNs();
    cpuNs[index] = threadCpuNs() - cpuBefore;
}
