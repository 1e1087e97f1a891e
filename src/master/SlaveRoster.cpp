// SPDX-License-Identifier: MIT
#include "master/SlaveRoster.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/Payloads.h"

#include <algorithm>
#include <string>

namespace tamo::detail {

namespace {

constexpr qint64 kRefreshWithinUs = 4500000;

bool layerMatches(int wanted, int entryLayer)
{
    return wanted == -1 || wanted == entryLayer;
}

bool sameEndpointAndLayer(const NetControlNS::struAddress& entry, const NetControlNS::struAddress& sender, int layerId)
{
    return entry.ip == sender.ip && entry.port == sender.port && entry.layerId == layerId;
}

} // namespace

QString SlaveRoster::admissionKey(const NetControlNS::struAddress& sender)
{
    return QString::fromStdString(sender.ip + "_" + std::to_string(sender.processId));
}

void SlaveRoster::setAdmitted(QSet<QString> slaves)
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    m_slaveSet = std::move(slaves);
}

QSet<QString> SlaveRoster::admitted() const
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaveSet;
}

bool SlaveRoster::isAdmitted(const NetControlNS::struAddress& sender) const
{
    const QString key = admissionKey(sender);
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaveSet.contains(key);
}

void SlaveRoster::clear()
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    m_slaves.clear();
}

std::vector<NetControlNS::struAddress> SlaveRoster::entries() const
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaves;
}

std::size_t SlaveRoster::size() const
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_slaves.size();
}

std::vector<NetControlNS::struAddress> SlaveRoster::unadmitted() const
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    return m_unadmittedPartners;
}

std::vector<NetControlNS::struAddress> SlaveRoster::acknowledgingEndpoints() const
{
    std::vector<NetControlNS::struAddress> endpoints;
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (const NetControlNS::struAddress& entry : m_slaves) {
        const Endpoint endpoint{entry.ip, entry.port};
        const auto said = m_capabilities.find(endpoint);
        const bool acknowledges = (said != m_capabilities.end() && (said->second & Capabilities::AcknowledgedDelivery))
                                  || m_acknowledging.count(endpoint);
        if (!acknowledges)
            continue;  // an older slave, or one without acknowledged delivery: each command once
        const bool known = std::any_of(endpoints.begin(), endpoints.end(), [&](const NetControlNS::struAddress& e) {
            return e.port == entry.port && e.ip == entry.ip;
        });
        if (!known)
            endpoints.push_back(entry);
    }
    return endpoints;
}

// The queries below walk a snapshot of the roster, so that neither their lines nor the host clock are
// called with the roster locked.
bool SlaveRoster::isAllSlavePrepared(int layerId) const
{
    for (const NetControlNS::struAddress& entry : entries()) {
        logLine("isAllSlavePrepared(ip:processid = %s_%d) it->isPrepared = %d\n", entry.ip.c_str(),
                entry.processId, entry.isPrepared ? 1 : 0);
        if (layerMatches(layerId, entry.layerId) && !entry.isPrepared)
            return false;
    }
    return true;
}

bool SlaveRoster::isAllSlaveComplete(int layerId) const
{
    for (const NetControlNS::struAddress& entry : entries()) {
        logLine("isAllSlaveComplete layerid(%d) it->layerId = %d, it->isComplete = %d\n", layerId, entry.layerId,
                entry.isComplete ? 1 : 0);
        const std::optional<qint64> now = hostClock(m_cbk);
        if (now && *now - entry.lastOnlineTime > MultiNetControl::kSlaveOfflineAfterUs) {
            logLine("isAllSlaveComplete slave(ip:port_proc = %s:%d_%d) is off line!\n", entry.ip.c_str(), entry.port,
                    entry.processId);
            continue;
        }
        if (layerMatches(layerId, entry.layerId) && !entry.isComplete)
            return false;
    }
    return true;
}

bool SlaveRoster::isAllSlaveClockSucced() const
{
    for (const NetControlNS::struAddress& entry : entries()) {
        logLine("isAllSlaveClockSucced it->isClockSynced = %d\n", entry.isClockSynced ? 1 : 0);
        if (!entry.isClockSynced)
            return false;
    }
    return true;
}

