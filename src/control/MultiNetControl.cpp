// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"

#include "common/LogLine.h"
#include "common/OwnerThreadRunner.h"
#include "endpoint/UdpClient.h"
#include "control/RecentDatagrams.h"
#include "endpoint/PreparedDestination.h"
#include "sending/DeliveryRepeater.h"
#include "slave/ClockEstimator.h"

#include <QHostAddress>

#include <cstdlib>
#include <cstring>
#include <mutex>

using namespace tamo::detail;

namespace {

constexpr int kOwnAddressType = 1;
constexpr char kLimitedBroadcastIp[] = "255.255.255.255";

std::unique_ptr<UdpClient> makeEndpoint(const NetControlNS::struAddress& address, NetControlNS::slaveControlCbk* cbk,
                                        RecvCallback onReceive)
{
    auto endpoint = std::make_unique<UdpClient>(address);
    endpoint->init(cbk);
    endpoint->setRecvCallback(std::move(onReceive));
    return endpoint;
}

// Group ids travel as 16 bits; a received one never equals an id outside 0 to 65535.
void warnIfGroupIdDoesNotFit(int groupId)
{
    if (groupId < 0 || groupId > 0xFFFF)
        logLine("MultiNetControl WARING group id %d is outside 0 to 65535: it is sent as %d and no received "
                "datagram can match it\n",
                groupId, groupId & 0xFFFF);
}

void reportUnacknowledged(std::uint16_t code, std::uint16_t seq, const std::vector<DeliveryRepeater::Peer>& silent)
{
    std::string peers;
    for (const DeliveryRepeater::Peer& peer : silent)
        peers += (peers.empty() ? "" : ", ") + peer.ip + ":" + std::to_string(peer.port);
    logLine("MultiNetControl WARING datagram %u (seq %u) was not acknowledged within %d ms by %s\n", unsigned(code),
            unsigned(seq), MultiNetControl::kRepeatForMs, peers.c_str());
}

} // namespace

std::atomic<bool> MultiNetControl::m_haveStartClockSync{false};

MultiNetControl::MultiNetControl(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp,
                                 unsigned int port)
    : m_port(port), m_cbk(cbk), m_groupId(groupId), m_localIp(std::move(localIp)),
      m_clockEstimator(std::make_unique<ClockEstimator>()),
      m_repeater(std::make_unique<DeliveryRepeater>(
          [this](const std::vector<char>& datagram, const DeliveryRepeater::Peer& to) { repeatTo(datagram, to); },
          [](std::uint16_t code, std::uint16_t seq, const std::vector<DeliveryRepeater::Peer>& silent) {
              reportUnacknowledged(code, seq, silent);
          })),
      m_recentDatagrams(std::make_unique<RecentDatagrams>())
{
    std::memset(m_sendBuf, 0, sizeof m_sendBuf);
    if (m_port > 0xFFFF)
        logLine("MultiNetControl WARING port %u is above 65535: only its low 16 bits are used, port %u\n", m_port,
                m_port & 0xFFFF);
    warnIfGroupIdDoesNotFit(groupId);
    try {
        NetControlNS::struAddress endpointAddress;
        endpointAddress.ip = m_localIp;
        endpointAddress.port = static_cast<int>(m_port);
        endpointAddress.addrType = kOwnAddressType;

        using namespace std::placeholders;
        m_broadcastClient = makeEndpoint(endpointAddress, m_cbk,
                                         std::bind(&MultiNetControl::recvBroadcastMsgHandle, this, _1, _2, _3));
        endpointAddress.port = 0;
        m_unicastClient = makeEndpoint(endpointAddress, m_cbk,
                                       std::bind(&MultiNetControl::recvUnicastMsgHandle, this, _1, _2, _3));
    } catch (...) {
        stop();  // the worker must not outlive a constructor that failed
        throw;
    }

    m_slaves.clear();
    m_broadcastAddr.ip = kLimitedBroadcastIp;
    m_broadcastAddr.port = static_cast<int>(m_port);
    m_broadcastAddr.addrType = kOwnAddressType;
    m_endpointThreadContext = std::make_unique<OwnerThreadRunner>();
    dropOwnBroadcastsUnlessSlave();
}

