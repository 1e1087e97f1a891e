// SPDX-License-Identifier: MIT
#include "support/BusyLoops.h"

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
