// SPDX-License-Identifier: MIT
#include "slave/MasterLink.h"

namespace tamo::detail {

void MasterLink::setMasterIp(std::string masterIp)
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    m_masterIp = std::move(masterIp);
}

std::string MasterLink::masterIp() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterIp;
}

NetControlNS::struAddress MasterLink::masterAddress() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterAddr;
}

MasterLink::Learnt MasterLink::learn(const NetControlNS::struAddress& sender, bool followRestart,
                                     NetControlNS::struAddress& previous)
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    previous = m_masterAddr;
    const bool known = !previous.ip.empty() && previous.port != 0;
    const bool restarted = previous.port != sender.port || previous.processId != sender.processId;
    if (known && !(followRestart && restarted))
        return Learnt::Kept;
    m_masterAddr = sender;
    return known ? Learnt::Restarted : Learnt::First;
}

} // namespace tamo::detail
