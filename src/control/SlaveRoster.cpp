// SPDX-License-Identifier: MIT
// The master's roster of slave players and its queries.
#include "MultiNetControl.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/MessageCode.h"

#include <algorithm>

using namespace tamo::detail;

namespace {

constexpr qint64 kRefreshWithinUs = 4500000;

bool layerMatches(int wanted, int entryLayer)
{
    return wanted == -1 || wanted == entryLayer;
}

} // namespace

void MultiNetControl::setSlaves(QSet<QString> slaves)
{
    logLine("MultiNetControl::setSlaves slave's count = %d\n", static_cast<int>(slaves.size()));
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    m_slaveSet = std::move(slaves);
}

bool MultiNetControl::refreshSlavePlayers()
{
    if (!m_isMaster || !m_unicastClient)
        return false;
    sendDatagram(enM2SFindPartnerCmd, -1, nullptr, 0, nullptr, 0, m_broadcastAddr);
    return true;
}

QSet<QString> MultiNetControl::getAdmittedSlaves()
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaveSet;
}

std::vector<NetControlNS::struAddress> MultiNetControl::getUnadmittedPartners()
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_unadmittedPartners;
}

void MultiNetControl::setAdmitRestartedSlaves(bool admit)
{
    logLine("MultiNetControl::setAdmitRestartedSlaves admit = %d\n", admit ? 1 : 0);
    m_admitRestartedSlaves = admit;
}

std::vector<NetControlNS::struAddress> MultiNetControl::rosterEndpoints() const
{
    std::vector<NetControlNS::struAddress> endpoints;
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (const NetControlNS::struAddress& entry : m_slaves) {
        const bool known = std::any_of(endpoints.begin(), endpoints.end(), [&](const NetControlNS::struAddress& e) {
            return e.port == entry.port && e.ip == entry.ip;
        });
        if (!known)
            endpoints.push_back(entry);
    }
    return endpoints;
}

bool MultiNetControl::findSlavePlayer()
{
    if (!m_isMaster)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_rosterMutex);
        m_slaves.clear();
    }
    if (!m_unicastClient)
        return false;
    sendDatagram(enM2SFindPartnerCmd, -1, nullptr, 0, nullptr, 0, m_broadcastAddr);
    return true;
}

std::vector<NetControlNS::struAddress> MultiNetControl::getSlavesPlayer()
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaves;
}

// The tests below walk a snapshot of the roster, so that neither their lines nor the host clock are
// called with the roster locked.
bool MultiNetControl::isAllSlavePrepared(int layerId)
{
    for (const NetControlNS::struAddress& entry : getSlavesPlayer()) {
        logLine("isAllSlavePrepared(ip:processid = %s_%d) it->isPrepared = %d\n", entry.ip.c_str(),
                entry.processId, entry.isPrepared ? 1 : 0);
        if (layerMatches(layerId, entry.layerId) && !entry.isPrepared)
            return false;
    }
    return true;
}

bool MultiNetControl::isAllSlaveComplete(int layerId)
{
    for (const NetControlNS::struAddress& entry : getSlavesPlayer()) {
        logLine("isAllSlaveComplete layerid(%d) it->layerId = %d, it->isComplete = %d\n", layerId, entry.layerId,
                entry.isComplete ? 1 : 0);
        const std::optional<qint64> now = hostClock(m_cbk);
        if (now && *now - entry.lastOnlineTime > kSlaveOfflineAfterUs) {
            logLine("isAllSlaveComplete slave(ip:port_proc = %s:%d_%d) is off line!\n", entry.ip.c_str(), entry.port,
                    entry.processId);
            continue;
        }
        if (layerMatches(layerId, entry.layerId) && !entry.isComplete)
            return false;
    }
    return true;
}

bool MultiNetControl::isAllSlaveClockSucced()
{
    for (const NetControlNS::struAddress& entry : getSlavesPlayer()) {
        logLine("isAllSlaveClockSucced it->isClockSynced = %d\n", entry.isClockSynced ? 1 : 0);
        if (!entry.isClockSynced)
            return false;
    }
    return true;
}

void MultiNetControl::clearSlaveCompleteFlags(int layerId)
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (NetControlNS::struAddress& entry : m_slaves) {
        if (entry.layerId == layerId)
            entry.isComplete = false;
    }
}

void MultiNetControl::setSlaveLastOnlineTime(qint64 time, NetControlNS::struAddress addr)
{
    qint64 silentUs = 0;
    {
        std::lock_guard<std::mutex> lock(m_rosterMutex);
        for (NetControlNS::struAddress& entry : m_slaves) {
            if (entry.ip != addr.ip || entry.processId != addr.processId)
                continue;
            // A slave silent for 4.5 s or more stays off line until the next discovery rebuilds the roster,
            // unless the host asked for recovery.
            const bool fresh = entry.lastOnlineTime < 0 || time - entry.lastOnlineTime < kRefreshWithinUs;
            if (!fresh && !m_recovery)
                continue;
            if (!fresh)
                silentUs = std::max(silentUs, time - entry.lastOnlineTime);
            entry.lastOnlineTime = time;
        }
    }
    if (silentUs > kSlaveOfflineAfterUs)
        logLine("MultiNetControl::setRecovery slave %s_%d is on line again after %.1f s of silence\n", addr.ip.c_str(),
                addr.processId, double(silentUs) / 1e6);
}
