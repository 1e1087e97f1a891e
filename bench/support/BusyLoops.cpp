// SPDX-License-Identifier: MIT
#include "support/BusyLoops.h"

#include <pthread.h>
#include <time.h>

BusyLoops::BusyLoops(unsigned threads)
{
    for (unsigned i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] {
            volatile unsigned long long spins = 0;
            while (!m_stop.load(std::memory_order_relaxed))
                spins = spins + 1;
        });
    }
}

BusyLoops::~BusyLoops()
{
    m_stop = true;
    for (std::thread& t : m_threads)
        t.join();
}

std::int64_t BusyLoops::cpuUs()
{
    std::int64_t total = 0;
    for (std::thread& t : m_threads) {
        clockid_t clock{};
        timespec used{};
        if (pthread_getcpuclockid(t.native_handle(), &clock) == 0 && clock_gettime(clock, &used) == 0)
            total += static_cast<std::int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
    }
    return total;
}
