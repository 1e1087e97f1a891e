// SPDX-License-Identifier: MIT
// What a MultiNetControl is made of: its endpoints, its switches, its timer thread and its parts (the send
// channel, acknowledged delivery, the roster, the link to the master, the clock samples and the clock-sync
// tasks), and the receive path that hands each datagram to the slave's and the master's handling.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "common/OwnerThreadRunner.h"
#include "common/TimerThread.h"
#include "control/ControlMessage.h"
#include "endpoint/Keyring.h"
#include "endpoint/UdpClient.h"
#include "master/HealthBook.h"
#include "master/MasterReportHandler.h"
#include "master/SlaveRoster.h"
#include "master/SlaveWatch.h"
#include "sending/ReliableDelivery.h"
#include "sending/SendChannel.h"
#include "slave/ClockSamples.h"
#include "slave/ClockSyncTasks.h"
#include "slave/HealthReporter.h"
#include "slave/MasterLink.h"
#include "slave/SlaveCommandHandler.h"

#include <functional>
#include <memory>
#include <string>

namespace tamo::detail {

class MultiNetControlPrivate
{
public:
    // Queues a received datagram for the worker (TaskExecute::postMessage of the object).
    using Post = std::function<void(ControlMessage)>;

    MultiNetControlPrivate(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp, unsigned int port,
                           Post post);

    // The object's part of its destruction, once its worker has ended: clock sync stops, the timer thread
    // ends, and the endpoints are closed on the thread that constructed the object.
    void shutDown();

    // handle_message: completeness, group, role and sender tests, then the two branches. Worker thread.
    void handleMessage(ControlMessage& msg);
    // While this object is no slave, the group port no longer hears the object's own broadcasts: nothing
    // here handles them, and each would wake the receiving thread and the worker. Any thread.
    void dropOwnBroadcastsUnlessSlave();

    // The shared path of the master's commands: role test, refusal line, send (repeated to the roster under
    // acknowledged delivery), sent line.
    bool sendMasterCommand(std::uint16_t code, const char* operation, int layerId, const void* payload,
                           int payloadLen, const char* userData, int userDataLen, const char* sentLine);
    bool sendSlaveReport(std::uint16_t code, int layerId);

    NetControlNS::slaveControlCbk* const m_cbk;  // not owned; the host keeps it alive
    const std::string m_localIp;
    const unsigned int m_port;
    NetControlNS::struAddress m_broadcastAddr;  // set by the constructor, then only read
    ObjectFlags m_flags;
    SendChannel m_channel;
    // Runs the periodic sends of the parts below; ended by shutDown() before any of them goes.
    TimerThread m_timer;
    ReliableDelivery m_delivery;
    SlaveRoster m_roster;
    SlaveWatch m_watch;
    HealthBook m_health;
    MasterLink m_link;
    ClockSamples m_samples;
    ClockSyncTasks m_clockSync;
    HealthReporter m_healthReporter;
    Keyring m_keyring;  // both endpoints' door
    // Owned; created by the constructor, closed and released by shutDown() on the constructing thread.
    std::unique_ptr<UdpClient> m_broadcastClient;
    std::unique_ptr<UdpClient> m_unicastClient;

private:
    void recvBroadcastMsgHandle(const char* data, int len, NetControlNS::struAddress from);
    void recvUnicastMsgHandle(const char* data, int len, NetControlNS::struAddress from);
    // On the receiving thread: notes the time of a heartbeat answer from this slave's master as it arrives,
    // so that commands queued before it cannot delay it.
    void noteMasterAnswerOnReceipt(const char* data, int len, const NetControlNS::struAddress& from);

    const Post m_post;
    const MasterReportHandler::Parts m_masterParts;
    const SlaveCommandHandler::Parts m_slaveParts;
    // Lives on the constructing thread: the endpoints are closed there, whichever thread destroys the object.
    std::unique_ptr<OwnerThreadRunner> m_endpointThreadContext;
};

} // namespace tamo::detail