void SlaveRoster::clearSlaveCompleteFlags(int layerId)
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (NetControlNS::struAddress& entry : m_slaves) {
        if (entry.layerId == layerId)
            entry.isComplete = false;
    }
}

std::vector<NetControlNS::struAddress> SlaveRoster::notReady(NetControlNS::Readiness what, int layerId) const
{
    std::vector<NetControlNS::struAddress> behind;
    for (const NetControlNS::struAddress& entry : entries()) {
        switch (what) {
        case NetControlNS::Readiness::Prepared:
            if (layerMatches(layerId, entry.layerId) && !entry.isPrepared)
                behind.push_back(entry);
            break;
        case NetControlNS::Readiness::ClockSynced:
            if (!entry.isClockSynced)
                behind.push_back(entry);
            break;
        case NetControlNS::Readiness::Complete:
            if (layerMatches(layerId, entry.layerId) && !entry.isComplete)
                behind.push_back(entry);
            break;
        }
    }
    return behind;
}

void SlaveRoster::noteAcknowledges(const NetControlNS::struAddress& sender)
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    if (m_acknowledging.size() < kMaxAcknowledging)
        m_acknowledging.insert(Endpoint{sender.ip, sender.port});
}

std::uint16_t SlaveRoster::capabilitiesOf(const NetControlNS::struAddress& entry) const
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    const auto said = m_capabilities.find(Endpoint{entry.ip, entry.port});
    return said == m_capabilities.end() ? 0 : said->second;
}

SlaveRoster::Admission SlaveRoster::admit(const NetControlNS::struAddress& partner, std::optional<qint64> now,
                                          std::uint16_t capabilities)
{
    const QString key = admissionKey(partner);
    Admission admission;
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    if (const auto probe = m_probes.find(key); probe != m_probes.end())
        probe->second.answered = true;  // the old process is there: it answered the question
    if (!m_slaveSet.contains(key)) {
        if (m_flags.has(NetControlNS::AdmitRestartedSlaves) && now)
            admission.replaced = admitInPlaceOfSilentSlave(partner, key, *now, admission.probe);
        if (admission.replaced.isEmpty()) {
            noteUnadmitted(partner, key, now);
            return admission;
        }
    }
    for (const NetControlNS::struAddress& entry : m_slaves) {
        if (sameEndpointAndLayer(entry, partner, partner.layerId))
            return admission;
        if (entry.ip == partner.ip && entry.processId == partner.processId)
            ++admission.entriesOfSlave;
    }
    // Forged reports with an admitted key could otherwise add an entry per source port and layer.
    if (admission.entriesOfSlave >= MultiNetControl::kMaxRosterEntriesPerSlave)
        return admission;
    m_slaves.push_back(partner);
    m_capabilities[Endpoint{partner.ip, partner.port}] = capabilities;
    admission.added = true;
    ++admission.entriesOfSlave;
    return admission;
}

QString SlaveRoster::admitInPlaceOfSilentSlave(const NetControlNS::struAddress& partner, const QString& key, qint64 now,
                                               std::optional<NetControlNS::struAddress>& probe)
{
    // The first admitted key of this IP with roster entries, all of which heartbeated and then went silent.
    for (const NetControlNS::struAddress& candidate : m_slaves) {
        const QString candidateKey = admissionKey(candidate);
        if (candidate.ip != partner.ip || !m_slaveSet.contains(candidateKey))
            continue;
        // In a keyed group the new process proved itself with its signature: it need not wait out the old
        // one's silence, which only an unkeyed group needs against forged reports.
        const bool silent = m_flags.m_keyed || std::all_of(m_slaves.begin(), m_slaves.end(), [&](const NetControlNS::struAddress& e) {
            return e.ip != candidate.ip || e.processId != candidate.processId
                   || (e.lastOnlineTime >= 0 && now - e.lastOnlineTime > MultiNetControl::kSlaveOfflineAfterUs);
        });
        if (!silent || !confirmedGone(candidate, candidateKey, now, probe))
            continue;
        m_probes.erase(candidateKey);
        const int gonePid = candidate.processId;
        m_slaves.erase(std::remove_if(m_slaves.begin(), m_slaves.end(),
                                      [&](const NetControlNS::struAddress& e) {
                                          return e.ip == partner.ip && e.processId == gonePid;
                                      }),
                       m_slaves.end());
        m_slaveSet.remove(candidateKey);
        m_slaveSet.insert(key);
        m_unadmittedPartners.erase(std::remove_if(m_unadmittedPartners.begin(), m_unadmittedPartners.end(),
                                                  [&](const NetControlNS::struAddress& e) { return admissionKey(e) == key; }),
                                   m_unadmittedPartners.end());
        return candidateKey;
    }
    return {};
}

