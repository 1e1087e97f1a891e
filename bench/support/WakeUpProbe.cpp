// SPDX-License-Identifier: MIT
#include "support/WakeUpProbe.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace {

constexpr std::int64_t kSleepNs = 1000000;
// Above the players' presentation threads, so that a late wake-up is the machine's, not theirs.
constexpr int kProbePriority = 20;

} // namespace

WakeUpProbe::WakeUpProbe()
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned core = 0; core < cores; ++core)
        m_threads.emplace_back([this, core] { probe(core); });
}

WakeUpProbe::~WakeUpProbe()
{
    stop();
}

void WakeUpProbe::probe(unsigned core)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    sched_param param{};
    param.sched_priority = kProbePriority;
    const bool realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    std::vector<std::int64_t> late;
    late.reserve(1 << 16);
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    while (!m_stop.load(std::memory_order_relaxed)) {
        const std::int64_t due = now() + kSleepNs;
        const timespec until{time_t(due / 1000000000), long(due % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        late.push_back(now() - due);
    }
    const std::lock_guard<std::mutex> lock(m_lateMutex);
    m_lateNs.insert(m_lateNs.end(), late.begin(), late.end());
    m_allRealtime = m_allRealtime && realtime;
}

WakeUpProbe::Figures WakeUpProbe::stop()
{
    if (m_stop.exchange(true))
        return m_figures;
    for (std::thread& t : m_threads)
        t.join();
    std::vector<std::int64_t>& late = m_lateNs;
    if (late.empty())
        return m_figures;
    std::sort(late.begin(), late.end());
    m_figures.measured = true;
    m_figures.realtime = m_allRealtime;
    m_figures.wakeUps = std::int64_t(late.size());
    m_figures.p99Us = double(late[std::min(late.size() - 1, late.size() * 99 / 100)]) / 1000.0;
    m_figures.maxUs = double(late.back()) / 1000.0;
    m_figures.over5Ms = std::count_if(late.begin(), late.end(), [](std::int64_t ns) { return ns > 5 * kSleepNs; });
    return m_figures;
}
