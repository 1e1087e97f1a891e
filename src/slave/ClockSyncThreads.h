// SPDX-License-Identifier: MIT
// A slave's clock-sync and heartbeat threads: started by the master's start of clock synchronisation,
// stopped by its stop or by the object's end, and joined by their owner.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "sending/SendChannel.h"
#include "slave/MasterLink.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamo::detail {

class ClockSyncThreads
{
public:
    // The request interval once playback has started: the samples of a playing slave only follow drift.
    static constexpr quint16 kIntervalAfterStartMs = 3000;

    ClockSyncThreads(NetControlNS::slaveControlCbk* cbk, const ObjectFlags& flags, SendChannel& channel,
                     MasterLink& link, std::string localIp);

    // The master's start: starts a pair of threads (only the heartbeat one when master and slave share
    // the IP), within the bounds described at MultiNetControl::kMaxClockSyncGenerations. Worker thread.
    void start();
    // Clears the running flag and wakes the threads from their sleeps. Any thread.
    void stop();
    // Joins every thread; a thread that destroys the object from masterLostCbk is left to end by itself.
    // Worker thread, or the destructor once the worker has ended.
    void join();

    // A start command of playback slows the requests down.
    void setInterval(quint16 ms) { m_syncIntervalMs = ms; }
    quint16 interval() const { return m_syncIntervalMs; }
    bool isRunning() const { return m_clockSyncRunning; }
    // Start commands whose threads run now.
    int generations() const { return m_clockSyncGenerations; }
    bool syncThreadStarted() const { return m_syncThread.joinable(); }
    bool heartThreadStarted() const { return m_heartThread.joinable(); }

private:
    bool syncThread();
    bool heartSyncThread();
    // Sleeps up to `ms` milliseconds; returns early, with false, once clock sync has stopped.
    bool sleepWhileClockSyncRuns(int ms);

    NetControlNS::slaveControlCbk* const m_cbk;  // not owned; the host keeps it alive
    const ObjectFlags& m_flags;
    SendChannel& m_channel;
    MasterLink& m_link;
    const std::string m_localIp;
    std::atomic<bool> m_clockSyncRunning{false};  // written by the worker and the destructor, read by the clock threads
    std::atomic<quint16> m_syncIntervalMs{1000};  // written by the worker and the host, read by the clock-sync thread
    // Threads of the latest start, and those of earlier starts that still run. Started by the worker,
    // joined by the worker at a start after a stop and by the destructor after the worker ended.
    std::thread m_syncThread;
    std::thread m_heartThread;
    std::vector<std::thread> m_earlierClockThreads;
    std::atomic<int> m_clockSyncGenerations{0};   // written by the worker (and the destructor after it)
    bool m_ignoredStartsReported = false;         // worker thread (and the destructor after it)
    std::mutex m_clockSyncWakeMutex;              // pairs with m_clockSyncWake
    std::condition_variable m_clockSyncWake;      // wakes sleeping clock threads when clock sync stops
};

} // namespace tamo::detail
