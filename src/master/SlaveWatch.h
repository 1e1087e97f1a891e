// SPDX-License-Identifier: MIT
// The events a master's host is told of its slaves: one joined the roster, went off line, came back. A
// slave is one process ("ip_processId"), on line while any of its roster entries is: they share its
// heartbeats; one that has sent none yet is not off line, it has just been found.
#pragma once

#include "MultiNetControl.h"
#include "common/TimerThread.h"
#include "master/SlaveRoster.h"

#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

namespace tamo::detail {

class SlaveWatch
{
public:
    // How often the roster is looked at for slaves that went off line.
    static constexpr std::chrono::milliseconds kCheckEvery{100};

    SlaveWatch(const NetControlNS::slaveControlCbk* cbk, const SlaveRoster& roster, TimerThread& timer)
        : m_cbk(cbk), m_roster(roster), m_timer(timer)
    {
    }

    // An empty handler stops the events. Any thread.
    void setHandler(NetControlNS::SlaveEventHandler handler);
    // `entry` is the first roster entry of its slave. Worker thread.
    void joined(const NetControlNS::struAddress& entry);
    // A heartbeat of `sender` was noted in the roster. Worker thread.
    void heartbeat(const NetControlNS::struAddress& sender);
    // `entry`'s slave reported other figures of its health. Worker thread.
    void healthChanged(const NetControlNS::struAddress& entry) { tell(NetControlNS::SlaveEvent::HealthChanged, entry); }

private:
    // The timer's task: tells the slaves that went off line since the last look.
    std::optional<TimerThread::Clock::time_point> lookForSilence();
    // Tells the host, one event at a time; without any lock but m_tellMutex.
    void tell(NetControlNS::SlaveEvent event, const NetControlNS::struAddress& slave);

    const NetControlNS::slaveControlCbk* const m_cbk;  // not owned; for the host clock
    const SlaveRoster& m_roster;
    TimerThread& m_timer;
    std::mutex m_mutex;                         // the three below: the host sets, the worker and the timer read
    NetControlNS::SlaveEventHandler m_handler;
    QSet<QString> m_offLine;                    // keys told off line
    std::optional<TimerThread::Id> m_task;      // the timer's task while there is a handler
    std::mutex m_tellMutex;                     // one event at a time, across the worker and the timer
};

} // namespace tamo::detail