bool SlaveRoster::confirmedGone(const NetControlNS::struAddress& candidate, const QString& candidateKey, qint64 now,
                                std::optional<NetControlNS::struAddress>& probe)
{
    if (m_flags.m_keyed)
        return true;
    // Silence can be forged (a stop of clock sync ends the heartbeats of a live slave): the old process is
    // asked, with a search sent to its endpoint, and only a question that stays unanswered lets the new one in.
    auto it = m_probes.find(candidateKey);
    if (it != m_probes.end() && it->second.answered && now - it->second.firstAskedUs > MultiNetControl::kSlaveOfflineAfterUs)
        it = m_probes.erase(it);  // answered long ago: it may have gone since, so ask again
    if (it == m_probes.end()) {
        if (m_probes.size() < kMaxProbes) {
            m_probes.emplace(candidateKey, Probe{now, now, 1, false});
            probe = candidate;
        }
        return false;
    }
    Probe& asked = it->second;
    if (asked.answered)
        return false;
    if (asked.asks < kProbeAsks) {
        if (now - asked.lastAskedUs >= kProbeAskEveryUs) {
            ++asked.asks;
            asked.lastAskedUs = now;
            probe = candidate;
        }
        return false;
    }
    return now - asked.lastAskedUs >= kProbeAnswerWithinUs;
}

void SlaveRoster::noteUnadmitted(const NetControlNS::struAddress& partner, const QString& key,
                                 std::optional<qint64> now)
{
    std::vector<NetControlNS::struAddress>& noted = m_unadmittedPartners;
    noted.erase(std::remove_if(noted.begin(), noted.end(),
                               [&](const NetControlNS::struAddress& e) { return admissionKey(e) == key; }),
                noted.end());
    if (int(noted.size()) >= MultiNetControl::kMaxUnadmittedPartners)
        noted.erase(noted.begin());
    NetControlNS::struAddress entry = partner;
    entry.lastOnlineTime = now.value_or(-1);
    noted.push_back(entry);
}

void SlaveRoster::setSlaveLastOnlineTime(qint64 time, NetControlNS::struAddress addr)
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
            if (!fresh && !m_flags.has(NetControlNS::SlaveBackOnLine))
                continue;
            if (!fresh)
                silentUs = std::max(silentUs, time - entry.lastOnlineTime);
            entry.lastOnlineTime = time;
        }
    }
    if (silentUs > MultiNetControl::kSlaveOfflineAfterUs)
        logLine("MultiNetControl::setRecovery slave %s_%d is on line again after %.1f s of silence\n", addr.ip.c_str(),
                addr.processId, double(silentUs) / 1e6);
}

void SlaveRoster::markClockSynced(const std::string& ip)
{
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (NetControlNS::struAddress& entry : m_slaves) {
        if (entry.ip == ip)
            entry.isClockSynced = true;
    }
}

std::vector<NetControlNS::struAddress> SlaveRoster::markLayer(const NetControlNS::struAddress& sender, int layerId,
                                                              bool NetControlNS::struAddress::*flag)
{
    std::vector<NetControlNS::struAddress> marked;
    std::lock_guard<std::mutex> lock(m_rosterMutex);
    for (NetControlNS::struAddress& entry : m_slaves) {
        if (sameEndpointAndLayer(entry, sender, layerId)) {
            entry.*flag = true;
            marked.push_back(entry);
        }
    }
    return marked;
}

} // namespace tamo::detail
