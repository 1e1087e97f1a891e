// SPDX-License-Identifier: MIT
#include "sending/SendChannel.h"

#include "endpoint/PreparedDestination.h"
#include "endpoint/UdpClient.h"
#include "wire/DatagramCodec.h"

#include <QCoreApplication>

namespace tamo::detail {

namespace {

std::uint32_t ownProcessId()
{
    static const auto pid = static_cast<std::uint32_t>(QCoreApplication::applicationPid());
    return pid;
}

} // namespace

SendChannel::SendChannel(int groupId) : m_groupId(groupId) {}

int SendChannel::assembleData(std::uint16_t code, short layerId, const void* data, int dataLen, const char* userData,
                              int userDataLen)
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

bool SendChannel::send(std::uint16_t code, int layerId, const void* payload, int payloadLen, const char* userData,
                       int userDataLen, const NetControlNS::struAddress& dest, Sent* sent)
{
    // Everything that may parse, allocate or call the host happens before the lock: the destination is
    // resolved and the host clock read here, and the endpoint carries that reading to its send.
    const PreparedDestination to(dest.ip, dest.port);
    const std::optional<ClockPair> sendClock = m_unicastClient ? m_unicastClient->sendClockFor(code) : std::nullopt;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    const quint16 seq = m_seq;
    const int len = assembleData(code, static_cast<short>(layerId), payload, payloadLen, userData, userDataLen);
    if (len < 0)
        return false;
    if (m_unicastClient)
        m_unicastClient->sendPrepared(m_sendBuf, len, to, sendClock);
    if (sent) {
        sent->code = code;
        sent->seq = seq;
        sent->bytes.assign(m_sendBuf, m_sendBuf + len);
    }
    return true;
}

void SendChannel::resend(const std::vector<char>& datagram, const std::string& ip, int port)
{
    if (!m_unicastClient)
        return;
    std::vector<char> bytes = datagram;  // the endpoint may write into what it sends
    m_unicastClient->sendPrepared(bytes.data(), int(bytes.size()), PreparedDestination(ip, port), std::nullopt);
}

quint16 SendChannel::nextSeq() const
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    return m_seq;
}

void SendChannel::setNextSeq(quint16 seq)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_seq = seq;
}

} // namespace tamo::detail
