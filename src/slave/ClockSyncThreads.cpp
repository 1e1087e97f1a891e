// SPDX-License-Identifier: MIT
// The slave's clock-sync and heartbeat threads, and their lifetime: the object owns and joins them.
#include "slave/ClockSyncThreads.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <chrono>
#include <system_error>

namespace tamo::detail {

namespace {

constexpr quint16 kSyncIntervalAfterClockSyncStartMs = 100;
constexpr int kHeartbeatIntervalMs = 2000;
constexpr qint64 kMasterLostAfterUs = 50000000;

// Points, while a heartbeat thread calls masterLostCbk, at a flag of that call: when the host destroys the
// object inside the call, the destructor sets it, and the thread leaves without touching the object again.
thread_local bool* t_objectDestroyedInCallback = nullptr;

} // namespace

ClockSyncThreads::ClockSyncThreads(NetControlNS::slaveControlCbk* cbk, const ObjectFlags& flags, SendChannel& channel,
                                   MasterLink& link, std::string localIp)
    : m_cbk(cbk), m_flags(flags), m_channel(channel), m_link(link), m_localIp(std::move(localIp))
{
}

void ClockSyncThreads::start()
{
    if (!m_clockSyncRunning) {
        // The threads of a stopped start are leaving their loops: collect them before starting anew.
        join();
    } else if (m_flags.m_recovery) {
        // A start repeated by the master (or by a master that started again) finds clock sync running.
        m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
        return;
    } else if (m_clockSyncGenerations >= MultiNetControl::kMaxClockSyncGenerations) {
        // A storm of starts, forged or not, must not multiply threads and heartbeats without end.
        m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
        if (!m_ignoredStartsReported) {
            m_ignoredStartsReported = true;
            logLine(LineRate::FloodLimited, "MultiNetControl::startClockSyncThreads WARING clock sync already runs %d times: further "
                    "starts only reset the interval until a stop\n",
                    MultiNetControl::kMaxClockSyncGenerations);
        }
        return;
    } else {
        // Threads of an earlier start keep running beside the new ones.
        for (std::thread* t : {&m_syncThread, &m_heartThread}) {
            if (t->joinable())
                m_earlierClockThreads.push_back(std::move(*t));
        }
    }
    m_clockSyncRunning = true;
    m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
    ++m_clockSyncGenerations;
    try {
        if (m_localIp == m_link.masterIp())
            logLine("slave and master player in same PC, not need start clock sync!\n");
        else
            m_syncThread = std::thread(&ClockSyncThreads::syncThread, this);
        m_heartThread = std::thread(&ClockSyncThreads::heartSyncThread, this);
    } catch (const std::system_error& e) {
        logLine(LineRate::FloodLimited, "MultiNetControl::startClockSyncThreads WARING cannot start a thread: %s\n", e.what());
    }
}

void ClockSyncThreads::stop()
{
    {
        // Cleared under the sleepers' mutex, so that no thread misses the wake-up between test and wait.
        std::lock_guard<std::mutex> lock(m_clockSyncWakeMutex);
        m_clockSyncRunning = false;
    }
    m_clockSyncWake.notify_all();
}

bool ClockSyncThreads::sleepWhileClockSyncRuns(int ms)
{
    std::unique_lock<std::mutex> lock(m_clockSyncWakeMutex);
    return !m_clockSyncWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_clockSyncRunning; });
}

void ClockSyncThreads::join()
{
    const auto collect = [](std::thread& t) {
        if (!t.joinable())
            return;
        if (t.get_id() != std::this_thread::get_id()) {
            t.join();
            return;
        }
        // The host destroys the object from masterLostCbk on this very thread: it cannot join itself, so it
        // runs on, detached, and returns as soon as the callback does.
        if (t_objectDestroyedInCallback)
            *t_objectDestroyedInCallback = true;
        t.detach();
    };
    collect(m_syncThread);
    collect(m_heartThread);
    for (std::thread& t : m_earlierClockThreads)
        collect(t);
    m_earlierClockThreads.clear();
    m_clockSyncGenerations = 0;
    m_ignoredStartsReported = false;
}

bool ClockSyncThreads::syncThread()
{
    if (!m_flags.m_isSlave)
        return false;
    while (m_clockSyncRunning) {
        // Sent with all four slots zero: the endpoints write the stamps as the datagrams pass.
        m_channel.send(enS2MClockSyncRequestCmd, -1, nullptr, kClockSyncStampsSize, nullptr, 0, m_link.masterAddress());
        if (!sleepWhileClockSyncRuns(m_syncIntervalMs))
            break;
    }
    logLine("MultiNetControl::syncThread exit!...\n");
    return true;
}

bool ClockSyncThreads::heartSyncThread()
{
    if (!m_flags.m_isSlave)
        return false;
    // Under recovery, before the master's first answer the silence counts from the first heartbeat: a
    // first answer that is lost or late is no lost master. Classically it counts from the host clock's zero.
    const std::optional<qint64> startedAt = hostClock(m_cbk);
    while (m_clockSyncRunning) {
        m_channel.send(enS2MHeartbeatCmd, -1, nullptr, 0, nullptr, 0, m_link.masterAddress());
        if (!sleepWhileClockSyncRuns(kHeartbeatIntervalMs))
            break;
        if (!m_cbk || !m_cbk->masterLostCbk)
            continue;
        const std::optional<qint64> now = hostClock(m_cbk);
        const qint64 answered = m_link.lastAnswer();
        const qint64 since = answered >= 0 || !m_flags.m_recovery ? answered : startedAt.value_or(answered);
        if (now && *now - since > kMasterLostAfterUs && m_link.claimLostNotice()) {
            bool destroyed = false;
            t_objectDestroyedInCallback = &destroyed;
            runGuarded("heartSyncThread", [cbk = m_cbk] { cbk->masterLostCbk(true); });
            t_objectDestroyedInCallback = nullptr;
            if (destroyed)
                break;  // `this` is gone
        }
    }
    logLine("MultiNetControl::heartSyncThread exit!...\n");
    return true;
}

} // namespace tamo::detail
