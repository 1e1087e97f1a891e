// SPDX-License-Identifier: MIT
// How late a real-time thread wakes from 1 ms sleeps on each core while a scenario runs. A machine that
// stalls (a hypervisor that takes a virtual CPU away, say) delays every thread on that CPU alike, the
// players' highest-priority ones too, and nothing inside the machine helps against it: these figures
// tell such stalls apart from a player that falls behind on its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class WakeUpProbe
{
public:
    struct Figures
    {
        bool measured = false;  // false: no wake-up was measured
        bool realtime = false;  // every probe thread got SCHED_FIFO
        std::int64_t wakeUps = 0;
        double p99Us = 0;       // lateness of a wake-up, over all cores
        double maxUs = 0;
        std::int64_t over5Ms = 0;
    };

    // Starts one probe thread per core, each pinned to its core.
    WakeUpProbe();
    ~WakeUpProbe();

    // Stops the threads (once) and gives the figures of the whole span.
    Figures stop();

    WakeUpProbe(const WakeUpProbe&) = delete;
    WakeUpProbe& operator=(const WakeUpProbe&) = delete;

private:
    void probe(unsigned core);

    std::atomic<bool> m_stop{false};  // written by stop(), read by the probe threads
    std::mutex m_lateMutex;           // guards m_lateNs and m_allRealtime: the probe threads add at their end, stop() reads
    std::vector<std::int64_t> m_lateNs;
    bool m_allRealtime = true;
    std::vector<std::thread> m_threads;
    Figures m_figures;                // stop()'s caller only
};
