// SPDX-License-Identifier: MIT
// The master branch of handle_message: what a master does with the datagrams of its slaves.
#pragma once

#include "MultiNetControl.h"
#include "common/LogLine.h"
#include "common/ObjectFlags.h"
#include "master/HealthBook.h"
#include "master/SlaveRoster.h"
#include "master/SlaveWatch.h"
#include "sending/ReliableDelivery.h"
#include "sending/SendChannel.h"

namespace tamo::detail {

struct ReceivedDatagram;

class MasterReportHandler
{
public:
    // The parts of the control object that the master's handling uses.
    struct Parts
    {
        const NetControlNS::slaveControlCbk* cbk;  // not owned; for the host clock
        const ObjectFlags& flags;
        SlaveRoster& roster;
        HealthBook& health;
        SlaveWatch& watch;
        SendChannel& channel;
        ReliableDelivery& delivery;
    };

    explicit MasterReportHandler(const Parts& parts) : m_parts(parts) {}

    // Codes other than 200 to 205, 207 and 208 do nothing.
    void handle(const ReceivedDatagram& datagram);

private:
    void answerClockSyncRequest(const ReceivedDatagram& datagram);
    void answerHeartbeat(const ReceivedDatagram& datagram);
    void admitPartner(const ReceivedDatagram& datagram);
    void commandAcknowledged(const ReceivedDatagram& datagram);
    void markClockSynced(const ReceivedDatagram& datagram);
    void markPrepared(const ReceivedDatagram& datagram);
    void markComplete(const ReceivedDatagram& datagram);
    void noteHealth(const ReceivedDatagram& datagram);
    // The lines of a report are printed at any rate when an admitted slave sends it; others may be forged
    // by anybody, and a flood of them is cut down.
    template <typename... Args>
    void reportLine(const NetControlNS::struAddress& sender, const char* format, Args... args) const;
    // Sets `flag` on every entry of the sender's endpoint and layer, then prints `entryLine` for each.
    void setFlagOfSenderLayer(const ReceivedDatagram& datagram, bool NetControlNS::struAddress::*flag,
                              const char* entryLine);

    const Parts& m_parts;
};

} // namespace tamo::detail
