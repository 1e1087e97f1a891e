// SPDX-License-Identifier: MIT
// The first part of handle_message: completeness, group, role and sender tests, then the two branches.
#include "MultiNetControl.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "control/RecentDatagrams.h"
#include "master/MasterReportHandler.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"
#include "slave/SlaveCommandHandler.h"

#include <chrono>

using namespace tamo::detail;

void MultiNetControl::noteMasterAnswerOnReceipt(const char* data, int len, const NetControlNS::struAddress& from)
{
    // The same tests as the worker's, for the one code that is taken here; the worker still handles it.
    if (!m_isSlave || len <= 0 || peekMessageCode(data, static_cast<std::size_t>(len)) != enM2SHeartbeatReplyCmd)
        return;
    const std::optional<DecodedDatagram> decoded = decodeDatagram(data, static_cast<std::size_t>(len));
    if (!decoded || static_cast<int>(decoded->header.groupId) != m_groupId || from.ip != masterIp())
        return;
    if (const std::optional<qint64> now = hostClock(m_cbk))
        m_lastMasterTime = *now;
}

void MultiNetControl::handle_message(ControlMessage msg)
{
    const std::optional<DecodedDatagram> decoded = decodeDatagram(msg.data.data(), msg.data.size());
    if (!decoded) {
        logLine(LineRate::FloodLimited, "handle_message: WARING  received message from netaddr(%s_%d) maybe incomplete!\n",
                msg.sender.ip.c_str(), msg.sender.port);
        return;
    }
    ReceivedDatagram datagram{msg.data.data(), *decoded, msg.sender};
    datagram.sender.processId = static_cast<int>(decoded->header.processId);

    if (static_cast<int>(decoded->header.groupId) != m_groupId)
        return;
    const bool isSlave = m_isSlave;
    const bool isMaster = m_isMaster;
    if (!isSlave && !isMaster) {
        logLine(LineRate::FloodLimited, "handle_message: ERROR  this net control is not slave and master!\n");
        return;
    }
    // The host's callbacks run inside; whatever they throw must not end the worker.
    runGuarded("handle_message", [&] {
        if (isSlave) {
            const std::string master = masterIp();
            if (datagram.sender.ip != master) {
                logLine(LineRate::FloodLimited, "handle_message: WARING  receive other master's(ip:%s) cmd! self master is %s\n",
                        datagram.sender.ip.c_str(), master.c_str());
                return;
            }
            if (m_acknowledgedDelivery && isAcknowledgedCommand(datagram.code())
                && acknowledgeAndSpotRepeat(datagram, enS2MCommandAckCmd))
                return;
            SlaveCommandHandler(*this).handle(datagram);
        }
        if (!isMaster)
            return;
        if (m_acknowledgedDelivery && isAcknowledgedReport(datagram.code())
            && acknowledgeAndSpotRepeat(datagram, enM2SReportAckCmd))
            return;
        MasterReportHandler(*this).handle(datagram);
    });
}

bool MultiNetControl::acknowledgeAndSpotRepeat(const ReceivedDatagram& datagram, unsigned short ackCode)
{
    const Payload ack = encodeAcknowledgement(Acknowledgement{std::uint16_t(datagram.seq()), datagram.code()});
    sendDatagram(ackCode, -1, ack.data(), ack.size, nullptr, 0, datagram.sender);
    const qint64 nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    return m_recentDatagrams->seenBefore(datagram.sender.ip, datagram.sender.processId, datagram.code(),
                                         std::uint16_t(datagram.seq()), nowMs);
}
