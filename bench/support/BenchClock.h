// SPDX-License-Identifier: MIT
// Time, CPU and memory readings shared by every benchmark process. CLOCK_MONOTONIC is one clock for all
// processes of this machine, so stamps taken in different processes can be subtracted from each other.
#pragma once

#include <cstdint>

std::int64_t monotonicNs();
std::int64_t monotonicUs();
// Sleeps until the monotonic clock reads `deadlineNs` (returns at once when it already has).
void sleepUntilNs(std::int64_t deadlineNs);
void sleepForMs(int ms);
// CPU time (user and system) of the calling thread so far, in nanoseconds.
std::int64_t threadCpuNs();
// CPU time (user and system, all threads) of this process so far, in microseconds.
std::int64_t processCpuUs();
// Resident memory of this process, in KiB.
long residentKiB();
