// SPDX-License-Identifier: MIT
#include "sending/ReliableDelivery.h"

#include "common/LogLine.h"
#include "wire/DatagramHeader.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"

#include <chrono>
#include <string>

namespace tamo::detail {

namespace {

void reportUnacknowledged(std::uint16_t code, std::uint16_t seq, const std::vector<DeliveryRepeater::Peer>& silent)
{
    std::string peers;
    for (const DeliveryRepeater::Peer& peer : silent)
        peers += (peers.empty() ? "" : ", ") + peer.ip + ":" + std::to_string(peer.port);
    logLine("MultiNetControl WARING datagram %u (seq %u) was not acknowledged within %d ms by %s\n", unsigned(code),
            unsigned(seq), ReliableDelivery::kRepeatForMs, peers.c_str());
}

} // namespace

ReliableDelivery::ReliableDelivery(const ObjectFlags& flags, SendChannel& channel, TimerThread& timer)
    : m_flags(flags), m_channel(channel),
      m_repeater(
          timer,
          [this](const std::vector<char>& datagram, const DeliveryRepeater::Peer& to) {
              m_channel.resend(datagram, to.ip, to.port);
          },
          &reportUnacknowledged)
{
}

bool ReliableDelivery::send(bool acknowledged, std::uint16_t code, int layerId, const void* payload, int payloadLen,
                            const char* userData, int userDataLen, const NetControlNS::struAddress& dest,
                            const std::vector<NetControlNS::struAddress>& peers)
{
    const bool repeated = acknowledged && isOn();
    SendChannel::Sent sent;
    if (!m_channel.send(code, layerId, payload, payloadLen, userData, userDataLen, dest, repeated ? &sent : nullptr))
        return false;
    if (!repeated)
        return true;
    std::vector<DeliveryRepeater::Peer> to;
    for (const NetControlNS::struAddress& peer : peers) {
        if (!peer.ip.empty() && peer.port != 0)
            to.push_back(DeliveryRepeater::Peer{peer.ip, peer.port});
    }
    m_repeater.track(std::move(sent.bytes), sent.code, sent.seq, std::move(to));
    return true;
}

bool ReliableDelivery::acknowledgeAndSpotRepeat(const ReceivedDatagram& datagram, std::uint16_t ackCode)
{
    const Payload ack = encodeAcknowledgement(Acknowledgement{std::uint16_t(datagram.seq()), datagram.code()});
    m_channel.send(ackCode, -1, ack.data(), ack.size, nullptr, 0, datagram.sender);
    const qint64 nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    const int len = DatagramHeader::kSize + int(datagram.payloadLength()) + datagram.userDataLength();
    switch (m_recentDatagrams.seenBefore(datagram.sender.ip, datagram.sender.processId, datagram.code(),
                                         std::uint16_t(datagram.seq()), datagram.bytes, len, nowMs)) {
    case RecentDatagrams::Seen::Repeat:
        ++m_repeatsDropped;
        return true;
    case RecentDatagrams::Seen::Conflict:
        logLineFrom(datagram.sender.ip,
                "MultiNetControl WARING datagram %u (seq %u) from %s:%d differs from its first copy: handled, "
                "as a forged first copy or a sender that started again would make it\n",
                unsigned(datagram.code()), unsigned(datagram.seq()), datagram.sender.ip.c_str(), datagram.sender.port);
        return false;
    case RecentDatagrams::Seen::New:
        break;
    }
    return false;
}

void ReliableDelivery::acknowledged(const ReceivedDatagram& acknowledgement)
{
    const std::optional<Acknowledgement> ack =
        decodeAcknowledgement(acknowledgement.payload(), acknowledgement.payloadLength());
    if (ack)
        m_repeater.acknowledged(ack->code, ack->seq,
                                 DeliveryPeer{acknowledgement.sender.ip, acknowledgement.sender.port});
}

} // namespace tamo::detail
