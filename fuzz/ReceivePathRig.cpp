// SPDX-License-Identifier: MIT
#include "ReceivePathRig.h"

#include "common/MultiNetControlTestAccess.h"
#include "wire/DatagramCodec.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>

using namespace tamo::detail;
#define TAMO_POISON(addr, size) ASAN_POISON_MEMORY_REGION(addr, size)
#define TAMO_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION(addr, size)
#endif
#endif
#ifndef TAMO_POISON
#define TAMO_POISON(addr, size) ((void)(addr), (void)(size))
#define TAMO_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

namespace {

// Replies go to the sender, so senders stay on loopback, at the discard port where nobody listens, or at
// port 0, which with the own IP is the endpoint's own address (an echo that the endpoint drops).
constexpr int kDiscardPort = 9;
// No offset into a datagram that its 16-bit lengths can describe lies further than this.
constexpr int kGuardBytes = 24 + 2 * 0xFFFF + 8;

[[noreturn]] void propertyFailed(const char* what)
{
    std::fprintf(stderr, "receive path property failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        propertyFailed(what);
}

NetControlNS::struAddress senderFor(std::uint8_t selector)
{
    static const char* const kIps[] = {ReceivePathRig::kOwnIp, ReceivePathRig::kMasterIp, ReceivePathRig::kSlaveIp,
                                       "127.0.0.4"};
    NetControlNS::struAddress from;
    from.ip = kIps[selector & 3];
    from.port = (selector & 4) ? 0 : kDiscardPort;
    return from;
}

// A datagram that the decoder accepts is rebuilt byte for byte by the encoder from its header and body.
void checkRoundTrip(const char* bytes, std::size_t len)
{
    const std::optional<DecodedDatagram> decoded = decodeDatagram(bytes, len);
    if (!decoded)
        return;
    const int length = decoded->header.datagramLength();
    check(static_cast<std::size_t>(length) <= len, "accepted datagram longer than its bytes");
    std::vector<char> rebuilt(static_cast<std::size_t>(length));
    const int written = encodeDatagram(decoded->header, bytes + decoded->payloadOffset(),
                                       bytes + decoded->userDataOffset(), rebuilt.data(), length);
    check(written == length, "encoder refused a decoded header");
    check(std::memcmp(rebuilt.data(), bytes, rebuilt.size()) == 0, "re-encoded datagram differs");
}

// A host call made for a datagram carries exactly the user data that its header announces.
void checkUserData(const HostCall& call, const char* bytes, std::size_t len)
{
    const std::optional<DecodedDatagram> decoded = decodeDatagram(bytes, len);
    check(decoded.has_value(), "host called for a datagram that the decoder refuses");
    const int userDataLen = decoded->userDataLength();
    check(call.userDataNull == (userDataLen == 0), "user-data pointer null for the wrong length");
    const QByteArray expected(bytes + decoded->userDataOffset(), userDataLen);
    check(call.userData == (userDataLen == 0 ? QByteArray() : expected), "user data differs from the datagram's");
}

} // namespace

ReceivePathRig::ReceivePathRig()
{
    const QSet<QString> admitted{QStringLiteral("127.0.0.2_4242"), QStringLiteral("127.0.0.3_4242")};
    for (std::size_t role = 0; role < m_nodes.size(); ++role) {
        Node& node = m_nodes[role];
        node.host = std::make_unique<RecordingHost>();
        node.host->setLayerIds({0, 1});
        node.control = std::make_unique<MultiNetControl>(node.host->callbacks(), kGroupId, kOwnIp, 0);
        const bool slave = role == 0 || role == 2;
        const bool master = role == 1 || role == 2;
        node.control->setSlaveFlag(slave);
        node.control->setMasterFlag(master);
        node.control->setMasterIp(kMasterIp);
        node.control->setSlaves(admitted);
    }
    NetControlNS::struAddress local;
    local.ip = kOwnIp;
    m_endpoint = std::make_unique<UdpClient>(local);
    m_endpointClock.getClockTimeCbk = [] { return kEndpointClockUs; };
    m_endpoint->init(&m_endpointClock);
    m_endpoint->setRecvCallback(
        [this](const char* bytes, int len, NetControlNS::struAddress from) { onDelivered(bytes, len, std::move(from)); });
}

ReceivePathRig::~ReceivePathRig() = default;

void ReceivePathRig::run(const std::uint8_t* input, std::size_t size)
{
    if (size < static_cast<std::size_t>(kPrefixSize))
        return;
    m_receiver = &m_nodes[input[0] & 3];
    applyOptions(*m_receiver, input[0]);
    const NetControlNS::struAddress from = senderFor(input[1]);
    // The datagram in a buffer of its own exact size, so that the sanitizer sees any access past its end.
    const std::size_t len = size - kPrefixSize;
    std::unique_ptr<char[]> datagram(new char[len ? len : 1]);
    std::memcpy(datagram.get(), input + kPrefixSize, len);
    checkRoundTrip(datagram.get(), len);
    m_endpoint->stampOnReceipt(datagram.get(), static_cast<int>(len));
    m_endpoint->deliverDatagram(datagram.get(), static_cast<int>(len), from);
    m_receiver = nullptr;
}

void ReceivePathRig::applyOptions(Node& node, std::uint8_t roleByte)
{
    unsigned options = 0;
    if (roleByte & kAcknowledgedDeliveryBit)
        options |= NetControlNS::AcknowledgedDelivery;
    if (roleByte & kRecoveryBit)
        options |= NetControlNS::SlaveBackOnLine | NetControlNS::FollowRestartedMaster
                   | NetControlNS::MasterSilenceFromFirstHeartbeat;
    if (roleByte & kHealthReportsBit)
        options |= NetControlNS::HealthReports;
    if (options != node.options) {
        node.control->setOptions(options);
        node.options = options;
    }
}

void ReceivePathRig::onDelivered(const char* bytes, int len, NetControlNS::struAddress from)
{
    const std::size_t size = static_cast<std::size_t>(len);
    checkRoundTrip(bytes, size);
    const int callsBefore = m_receiver->host->callCount();
    // The endpoint hands out a view of its large receive buffer: fence off what lies beyond the datagram.
    const int guard = std::min(kGuardBytes, UdpClient::kRecvBufferSize - len);
    char* beyond = const_cast<char*>(bytes) + len;
    TAMO_POISON(beyond, guard);
    MultiNetControlTestAccess(*m_receiver->control)
        .handle(QByteArray::fromRawData(bytes, len), from.ip, from.port);
    TAMO_UNPOISON(beyond, guard);
    const std::vector<HostCall> calls = m_receiver->host->callCount() == callsBefore
                                            ? std::vector<HostCall>{}
                                            : m_receiver->host->calls();
    check(calls.empty() || static_cast<int>(calls.size()) == callsBefore + 1, "more than one host call per datagram");
    if (!calls.empty())
        checkUserData(calls.back(), bytes, size);
}
