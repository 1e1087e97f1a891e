// SPDX-License-Identifier: MIT
// A CPU load on every core, as a player decoding video puts on its machine: one thread per core that
// spins until the object is destroyed.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

class BusyLoops
{
public:
    // `threads` 0: none at all (the idle condition).
    explicit BusyLoops(unsigned threads);
    ~BusyLoops();

    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::atomic<bool> m_stop{false};  // written by the destructor, read by the spinning threads
    std::vector<std::thread> m_threads;
};
