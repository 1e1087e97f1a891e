// SPDX-License-Identifier: MIT
// The one way out: every datagram of a control object is built in its one send buffer, with the next
// sequence number, and handed to its unicast endpoint, one at a time against every other sender.
#pragma once

#include "MultiNetControl.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tamo::detail {

class UdpClient;

class SendChannel
{
public:
    static constexpr int kSendBufferSize = MultiNetControl::kSendBufferSize;

    // A datagram as it left: what acknowledged delivery repeats, byte for byte.
    struct Sent
    {
        std::uint16_t code = 0;
        std::uint16_t seq = 0;
        std::vector<char> bytes;
    };

    explicit SendChannel(int groupId);

    // The endpoint every datagram leaves through; null sends nothing. Set once, before any send.
    void setEndpoint(UdpClient* unicastClient) { m_unicastClient = unicastClient; }
    void setGroupId(int groupId) { m_groupId = groupId; }
    int groupId() const { return m_groupId; }

    // Builds a datagram and sends it to `dest`. False when it does not fit the send buffer (nothing is
    // sent). With `sent`, the datagram is copied there as it was sent. Any thread.
    bool send(std::uint16_t code, int layerId, const void* payload, int payloadLen, const char* userData,
              int userDataLen, const NetControlNS::struAddress& dest, Sent* sent = nullptr);
    // Sends a datagram built before (a repeat) as it is. Any thread.
    void resend(const std::vector<char>& datagram, const std::string& ip, int port);

    // The sequence number the next datagram takes.
    quint16 nextSeq() const;
    void setNextSeq(quint16 seq);

private:
    // Builds one datagram in m_sendBuf; returns its length, or -1 when the user data does not fit.
    // Call with m_sendMutex held.
    int assembleData(std::uint16_t code, short layerId, const void* data, int dataLen, const char* userData,
                     int userDataLen);

    std::atomic<int> m_groupId;            // written by the host, read by every sender
    UdpClient* m_unicastClient = nullptr;  // not owned; set before the first send, then only read
    mutable std::mutex m_sendMutex;        // one datagram built and sent at a time
    char m_sendBuf[kSendBufferSize] = {};  // guarded by m_sendMutex
    quint16 m_seq = 0;                     // guarded by m_sendMutex
};

} // namespace tamo::detail
