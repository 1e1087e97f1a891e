// SPDX-License-Identifier: MIT
// The simplest CPU load on every core: one thread per core that spins until the object is destroyed. It
// takes all the CPU it can get, unlike a player, whose decoding comes and goes with its frames.
#pragma once

#include "support/CpuLoad.h"

#include <atomic>
#include <thread>
#include <vector>

class BusyLoops : public CpuLoad
{
public:
    // `threads` 0: none at all (the idle condition).
    explicit BusyLoops(unsigned threads);
    ~BusyLoops() override;

    std::int64_t cpuUs() override;

    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::atomic<bool> m_stop{false};  // written by the destructor, read by the spinning threads
    std::vector<std::thread> m_threads;
};
