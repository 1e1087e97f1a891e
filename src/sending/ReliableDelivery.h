// SPDX-License-Identifier: MIT
// Acknowledged delivery, both ends of it: the sender repeats what is not acknowledged (DeliveryRepeater),
// the receiver acknowledges everything and handles a repeat once (RecentDatagrams). Off until the host
// switches it on; then it covers the master's commands and the slave's reports.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "common/TimerThread.h"
#include "sending/DeliveryRepeater.h"
#include "sending/RecentDatagrams.h"
#include "sending/SendChannel.h"

#include <atomic>
#include <vector>

namespace tamo::detail {

struct ReceivedDatagram;

class ReliableDelivery
{
public:
    // How long a datagram is repeated that is not acknowledged.
    static constexpr int kRepeatForMs = int(DeliveryRepeater::kDeadline.count());

    ReliableDelivery(const ObjectFlags& flags, SendChannel& channel, TimerThread& timer);

    bool isOn() const { return m_flags.has(NetControlNS::AcknowledgedDelivery); }

    // Sends a datagram; when delivery is acknowledged and `acknowledged` says so, repeats it to `peers`
    // until each has acknowledged it. False when it does not fit the send buffer. Any thread.
    bool send(bool acknowledged, std::uint16_t code, int layerId, const void* payload, int payloadLen,
              const char* userData, int userDataLen, const NetControlNS::struAddress& dest,
              const std::vector<NetControlNS::struAddress>& peers);
    // Acknowledges `datagram` with `ackCode` and tells whether it was handled before (a repeat). Worker thread.
    bool acknowledgeAndSpotRepeat(const ReceivedDatagram& datagram, std::uint16_t ackCode);
    // Copies of commands and reports dropped as repeats so far.
    std::uint32_t repeatsDropped() const { return m_repeatsDropped; }
    // An acknowledgement (207 or 313) arrived. Worker thread.
    void acknowledged(const ReceivedDatagram& acknowledgement);

private:
    const ObjectFlags& m_flags;
    SendChannel& m_channel;
    DeliveryRepeater m_repeater;                      // the timer thread repeats
    RecentDatagrams m_recentDatagrams;                // worker thread only
    std::atomic<std::uint32_t> m_repeatsDropped{0};   // written by the worker, read by the timer thread
};

} // namespace tamo::detail
