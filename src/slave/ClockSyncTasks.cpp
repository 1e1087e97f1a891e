// SPDX-License-Identifier: MIT
#include "slave/ClockSyncTasks.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <chrono>

namespace tamo::detail {

namespace {

constexpr quint16 kSyncIntervalAfterClockSyncStartMs = 100;
constexpr std::chrono::milliseconds kHeartbeatInterval{2000};
constexpr qint64 kMasterLostAfterUs = 50000000;

} // namespace

ClockSyncTasks::ClockSyncTasks(NetControlNS::slaveControlCbk* cbk, const ObjectFlags& flags, SendChannel& channel,
                               MasterLink& link, ClockSamples& samples, TimerThread& timer, std::string localIp)
    : m_cbk(cbk), m_flags(flags), m_channel(channel), m_link(link), m_samples(samples), m_timer(timer),
      m_localIp(std::move(localIp))
{
}

void ClockSyncTasks::start()
{
    if (!m_clockSyncRunning) {
        m_clockSyncGenerations = 0;
        m_ignoredStartsReported = false;
    } else if (m_flags.has(NetControlNS::FollowRestartedMaster)) {
        // A start repeated by the master (or by a master that started again) finds clock sync running.
        m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
        return;
    } else if (m_clockSyncGenerations >= MultiNetControl::kMaxClockSyncGenerations) {
        // A storm of starts, forged or not, must not multiply requests and heartbeats without end.
        m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
        if (!m_ignoredStartsReported) {
            m_ignoredStartsReported = true;
            logLine(LineRate::FloodLimited, "MultiNetControl::startClockSyncThreads WARING clock sync already runs %d times: further "
                    "starts only reset the interval until a stop\n",
                    MultiNetControl::kMaxClockSyncGenerations);
        }
        return;
    }
    // A start while clock sync runs adds a pair beside the earlier ones.
    m_clockSyncRunning = true;
    m_syncIntervalMs = kSyncIntervalAfterClockSyncStartMs;
    ++m_clockSyncGenerations;
    const int epoch = m_epoch;
    const TimerThread::Clock::time_point now = TimerThread::Clock::now();
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    m_requestsStarted = m_localIp != m_link.masterIp();
    if (!m_requestsStarted) {
        logLine("slave and master player in same PC, not need start clock sync!\n");
    } else {
        m_tasks.push_back(m_timer.add([this, epoch, firstTurn = true]() mutable { return syncThread(epoch, firstTurn); },
                                      now));
    }
    m_tasks.push_back(m_timer.add(
        [this, epoch, turn = 0, startedAt = std::optional<qint64>()]() mutable {
            return heartSyncThread(epoch, turn, startedAt);
        },
        now));
    m_heartbeatsStarted = true;
}

void ClockSyncTasks::stop()
{
    m_clockSyncRunning = false;
    ++m_epoch;
    std::lock_guard<std::mutex> lock(m_tasksMutex);
    const TimerThread::Clock::time_point now = TimerThread::Clock::now();
    for (TimerThread::Id task : m_tasks)
        m_timer.runNoLaterThan(task, now);  // to end, and say so
    m_tasks.clear();
}

std::optional<TimerThread::Clock::time_point> ClockSyncTasks::syncThread(int epoch, bool& firstTurn)
{
    if (firstTurn) {
        firstTurn = false;
        if (!m_flags.m_isSlave)
            return std::nullopt;
    }
    if (!runs(epoch)) {
        logLine("MultiNetControl::syncThread exit!...\n");
        return std::nullopt;
    }
    // Sent with all four slots zero: the endpoints write the stamps as the datagrams pass.
    m_samples.sendRequest([this]() -> std::optional<qint64> {
        SendChannel::Sent sent;
        if (!m_channel.send(enS2MClockSyncRequestCmd, -1, nullptr, kClockSyncStampsSize, nullptr, 0,
                            m_link.masterAddress(), &sent))
            return std::nullopt;
        return wire::getI64(sent.bytes.data() + clockSyncSlotOffset(2));  // stamped as it left
    });
    return TimerThread::Clock::now() + std::chrono::milliseconds(m_syncIntervalMs.load());
}

std::optional<TimerThread::Clock::time_point> ClockSyncTasks::heartSyncThread(int epoch, int& turn,
                                                                              std::optional<qint64>& startedAt)
{
    if (turn == 0) {
        if (!m_flags.m_isSlave)
            return std::nullopt;
        // Under recovery, before the master's first answer the silence counts from the first heartbeat: a
        // first answer that is lost or late is no lost master. Classically it counts from the host clock's zero.
        startedAt = hostClock(m_cbk);
    } else if (runs(epoch)) {
        noticeLostMaster(startedAt);
        if (TimerThread::ownerGone()) {
            logLine("MultiNetControl::heartSyncThread exit!...\n");
            return std::nullopt;  // the host destroyed the object: `this` is gone
        }
    }
    ++turn;
    if (!runs(epoch)) {
        logLine("MultiNetControl::heartSyncThread exit!...\n");
        return std::nullopt;
    }
    m_channel.send(enS2MHeartbeatCmd, -1, nullptr, 0, nullptr, 0, m_link.masterAddress());
    return TimerThread::Clock::now() + kHeartbeatInterval;
}

void ClockSyncTasks::noticeLostMaster(std::optional<qint64> startedAt)
{
    if (!m_cbk || !m_cbk->masterLostCbk)
        return;
    const std::optional<qint64> now = hostClock(m_cbk);
    const qint64 answered = m_link.lastAnswer();
    const qint64 since = answered >= 0 || !m_flags.has(NetControlNS::MasterSilenceFromFirstHeartbeat) ? answered : startedAt.value_or(answered);
    if (now && *now - since > kMasterLostAfterUs && m_link.claimLostNotice())
        runGuarded("heartSyncThread", [cbk = m_cbk] { cbk->masterLostCbk(true); });
}

} // namespace tamo::detail
