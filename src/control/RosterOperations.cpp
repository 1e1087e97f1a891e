// SPDX-License-Identifier: MIT
// The master's roster operations of the control object: admission, search and the host's queries.
#include "MultiNetControl.h"

#include "common/LogLine.h"
#include "control/MultiNetControlPrivate.h"
#include "wire/MessageCode.h"

using namespace tamo::detail;

void MultiNetControl::setSlaves(QSet<QString> slaves)
{
    logLine("MultiNetControl::setSlaves slave's count = %d\n", static_cast<int>(slaves.size()));
    m_impl->m_roster.setAdmitted(std::move(slaves));
}

bool MultiNetControl::findSlavePlayer()
{
    if (!m_impl->m_flags.m_isMaster)
        return false;
    m_impl->m_roster.clear();
    if (!m_impl->m_unicastClient)
        return false;
    m_impl->m_channel.send(enM2SFindPartnerCmd, -1, nullptr, 0, nullptr, 0, m_impl->m_broadcastAddr);
    return true;
}

bool MultiNetControl::refreshSlavePlayers()
{
    if (!m_impl->m_flags.m_isMaster || !m_impl->m_unicastClient)
        return false;
    m_impl->m_channel.send(enM2SFindPartnerCmd, -1, nullptr, 0, nullptr, 0, m_impl->m_broadcastAddr);
    return true;
}

std::vector<NetControlNS::struAddress> MultiNetControl::getSlavesPlayer()
{
    return m_impl->m_roster.entries();
}

QSet<QString> MultiNetControl::getAdmittedSlaves()
{
    return m_impl->m_roster.admitted();
}

std::vector<NetControlNS::struAddress> MultiNetControl::getUnadmittedPartners()
{
    return m_impl->m_roster.unadmitted();
}

bool MultiNetControl::isAllSlavePrepared(int layerId)
{
    return m_impl->m_roster.isAllSlavePrepared(layerId);
}

bool MultiNetControl::isAllSlaveComplete(int layerId)
{
    return m_impl->m_roster.isAllSlaveComplete(layerId);
}

bool MultiNetControl::isAllSlaveClockSucced()
{
    return m_impl->m_roster.isAllSlaveClockSucced();
}

std::vector<NetControlNS::struAddress> MultiNetControl::getSlavesNotReady(NetControlNS::Readiness what, int layerId)
{
    return m_impl->m_roster.notReady(what, layerId);
}

void MultiNetControl::setSlaveEventHandler(NetControlNS::SlaveEventHandler handler)
{
    logLine("MultiNetControl::setSlaveEventHandler handler = %d\n", handler ? 1 : 0);
    m_impl->m_watch.setHandler(std::move(handler));
}

void MultiNetControl::clearSlaveCompleteFlags(int layerId)
{
    m_impl->m_roster.clearSlaveCompleteFlags(layerId);
}
