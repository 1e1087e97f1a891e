// SPDX-License-Identifier: MIT
// The slave branch of handle_message: the master's commands become calls of the host's callbacks.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "sending/ReliableDelivery.h"
#include "sending/SendChannel.h"
#include "slave/ClockSamples.h"
#include "slave/ClockSyncTasks.h"
#include "slave/HealthReporter.h"
#include "slave/MasterLink.h"

namespace tamo::detail {

struct ReceivedDatagram;

class SlaveCommandHandler
{
public:
    // The parts of the control object that the slave's handling uses.
    struct Parts
    {
        NetControlNS::slaveControlCbk* cbk;  // not owned; the host keeps it alive
        const ObjectFlags& flags;
        SendChannel& channel;
        ReliableDelivery& delivery;
        MasterLink& link;
        ClockSamples& samples;
        ClockSyncTasks& clockSync;
        HealthReporter& health;
    };

    explicit SlaveCommandHandler(const Parts& parts) : m_parts(parts) {}

    // Codes that a slave does not handle do nothing.
    void handle(const ReceivedDatagram& datagram);

private:
    void start(const ReceivedDatagram& datagram);
    void speed(const ReceivedDatagram& datagram);
    void step(const ReceivedDatagram& datagram);
    void stepBack(const ReceivedDatagram& datagram);
    void pause(const ReceivedDatagram& datagram);
    void stopClockSync(const ReceivedDatagram& datagram);
    void startClockSync(const ReceivedDatagram& datagram);
    void prepare(const ReceivedDatagram& datagram);
    void stop(const ReceivedDatagram& datagram);
    void seek(const ReceivedDatagram& datagram);
    void reportPosition(const ReceivedDatagram& datagram);
    void heartbeatAnswered(const ReceivedDatagram& datagram);
    void takeClockSample(const ReceivedDatagram& datagram);
    void reportAcknowledged(const ReceivedDatagram& datagram);

    // Keeps the sender as the master's address unless one is known already; prints `line` when it does.
    // Under recovery, a sender with another port or process id (the master started again) replaces it.
    void learnMasterAddress(const NetControlNS::struAddress& sender, const char* line);
    double doubleAt(const ReceivedDatagram& datagram, std::size_t offset) const;

    const Parts& m_parts;
};

} // namespace tamo::detail