MultiNetControl::~MultiNetControl()
{
    logLine("~MultiNetControl() \n");
    if (onWorkerThread()) {
        // The worker cannot join itself, and the code that called the host still uses the object.
        logLine("~MultiNetControl ERROR  destroyed from a callback on the library's worker thread: not "
                "supported (only masterLostCbk may destroy the object); the process ends\n");
        std::abort();
    }
    stop();
    stopClockSyncThreads();
    joinClockSyncThreads();
    m_repeater.reset();  // its thread sends through the endpoints
    // The endpoints go before anything their receive callbacks reach, and on the thread whose event loop
    // reads them: freed elsewhere, that loop could still be inside one of them.
    m_endpointThreadContext->runOnOwnerThread(
        [this] {
            m_broadcastClient.reset();
            m_unicastClient.reset();
        },
        [](long long waitedSeconds) {
            logLine(LineRate::FloodLimited, "~MultiNetControl WARING destroyed on another thread: waiting %lld s for the thread that "
                    "constructed the object to run its event loop, where the sockets are closed\n",
                    waitedSeconds);
        });
}

void MultiNetControl::setMasterFlag(bool master)
{
    logLine("MultiNetControl::setMasterFlag master = %d\n", master ? 1 : 0);
    m_isMaster = master;
}

void MultiNetControl::setSlaveFlag(bool slave)
{
    logLine("MultiNetControl::setSlaveFlag slave = %d\n", slave ? 1 : 0);
    m_isSlave = slave;
    dropOwnBroadcastsUnlessSlave();
}

void MultiNetControl::dropOwnBroadcastsUnlessSlave()
{
    if (!m_broadcastClient || !m_unicastClient)
        return;
    const quint16 ownPort = m_unicastClient->boundPort();
    if (ownPort == 0)
        return;
    // A wildcard-bound sender leaves from whichever address the route picks: its port alone names it.
    const QHostAddress ownAddress(QString::fromStdString(m_localIp));
    std::optional<quint32> ownIpv4;
    if (ownAddress.protocol() == QAbstractSocket::IPv4Protocol && ownAddress != QHostAddress::AnyIPv4)
        ownIpv4 = ownAddress.toIPv4Address();
    m_broadcastClient->refreshSenderFilter([&]() -> std::optional<DroppedSender> {
        if (m_isSlave)
            return std::nullopt;
        return DroppedSender{ownIpv4, ownPort};
    });
}

void MultiNetControl::setAcknowledgedDelivery(bool on)
{
    logLine("MultiNetControl::setAcknowledgedDelivery on = %d\n", on ? 1 : 0);
    m_acknowledgedDelivery = on;
}

void MultiNetControl::setRecovery(bool on)
{
    logLine("MultiNetControl::setRecovery on = %d\n", on ? 1 : 0);
    m_recovery = on;
}

void MultiNetControl::repeatTo(const std::vector<char>& datagram, const DeliveryRepeater::Peer& to)
{
    if (!m_unicastClient)
        return;
    std::vector<char> bytes = datagram;  // the endpoint may write into what it sends
    m_unicastClient->sendPrepared(bytes.data(), int(bytes.size()), PreparedDestination(to.ip, to.port), std::nullopt);
}

void MultiNetControl::setMasterIp(std::string masterIp)
{
    logLine("MultiNetControl::setMasterIp masterIp = %s\n", masterIp.c_str());
    std::lock_guard<std::mutex> lock(m_addressMutex);
    m_masterIp = std::move(masterIp);
}

void MultiNetControl::setGroupId(int group_id)
{
    logLine("MultiNetControl::setGroupId group_id = %d\n", group_id);
    warnIfGroupIdDoesNotFit(group_id);
    m_groupId = group_id;
}

void MultiNetControl::recvBroadcastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    postMessage(ControlMessage(data, len, std::move(from)));
}

void MultiNetControl::recvUnicastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    noteMasterAnswerOnReceipt(data, len, from);
    postMessage(ControlMessage(data, len, std::move(from)));
}

std::string MultiNetControl::getCurrentTime()
{
    return currentLogTime();
}

NetControlNS::struAddress MultiNetControl::masterAddress() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterAddr;
}

std::string MultiNetControl::masterIp() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterIp;
}

NetControlNS::struClockEstimate MultiNetControl::getClockEstimate() const
{
    std::lock_guard<std::mutex> lock(m_clockEstimateMutex);
    return m_clockEstimate;
}
