// SPDX-License-Identifier: MIT
#include "master/MasterReportHandler.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/HealthReport.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"

namespace tamo::detail {

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
        {enS2MHealthReportCmd, &MasterReportHandler::noteHealth},
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
    m_parts.channel.send(enM2SClockSyncReplyCmd, -1, datagram.payload(), kClockSyncStampsSize, nullptr, 0,
                         datagram.sender);
}

void MasterReportHandler::answerHeartbeat(const ReceivedDatagram& datagram)
{
    if (const std::optional<qint64> now = hostClock(m_parts.cbk)) {
        m_parts.roster.setSlaveLastOnlineTime(*now, datagram.sender);
        m_parts.watch.heartbeat(datagram.sender);
    }
    m_parts.channel.send(enM2SHeartbeatReplyCmd, -1, nullptr, 0, nullptr, 0, datagram.sender);
}

void MasterReportHandler::admitPartner(const ReceivedDatagram& datagram)
{
    NetControlNS::struAddress partner = datagram.sender;
    partner.layerId = datagram.layerId();
    const std::optional<Capabilities> said = decodeCapabilities(datagram.payload(), datagram.payloadLength());
    const SlaveRoster::Admission admission =
        m_parts.roster.admit(partner, hostClock(m_parts.cbk), said ? said->bits : 0);
    if (admission.probe) {
        logLine("MultiNetControl::setAdmitRestartedSlaves %s asks for the place of %s_%d: asking that one whether "
                "it is still there\n",
                SlaveRoster::admissionKey(partner).toStdString().c_str(), admission.probe->ip.c_str(),
                admission.probe->processId);
        // Twice: a question or its answer lost on the way must not cost a live slave its place.
        for (int copy = 0; copy < 2; ++copy)
            m_parts.channel.send(enM2SFindPartnerCmd, -1, nullptr, 0, nullptr, 0, *admission.probe);
    }
    if (!admission.added)
        return;
    const std::string key = SlaveRoster::admissionKey(partner).toStdString();
    if (!admission.replaced.isEmpty())
        logLine("MultiNetControl::setAdmitRestartedSlaves admitted %s in place of %s, whose entries had gone silent\n",
                key.c_str(), admission.replaced.toStdString().c_str());
    logLine("enS2MReportPartnerCmd   slave_addr.ip = %s, slave_addr.port = %d, slave_addr.layerId = %d\n",
            partner.ip.c_str(), partner.port, partner.layerId);
    if (admission.entriesOfSlave == MultiNetControl::kMaxRosterEntriesPerSlave)
        logLine(LineRate::FloodLimited,
                "enS2MReportPartnerCmd WARING slave %s holds %d roster entries, the most one slave may: its reports "
                "of further ports and layers are ignored until the next search\n",
                key.c_str(), admission.entriesOfSlave);
    if (admission.entriesOfSlave == 1)
        m_parts.watch.joined(partner);
}

void MasterReportHandler::commandAcknowledged(const ReceivedDatagram& datagram)
{
    m_parts.roster.noteAcknowledges(datagram.sender);
    m_parts.delivery.acknowledged(datagram);
}

void MasterReportHandler::markClockSynced(const ReceivedDatagram& datagram)
{
    m_parts.roster.markClockSynced(datagram.sender.ip);
}

template <typename... Args>
void MasterReportHandler::reportLine(const NetControlNS::struAddress& sender, const char* format, Args... args) const
{
    if (m_parts.roster.isAdmitted(sender))
        logLine(format, args...);
    else
        logLineFrom(sender.ip, format, args...);
}

void MasterReportHandler::markPrepared(const ReceivedDatagram& datagram)
{
    reportLine(datagram.sender, "=====> MASTER handle_message(Time:%s, Seq:%d) slave player's ip:port(%s:%d) : slave report prepared!\n",
            currentLogTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port);
    setFlagOfSenderLayer(datagram, &NetControlNS::struAddress::isPrepared,
                         "======> enS2MReportPreparedCmd it->ip = %s, it->port = %d, parseLayerId = %d\n");
}

void MasterReportHandler::markComplete(const ReceivedDatagram& datagram)
{
    reportLine(datagram.sender, "=====> MASTER handle_message(Time:%s, Seq:%d) slave player's ip:port(%s:%d) : slave report complete! "
            "slaves count = %d\n",
            currentLogTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port,
            static_cast<int>(m_parts.roster.size()));
    setFlagOfSenderLayer(datagram, &NetControlNS::struAddress::isComplete,
                         "======> enS2MNotifyComplete it->ip = %s, it->port = %d, parseLayerId = %d\n");
}

void MasterReportHandler::noteHealth(const ReceivedDatagram& datagram)
{
    if (!m_parts.flags.has(NetControlNS::HealthReports))
        return;
    const std::optional<HealthReport> report = decodeHealthReport(datagram.payload(), datagram.payloadLength());
    const std::optional<qint64> now = hostClock(m_parts.cbk);
    if (!report) {
        logLineFrom(datagram.sender.ip, "MultiNetControl WARING health report from %s:%d of an unknown form: dropped\n",
                datagram.sender.ip.c_str(), datagram.sender.port);
        return;
    }
    // Kept for roster endpoints only: anybody else's is no screen of this show.
    for (const NetControlNS::struAddress& entry : m_parts.roster.entries()) {
        if (entry.ip != datagram.sender.ip || entry.port != datagram.sender.port)
            continue;
        if (m_parts.health.note(datagram.sender, *report, now.value_or(-1)))
            m_parts.watch.healthChanged(entry);
        return;
    }
}

void MasterReportHandler::setFlagOfSenderLayer(const ReceivedDatagram& datagram,
                                               bool NetControlNS::struAddress::*flag, const char* entryLine)
{
    for (const NetControlNS::struAddress& entry : m_parts.roster.markLayer(datagram.sender, datagram.layerId(), flag))
        logLine(entryLine, entry.ip.c_str(), entry.port, datagram.layerId());
}

} // namespace tamo::detail
