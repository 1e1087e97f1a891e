// SPDX-License-Identifier: MIT
// A slave's clock-sync requests and heartbeats: tasks of the object's timer thread, started by the master's
// start of clock synchronisation and ended by its stop or by the object's end.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "common/TimerThread.h"
#include "sending/SendChannel.h"
#include "slave/ClockSamples.h"
#include "slave/MasterLink.h"

#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tamo::detail {

class ClockSyncTasks
{
public:
    // The request interval once playback has started: the samples of a playing slave only follow drift.
    static constexpr quint16 kIntervalAfterStartMs = 3000;

    ClockSyncTasks(NetControlNS::slaveControlCbk* cbk, const ObjectFlags& flags, SendChannel& channel,
                   MasterLink& link, ClockSamples& samples, TimerThread& timer, std::string localIp);

    // The master's start: a pair of tasks, requests and heartbeats (only heartbeats when master and slave
    // share the IP), within the bounds described at MultiNetControl::kMaxClockSyncGenerations. Worker thread.
    void start();
    // Ends every pair at once: each says so in its line. The worker, or the object's end.
    void stop();

    // A start command of playback slows the requests down.
    void setInterval(quint16 ms) { m_syncIntervalMs = ms; }
    bool isRunning() const { return m_clockSyncRunning; }
    // Start commands whose tasks run now.
    int generations() const { return m_clockSyncGenerations; }
    // Whether the latest start started requests, and heartbeats.
    bool requestsStarted() const { return m_requestsStarted; }
    bool heartbeatsStarted() const { return m_heartbeatsStarted; }

private:
    // One turn of each task; they answer when to run next, or nothing once clock sync has stopped.
    std::optional<TimerThread::Clock::time_point> syncThread(int epoch, bool& firstTurn);
    std::optional<TimerThread::Clock::time_point> heartSyncThread(int epoch, int& turn, std::optional<qint64>& startedAt);
    // Calls masterLostCbk once when the master has not answered for 50 s.
    void noticeLostMaster(std::optional<qint64> startedAt);
    bool runs(int epoch) const { return m_clockSyncRunning && m_epoch == epoch; }

    NetControlNS::slaveControlCbk* const m_cbk;  // not owned; the host keeps it alive
    const ObjectFlags& m_flags;
    SendChannel& m_channel;
    MasterLink& m_link;
    ClockSamples& m_samples;
    TimerThread& m_timer;
    const std::string m_localIp;
    std::atomic<bool> m_clockSyncRunning{false};  // written by the worker and the object's end, read by the tasks
    std::atomic<int> m_epoch{0};                  // one more at each stop: the tasks of a stopped run end
    std::atomic<quint16> m_syncIntervalMs{1000};  // written by the worker and the host, read by the request task
    std::atomic<int> m_clockSyncGenerations{0};   // written by the worker
    std::atomic<bool> m_requestsStarted{false};   // written by the worker
    std::atomic<bool> m_heartbeatsStarted{false}; // written by the worker
    bool m_ignoredStartsReported = false;         // worker thread
    std::mutex m_tasksMutex;                      // m_tasks: the worker starts, the worker or the object's end stops
    std::vector<TimerThread::Id> m_tasks;         // guarded by m_tasksMutex
};

} // namespace tamo::detail
