// SPDX-License-Identifier: MIT
// Every outgoing datagram is built here, in the one send buffer, and handed to the unicast endpoint.
#include "MultiNetControl.h"

#include "common/LogLine.h"
#include "endpoint/PreparedDestination.h"
#include "endpoint/UdpClient.h"
#include "sending/DeliveryRepeater.h"
#include "wire/DatagramCodec.h"
#include "wire/MessageCode.h"

#include <QCoreApplication>

using namespace tamo::detail;

namespace {

std::uint32_t ownProcessId()
{
    static const auto pid = static_cast<std::uint32_t>(QCoreApplication::applicationPid());
    return pid;
}

} // namespace

int MultiNetControl::assembleData(unsigned short code, short layerId, const void* data, int dataLen,
                                  const char* userData, int userDataLen)
{
    DatagramHeader header;
    header.processId = ownProcessId();
    header.code = code;
    header.groupId = static_cast<std::uint16_t>(m_groupId.load());
    header.layerId = layerId;
    header.dataLen = static_cast<std::uint16_t>(dataLen > 0 ? dataLen : 0);
    header.userDataLen = static_cast<std::uint16_t>(userDataLen > 0 ? userDataLen : 0);
    if (dataLen > 0xFFFF || userDataLen > kSendBufferSize || header.datagramLength() > kSendBufferSize)
        return -1;
    header.seq = m_seq++;
    return encodeDatagram(header, dataLen > 0 ? data : nullptr, userDataLen > 0 ? userData : nullptr, m_sendBuf,
                          kSendBufferSize);
}

bool MultiNetControl::sendDatagram(unsigned short code, int layerId, const void* payload, int payloadLen,
                                   const char* userData, int userDataLen, const NetControlNS::struAddress& dest,
                                   std::vector<char>* sentCopy)
{
    // Everything that may parse, allocate or call the host happens before the lock: the destination is
    // resolved and the host clock read here, and the endpoint carries that reading to its send.
    const PreparedDestination to(dest.ip, dest.port);
    const std::optional<ClockPair> sendClock = m_unicastClient ? m_unicastClient->sendClockFor(code) : std::nullopt;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    const int len = assembleData(code, static_cast<short>(layerId), payload, payloadLen, userData, userDataLen);
    if (len < 0)
        return false;
    if (m_unicastClient)
        m_unicastClient->sendPrepared(m_sendBuf, len, to, sendClock);
    if (sentCopy)
        sentCopy->assign(m_sendBuf, m_sendBuf + len);
    return true;
}

bool MultiNetControl::sendMasterCommand(unsigned short code, const char* operation, int layerId, const void* payload,
                                        int payloadLen, const char* userData, int userDataLen, const char* sentLine)
{
    if (!m_isMaster)
        return false;
    const bool acknowledged = m_acknowledgedDelivery && isAcknowledgedCommand(code);
    std::vector<char> sent;
    if (!sendDatagram(code, layerId, payload, payloadLen, userData, userDataLen, m_broadcastAddr,
                      acknowledged ? &sent : nullptr)) {
        logLine("MultiNetControl::%s WARING user data of %d bytes does not fit, at most %d bytes do: not sent\n",
                operation, userDataLen, kSendBufferSize - DatagramHeader::kSize - payloadLen);
        return false;
    }
    if (acknowledged)
        repeatUntilAcknowledged(std::move(sent), rosterEndpoints());
    if (sentLine)
        logLine("%s", sentLine);
    return true;
}

bool MultiNetControl::sendSlaveReport(unsigned short code, int layerId)
{
    if (!m_isSlave)
        return false;
    const NetControlNS::struAddress master = masterAddress();
    std::vector<char> sent;
    sendDatagram(code, layerId, nullptr, 0, nullptr, 0, master, m_acknowledgedDelivery ? &sent : nullptr);
    if (m_acknowledgedDelivery)
        repeatUntilAcknowledged(std::move(sent), {master});
    return true;
}

void MultiNetControl::repeatUntilAcknowledged(std::vector<char> datagram, std::vector<NetControlNS::struAddress> peers)
{
    std::optional<DecodedDatagram> decoded = decodeDatagram(datagram.data(), datagram.size());
    if (!decoded || !m_repeater)
        return;
    std::vector<DeliveryRepeater::Peer> to;
    for (const NetControlNS::struAddress& peer : peers) {
        if (!peer.ip.empty() && peer.port != 0)
            to.push_back(DeliveryRepeater::Peer{peer.ip, peer.port});
    }
    m_repeater->track(std::move(datagram), decoded->header.code, decoded->header.seq, std::move(to));
}
