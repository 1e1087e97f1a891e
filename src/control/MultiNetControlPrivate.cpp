// SPDX-License-Identifier: MIT
#include "control/MultiNetControlPrivate.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/MessageCode.h"
#include "wire/ReceivedDatagram.h"

#include <QHostAddress>

namespace tamo::detail {

namespace {

constexpr int kOwnAddressType = 1;
constexpr char kLimitedBroadcastIp[] = "255.255.255.255";

std::unique_ptr<UdpClient> makeEndpoint(const NetControlNS::struAddress& address, NetControlNS::slaveControlCbk* cbk,
                                        Keyring& keyring, RecvCallback onReceive)
{
    auto endpoint = std::make_unique<UdpClient>(address);
    endpoint->setKeyring(&keyring);
    endpoint->init(cbk);
    endpoint->setRecvCallback(std::move(onReceive));
    return endpoint;
}

} // namespace

MultiNetControlPrivate::MultiNetControlPrivate(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp,
                                               unsigned int port, Post post)
    : m_cbk(cbk), m_localIp(std::move(localIp)), m_port(port), m_channel(groupId), m_delivery(m_flags, m_channel, m_timer),
      m_roster(cbk, m_flags), m_watch(cbk, m_roster, m_timer), m_clockSync(cbk, m_flags, m_channel, m_link, m_samples, m_timer, m_localIp),
      m_healthReporter({m_flags, m_channel, m_delivery, m_link, m_samples, m_timer}), m_post(std::move(post)),
      m_masterParts{cbk, m_flags, m_roster, m_health, m_watch, m_channel, m_delivery},
      m_slaveParts{cbk, m_flags, m_channel, m_delivery, m_link, m_samples, m_clockSync, m_healthReporter}
{
    NetControlNS::struAddress endpointAddress;
    endpointAddress.ip = m_localIp;
    endpointAddress.port = static_cast<int>(m_port);
    endpointAddress.addrType = kOwnAddressType;

    using namespace std::placeholders;
    m_broadcastClient = makeEndpoint(endpointAddress, m_cbk, m_keyring,
                                     std::bind(&MultiNetControlPrivate::recvBroadcastMsgHandle, this, _1, _2, _3));
    endpointAddress.port = 0;
    m_unicastClient = makeEndpoint(endpointAddress, m_cbk, m_keyring,
                                   std::bind(&MultiNetControlPrivate::recvUnicastMsgHandle, this, _1, _2, _3));
    m_channel.setEndpoint(m_unicastClient.get());

    m_broadcastAddr.ip = kLimitedBroadcastIp;
    m_broadcastAddr.port = static_cast<int>(m_port);
    m_broadcastAddr.addrType = kOwnAddressType;
    m_endpointThreadContext = std::make_unique<OwnerThreadRunner>();
    dropOwnBroadcastsUnlessSlave();
}

void MultiNetControlPrivate::shutDown()
{
    m_clockSync.stop();
    m_timer.stop();  // its tasks send through the endpoint
    // The endpoints go before anything their receive callbacks reach, and on the thread whose event loop
    // reads them: freed elsewhere, that loop could still be inside one of them.
    m_endpointThreadContext->runOnOwnerThread(
        [this] {
            m_channel.setEndpoint(nullptr);
            m_broadcastClient.reset();
            m_unicastClient.reset();
        },
        [](long long waitedSeconds) {
            logLine(LineRate::FloodLimited, "~MultiNetControl WARING destroyed on another thread: waiting %lld s for the thread that "
                    "constructed the object to run its event loop, where the sockets are closed\n",
                    waitedSeconds);
        });
}

void MultiNetControlPrivate::recvBroadcastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    m_post(ControlMessage(data, len, std::move(from)));
}

void MultiNetControlPrivate::recvUnicastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    noteMasterAnswerOnReceipt(data, len, from);
    m_post(ControlMessage(data, len, std::move(from)));
}

