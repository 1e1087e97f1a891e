// SPDX-License-Identifier: MIT
#include "master/MasterReportHandler.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "sending/DeliveryRepeater.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"

#include <algorithm>
#include <string>

namespace tamo::detail {

namespace {

QString admissionKey(const NetControlNS::struAddress& sender)
{
    return QString::fromStdString(sender.ip + "_" + std::to_string(sender.processId));
}

bool sameEndpointAndLayer(const NetControlNS::struAddress& entry, const NetControlNS::struAddress& sender, int layerId)
{
    return entry.ip == sender.ip && entry.port == sender.port && entry.layerId == layerId;
}

} // namespace

void MasterReportHandler::handle(const ReceivedDatagram& datagram)
{
    using Handler = void (MasterReportHandler::*)(const ReceivedDatagram&);
    static const struct
    {
        std::uint16_t code;
        Handler handler;
    } kHandlers[] = {
        {enS2MClockSyncRequestCmd, &MasterReportHandler::answerClockSyncRequest},
        {enS2MHeartbeatCmd, &MasterReportHandler::answerHeartbeat},
        {enS2MReportPartnerCmd, &MasterReportHandler::admitPartner},
        {enS2MNotifyMasterClockPrepared, &MasterReportHandler::markClockSynced},
        {enS2MReportPreparedCmd, &MasterReportHandler::markPrepared},
        {enS2MNotifyComplete, &MasterReportHandler::markComplete},
        {enS2MCommandAckCmd, &MasterReportHandler::commandAcknowledged},
    };
    for (const auto& entry : kHandlers) {
        if (entry.code == datagram.code()) {
            (this->*entry.handler)(datagram);
            return;
        }
    }
}

void MasterReportHandler::answerClockSyncRequest(const ReceivedDatagram& datagram)
{
    // The request's stamps go back unchanged; the endpoint writes the reply's send time into slot 1.
    m_control.sendDatagram(enM2SClockSyncReplyCmd, -1, datagram.payload(), kClockSyncStampsSize, nullptr, 0,
                           datagram.sender);
}

void MasterReportHandler::answerHeartbeat(const ReceivedDatagram& datagram)
{
    if (const std::optional<qint64> now = hostClock(m_control.m_cbk))
        m_control.setSlaveLastOnlineTime(*now, datagram.sender);
    m_control.sendDatagram(enM2SHeartbeatReplyCmd, -1, nullptr, 0, nullptr, 0, datagram.sender);
}

void MasterReportHandler::admitPartner(const ReceivedDatagram& datagram)
{
    NetControlNS::struAddress partner = datagram.sender;
    const QString key = admissionKey(partner);
    partner.layerId = datagram.layerId();
    const std::optional<qint64> now = hostClock(m_control.m_cbk);  // never with a lock held
    QString replaced;
    int entriesOfSlave = 0;
    {
        std::lock_guard<std::mutex> lock(m_control.m_rosterMutex);
        if (!m_control.m_slaveSet.contains(key)) {
            if (m_control.m_admitRestartedSlaves)
                replaced = admitInPlaceOfSilentSlave(partner, key, now);
            if (replaced.isEmpty()) {
                noteUnadmitted(partner, key, now);
                return;
            }
        }
        for (const NetControlNS::struAddress& entry : m_control.m_slaves) {
            if (sameEndpointAndLayer(entry, partner, partner.layerId))
                return;
            if (entry.ip == partner.ip && entry.processId == partner.processId)
                ++entriesOfSlave;
        }
        // Forged reports with an admitted key could otherwise add an entry per source port and layer.
        if (entriesOfSlave >= MultiNetControl::kMaxRosterEntriesPerSlave)
            return;
        m_control.m_slaves.push_back(partner);
        ++entriesOfSlave;
    }
    if (!replaced.isEmpty())
        logLine("MultiNetControl::setAdmitRestartedSlaves admitted %s in place of %s, whose entries had gone silent\n",
                key.toStdString().c_str(), replaced.toStdString().c_str());
    logLine("enS2MReportPartnerCmd   slave_addr.ip = %s, slave_addr.port = %d, slave_addr.layerId = %d\n",
            partner.ip.c_str(), partner.port, partner.layerId);
    if (entriesOfSlave == MultiNetControl::kMaxRosterEntriesPerSlave)
        logLine(LineRate::FloodLimited,
                "enS2MReportPartnerCmd WARING slave %s holds %d roster entries, the most one slave may: its reports "
                "of further ports and layers are ignored until the next search\n",
                key.toStdString().c_str(), entriesOfSlave);
}

QString MasterReportHandler::admitInPlaceOfSilentSlave(const NetControlNS::struAddress& partner, const QString& key,
                                                       std::optional<qint64> now)
{
    if (!now)
        return {};  // without a host clock nobody is ever silent
    std::vector<NetControlNS::struAddress>& roster = m_control.m_slaves;
    // The first admitted key of this IP with roster entries, all of which heartbeated and then went silent.
    for (const NetControlNS::struAddress& candidate : roster) {
        const QString candidateKey = admissionKey(candidate);
        if (candidate.ip != partner.ip || !m_control.m_slaveSet.contains(candidateKey))
            continue;
        const bool silent = std::all_of(roster.begin(), roster.end(), [&](const NetControlNS::struAddress& e) {
            return e.ip != candidate.ip || e.processId != candidate.processId
                   || (e.lastOnlineTime >= 0 && *now - e.lastOnlineTime > MultiNetControl::kSlaveOfflineAfterUs);
        });
        if (!silent)
            continue;
        const int gonePid = candidate.processId;
        roster.erase(std::remove_if(roster.begin(), roster.end(),
                                    [&](const NetControlNS::struAddress& e) {
                                        return e.ip == partner.ip && e.processId == gonePid;
                                    }),
                     roster.end());
        m_control.m_slaveSet.remove(candidateKey);
        m_control.m_slaveSet.insert(key);
        return candidateKey;
    }
    return {};
}

void MasterReportHandler::noteUnadmitted(const NetControlNS::struAddress& partner, const QString& key,
                                         std::optional<qint64> now)
{
    std::vector<NetControlNS::struAddress>& noted = m_control.m_unadmittedPartners;
    noted.erase(std::remove_if(noted.begin(), noted.end(),
                               [&](const NetControlNS::struAddress& e) { return admissionKey(e) == key; }),
                noted.end());
    if (int(noted.size()) >= MultiNetControl::kMaxUnadmittedPartners)
        noted.erase(noted.begin());
    NetControlNS::struAddress entry = partner;
    entry.lastOnlineTime = now.value_or(-1);
    noted.push_back(entry);
}

void MasterReportHandler::commandAcknowledged(const ReceivedDatagram& datagram)
{
    if (const std::optional<Acknowledgement> ack = decodeAcknowledgement(datagram.payload(), datagram.payloadLength()))
        m_control.m_repeater->acknowledged(ack->code, ack->seq, DeliveryPeer{datagram.sender.ip, datagram.sender.port});
}

void MasterReportHandler::markClockSynced(const ReceivedDatagram& datagram)
{
    std::lock_guard<std::mutex> lock(m_control.m_rosterMutex);
    for (NetControlNS::struAddress& entry : m_control.m_slaves) {
        if (entry.ip == datagram.sender.ip)
            entry.isClockSynced = true;
    }
}

LineRate MasterReportHandler::rateOfReportLine(const NetControlNS::struAddress& sender) const
{
    std::lock_guard<std::mutex> lock(m_control.m_rosterMutex);
    return m_control.m_slaveSet.contains(admissionKey(sender)) ? LineRate::Every : LineRate::FloodLimited;
}

void MasterReportHandler::markPrepared(const ReceivedDatagram& datagram)
{
    logLine(rateOfReportLine(datagram.sender), "=====> MASTER handle_message(Time:%s, Seq:%d) slave player's ip:port(%s:%d) : slave report prepared!\n",
            m_control.getCurrentTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port);
    setFlagOfSenderLayer(datagram, &NetControlNS::struAddress::isPrepared,
                         "======> enS2MReportPreparedCmd it->ip = %s, it->port = %d, parseLayerId = %d\n");
}

void MasterReportHandler::markComplete(const ReceivedDatagram& datagram)
{
    std::size_t rosterSize = 0;
    {
        std::lock_guard<std::mutex> lock(m_control.m_rosterMutex);
        rosterSize = m_control.m_slaves.size();
    }
    logLine(rateOfReportLine(datagram.sender), "=====> MASTER handle_message(Time:%s, Seq:%d) slave player's ip:port(%s:%d) : slave report complete! "
            "slaves count = %d\n",
            m_control.getCurrentTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port,
            static_cast<int>(rosterSize));
    setFlagOfSenderLayer(datagram, &NetControlNS::struAddress::isComplete,
                         "======> enS2MNotifyComplete it->ip = %s, it->port = %d, parseLayerId = %d\n");
}

void MasterReportHandler::setFlagOfSenderLayer(const ReceivedDatagram& datagram,
                                               bool NetControlNS::struAddress::*flag, const char* entryLine)
{
    std::vector<NetControlNS::struAddress> marked;
    {
        std::lock_guard<std::mutex> lock(m_control.m_rosterMutex);
        for (NetControlNS::struAddress& entry : m_control.m_slaves) {
            if (sameEndpointAndLayer(entry, datagram.sender, datagram.layerId())) {
                entry.*flag = true;
                marked.push_back(entry);
            }
        }
    }
    for (const NetControlNS::struAddress& entry : marked)
        logLine(entryLine, entry.ip.c_str(), entry.port, datagram.layerId());
}

} // namespace tamo::detail
