// SPDX-License-Identifier: MIT
// What the machine's CPUs did over a stretch of time, from /proc/stat: how much of their time ran
// something, and how much the hypervisor took away from this virtual machine (steal). A player whose
// virtual CPU is not running when its frame is due shows it late, whatever the player does: stolen time
// is the noise floor of every timing figure taken on a virtual machine.
#pragma once

#include <cstdint>

struct MachineTime
{
    std::int64_t busy = 0;   // user, nice, system, irq, softirq (clock ticks, all CPUs)
    std::int64_t stolen = 0;
    std::int64_t total = 0;  // every field, idle and iowait included

    // Now; all zero where /proc/stat cannot be read.
    static MachineTime now();
};

// Shares of all CPU time between `from` and `to`, in %.
double busyPercent(const MachineTime& from, const MachineTime& to);
double stolenPercent(const MachineTime& from, const MachineTime& to);