void MultiNetControlPrivate::noteMasterAnswerOnReceipt(const char* data, int len, const NetControlNS::struAddress& from)
{
    // The same tests as the worker's, for the one code that is taken here; the worker still handles it.
    if (!m_flags.m_isSlave || len <= 0
        || peekMessageCode(data, static_cast<std::size_t>(len)) != enM2SHeartbeatReplyCmd)
        return;
    const std::optional<DecodedDatagram> decoded = decodeDatagram(data, static_cast<std::size_t>(len));
    if (!decoded || static_cast<int>(decoded->header.groupId) != m_channel.groupId() || from.ip != m_link.masterIp())
        return;
    if (const std::optional<qint64> now = hostClock(m_cbk))
        m_link.noteAnswer(*now);
}

void MultiNetControlPrivate::handleMessage(ControlMessage& msg)
{
    const std::optional<DecodedDatagram> decoded = decodeDatagram(msg.data.data(), msg.data.size());
    if (!decoded) {
        logLineFrom(msg.sender.ip, "handle_message: WARING  received message from netaddr(%s_%d) maybe incomplete!\n",
                msg.sender.ip.c_str(), msg.sender.port);
        return;
    }
    ReceivedDatagram datagram{msg.data.data(), *decoded, msg.sender};
    datagram.sender.processId = static_cast<int>(decoded->header.processId);

    if (static_cast<int>(decoded->header.groupId) != m_channel.groupId())
        return;
    const bool isSlave = m_flags.m_isSlave;
    const bool isMaster = m_flags.m_isMaster;
    if (!isSlave && !isMaster) {
        logLineFrom(msg.sender.ip, "handle_message: ERROR  this net control is not slave and master!\n");
        return;
    }
    // The host's callbacks run inside; whatever they throw must not end the worker.
    runGuarded("handle_message", [&] {
        if (isSlave) {
            const std::string master = m_link.masterIp();
            if (datagram.sender.ip != master) {
                logLineFrom(datagram.sender.ip, "handle_message: WARING  receive other master's(ip:%s) cmd! self master is %s\n",
                        datagram.sender.ip.c_str(), master.c_str());
                return;
            }
            if (m_delivery.isOn() && isAcknowledgedCommand(datagram.code())
                && m_delivery.acknowledgeAndSpotRepeat(datagram, enS2MCommandAckCmd))
                return;
            SlaveCommandHandler(m_slaveParts).handle(datagram);
        }
        if (!isMaster)
            return;
        if (m_delivery.isOn() && isAcknowledgedReport(datagram.code())
            && m_delivery.acknowledgeAndSpotRepeat(datagram, enM2SReportAckCmd))
            return;
        MasterReportHandler(m_masterParts).handle(datagram);
    });
}

void MultiNetControlPrivate::dropOwnBroadcastsUnlessSlave()
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
        if (m_flags.m_isSlave)
            return std::nullopt;
        return DroppedSender{ownIpv4, ownPort};
    });
}

bool MultiNetControlPrivate::sendMasterCommand(std::uint16_t code, const char* operation, int layerId,
                                               const void* payload, int payloadLen, const char* userData,
                                               int userDataLen, const char* sentLine)
{
    if (!m_flags.m_isMaster)
        return false;
    const bool acknowledged = m_delivery.isOn() && isAcknowledgedCommand(code);
    if (!m_delivery.send(acknowledged, code, layerId, payload, payloadLen, userData, userDataLen, m_broadcastAddr,
                         acknowledged ? m_roster.acknowledgingEndpoints() : std::vector<NetControlNS::struAddress>{})) {
        logLine("MultiNetControl::%s WARING user data of %d bytes does not fit, at most %d bytes do: not sent\n",
                operation, userDataLen, SendChannel::kSendBufferSize - DatagramHeader::kSize - payloadLen);
        return false;
    }
    if (sentLine)
        logLine("%s", sentLine);
    return true;
}

bool MultiNetControlPrivate::sendSlaveReport(std::uint16_t code, int layerId)
{
    if (!m_flags.m_isSlave)
        return false;
    const NetControlNS::struAddress master = m_link.masterAddress();
    m_delivery.send(true, code, layerId, nullptr, 0, nullptr, 0, master, {master});
    return true;
}

} // namespace tamo::detail
