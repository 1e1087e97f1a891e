// SPDX-License-Identifier: MIT
// A slave's link to its master: the master's IP that the host set, the address learnt from the master's
// search or start of clock synchronisation, and the time of the master's last heartbeat answer.
#pragma once

#include "MultiNetControl.h"

#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <string>

namespace tamo::detail {

class MasterLink
{
public:
    // What learn() made of a sender.
    enum class Learnt
    {
        Kept,       // an address was known already; nothing changed
        First,      // the first address: learnt
        Restarted,  // under recovery, the master's program started again: its new address replaces the old
    };

    void setMasterIp(std::string masterIp);
    std::string masterIp() const;
    NetControlNS::struAddress masterAddress() const;

    // Keeps `sender` as the master's address unless one is known already; with `followRestart`, a sender
    // with another port or process id replaces it. `previous` receives the address known before.
    Learnt learn(const NetControlNS::struAddress& sender, bool followRestart, NetControlNS::struAddress& previous);

    // The host time of the master's last heartbeat answer; -1 before the first.
    void noteAnswer(qint64 hostTime) { m_lastMasterTime = hostTime; }
    qint64 lastAnswer() const { return m_lastMasterTime; }
    // True the first time only: masterLostCbk is called once in the object's life.
    bool claimLostNotice() { return !m_masterLostNotified.exchange(true); }

private:
    mutable std::mutex m_addressMutex;          // m_masterAddr and m_masterIp
    NetControlNS::struAddress m_masterAddr;     // guarded by m_addressMutex; written by the worker, read by all senders
    std::string m_masterIp;                     // guarded by m_addressMutex; written by the host, read by the worker
    std::atomic<qint64> m_lastMasterTime{-1};   // written by the worker and the receiving thread, read by the heartbeat threads
    std::atomic<bool> m_masterLostNotified{false};  // heartbeat threads
};

} // namespace tamo::detail
