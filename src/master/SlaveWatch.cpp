// SPDX-License-Identifier: MIT
#include "master/SlaveWatch.h"

#include "common/HostCalls.h"

#include <map>

namespace tamo::detail {

namespace {

bool live(const NetControlNS::struAddress& entry, qint64 now)
{
    return entry.lastOnlineTime < 0 || now - entry.lastOnlineTime <= MultiNetControl::kSlaveOfflineAfterUs;
}

} // namespace

void SlaveWatch::setHandler(NetControlNS::SlaveEventHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
    if (m_handler && !m_task)
        m_task = m_timer.add([this] { return lookForSilence(); }, TimerThread::Clock::now() + kCheckEvery);
}

void SlaveWatch::joined(const NetControlNS::struAddress& entry)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_offLine.remove(SlaveRoster::admissionKey(entry));
    }
    tell(NetControlNS::SlaveEvent::Joined, entry);
}

void SlaveWatch::heartbeat(const NetControlNS::struAddress& sender)
{
    const QString key = SlaveRoster::admissionKey(sender);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_offLine.contains(key))
            return;
    }
    const std::optional<qint64> now = hostClock(m_cbk);
    for (const NetControlNS::struAddress& entry : m_roster.entries()) {
        if (SlaveRoster::admissionKey(entry) != key || !now || !live(entry, *now))
            continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_offLine.remove(key))
                return;
        }
        tell(NetControlNS::SlaveEvent::CameBack, entry);
        return;
    }
}

std::optional<TimerThread::Clock::time_point> SlaveWatch::lookForSilence()
{
    const std::optional<qint64> now = hostClock(m_cbk);
    // Each slave's first entry, and whether any of its entries is on line.
    std::map<QString, std::pair<NetControlNS::struAddress, bool>> slaves;
    if (now) {
        for (const NetControlNS::struAddress& entry : m_roster.entries()) {
            auto& slave = slaves.try_emplace(SlaveRoster::admissionKey(entry), entry, false).first->second;
            slave.second = slave.second || live(entry, *now);
        }
    }
    std::vector<NetControlNS::struAddress> wentOff;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_handler) {
            m_task.reset();
            return std::nullopt;
        }
        for (auto it = m_offLine.begin(); it != m_offLine.end();)
            it = slaves.count(*it) ? std::next(it) : m_offLine.erase(it);  // gone from the roster
        for (const auto& [key, slave] : slaves) {
            if (!slave.second && !m_offLine.contains(key)) {
                m_offLine.insert(key);
                wentOff.push_back(slave.first);
            }
        }
    }
    for (const NetControlNS::struAddress& slave : wentOff)
        tell(NetControlNS::SlaveEvent::WentOffLine, slave);
    return TimerThread::Clock::now() + kCheckEvery;
}

void SlaveWatch::tell(NetControlNS::SlaveEvent event, const NetControlNS::struAddress& slave)
{
    std::lock_guard<std::mutex> tellLock(m_tellMutex);
    NetControlNS::SlaveEventHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (handler)
        runGuarded("slaveEventHandler", [&] { handler(event, slave); });
}

} // namespace tamo::detail
