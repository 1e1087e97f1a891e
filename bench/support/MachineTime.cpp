// SPDX-License-Identifier: MIT
#include "support/MachineTime.h"

#include <cstdio>

MachineTime MachineTime::now()
{
    MachineTime time;
    FILE* file = std::fopen("/proc/stat", "r");
    if (!file)
        return time;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    const int read = std::fscanf(file, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle, &iowait,
                                 &irq, &softirq, &steal);
    std::fclose(file);
    if (read != 8)
        return time;
    time.busy = static_cast<std::int64_t>(user + nice + system + irq + softirq);
    time.stolen = static_cast<std::int64_t>(steal);
    time.total = static_cast<std::int64_t>(user + nice + system + idle + iowait + irq + softirq + steal);
    return time;
}

namespace {

double share(std::int64_t part, const MachineTime& from, const MachineTime& to)
{
    const std::int64_t total = to.total - from.total;
    return total > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(total) : 0.0;
}

} // namespace

double busyPercent(const MachineTime& from, const MachineTime& to)
{
    return share(to.busy - from.busy, from, to);
}

double stolenPercent(const MachineTime& from, const MachineTime& to)
{
    return share(to.stolen - from.stolen, from, to);
}
