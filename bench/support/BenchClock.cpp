// SPDX-License-Identifier: MIT
#include "support/BenchClock.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;

timespec toTimespec(std::int64_t ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return ts;
}

} // namespace

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

std::int64_t monotonicUs()
{
    return monotonicNs() / 1000;
}

void sleepUntilNs(std::int64_t deadlineNs)
{
    const timespec deadline = toTimespec(deadlineNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) != 0) {
    }
}

void sleepForMs(int ms)
{
    sleepUntilNs(monotonicNs() + static_cast<std::int64_t>(ms) * 1000000);
}

std::int64_t threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t processCpuUs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval& tv) { return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

long residentKiB()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kib;
}
