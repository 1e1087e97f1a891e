// SPDX-License-Identifier: MIT
#include "endpoint/UdpClient.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "endpoint/KernelReceiptTime.h"
#include "endpoint/PreparedDestination.h"
#include "endpoint/SendPathWarmUp.h"
#include "wire/ByteOrder.h"
#include "wire/DatagramHeader.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace tamo::detail {

namespace {

// "socket UDP " and "bind port:" in GBK (code page 936): the bind line's fixed 20 bytes.
constexpr char kBindLinePrefix[] = "socket UDP \xB0\xF3\xB6\xA8\xB6\xCB\xBF\xDA:";

#ifdef Q_OS_WIN
constexpr bool kUnicastBindSeesLimitedBroadcasts = true;
#else
constexpr bool kUnicastBindSeesLimitedBroadcasts = false;
#endif

// The payload slot that an endpoint stamps in a clock-sync datagram, or -1 for any other code.
int sendSlotOf(std::optional<std::uint16_t> code)
{
    if (code == enM2SClockSyncReplyCmd)
        return 1;
    return code == enS2MClockSyncRequestCmd ? 2 : -1;
}

int receiptSlotOf(std::optional<std::uint16_t> code)
{
    if (code == enM2SClockSyncReplyCmd)
        return 3;
    return code == enS2MClockSyncRequestCmd ? 0 : -1;
}

void stampSlot(char* data, int len, int slot, qint64 time)
{
    const int offset = clockSyncSlotOffset(slot);
    if (slot >= 0 && len >= offset + 8)
        wire::putI64(data + offset, time);
}

std::optional<std::uint16_t> codeOf(const char* data, int len)
{
    return len > 0 ? peekMessageCode(data, static_cast<std::size_t>(len)) : std::nullopt;
}

std::int64_t steadyClockNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

UdpClient::UdpClient(NetControlNS::struAddress localAddress)
    : SockBase(std::move(localAddress)),
      m_recvBuffer(static_cast<char*>(std::calloc(kRecvBufferSize, 1)))
{
    if (!m_recvBuffer)
        throw std::bad_alloc();
}

UdpClient::~UdpClient()
{
    close();
}

bool UdpClient::init(NetControlNS::slaveControlCbk* callbacks)
{
    m_callbacks = callbacks;
    auto socket = std::make_unique<QUdpSocket>();
    m_bound = bindSocket(*socket);

    const std::string text = kBindLinePrefix + socket->localAddress().toString().toStdString() + " "
                             + std::to_string(socket->localPort());
    logLine("%s\n", text.c_str());
    if (!m_bound) {
        logLine("UdpClient::init ERROR  cannot bind to address \"%s\" port %d: %s\n", m_localAddress.ip.c_str(),
                m_localAddress.port, m_bindError.c_str());
    }

#ifdef Q_OS_LINUX
    if (m_bound && !enableKernelReceiptTimes(socket->socketDescriptor()))
        logLine("UdpClient::init WARING no kernel receipt times on this socket: clock stamps are taken as "
                "datagrams are read\n");
#endif
    if (m_bound)
        m_warmUp.prepare(socket->socketDescriptor());
    connectReception(*socket);
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = std::move(socket);
    }
    listenForLimitedBroadcasts();
    m_running = true;
    return true;
}

bool UdpClient::bindSocket(QUdpSocket& socket)
{
    // Only a dotted IPv4 text is an address here: an empty or malformed text must not become the wildcard.
    const QHostAddress wanted(QString::fromLatin1(m_localAddress.ip.c_str()));
    if (wanted.protocol() != QAbstractSocket::IPv4Protocol) {
        m_bindError = "not an IPv4 address";
        return false;
    }
    if (!socket.bind(wanted, static_cast<quint16>(m_localAddress.port), QAbstractSocket::ReuseAddressHint)) {
        m_bindError = socket.errorString().toStdString();
        return false;
    }
    return true;
}

void UdpClient::connectReception(QUdpSocket& socket)
{
    QUdpSocket* raw = &socket;
    QObject::connect(raw, &QUdpSocket::readyRead, raw, [this, raw] { readPendingDatagrams(raw); },
                     Qt::DirectConnection);
}

void UdpClient::listenForLimitedBroadcasts()
{
    if (kUnicastBindSeesLimitedBroadcasts || m_localAddress.port == 0 || !m_bound)
        return;
    // Decided from what the socket is bound to: the wildcard and the broadcast address see limited
    // broadcasts already, and a second listener would deliver each one twice.
    const QHostAddress bound = m_socket->localAddress();
    if (bound.protocol() != QAbstractSocket::IPv4Protocol || bound == QHostAddress::AnyIPv4
        || bound == QHostAddress::Broadcast)
        return;
    auto listener = std::make_unique<QUdpSocket>();
    if (!listener->bind(QHostAddress::Broadcast, m_socket->localPort(),
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        logLine("UdpClient::init WARING cannot listen for broadcasts on port %d: %s\n", m_localAddress.port,
                listener->errorString().toLocal8Bit().constData());
        return;
    }
    enableKernelReceiptTimes(listener->socketDescriptor());
    connectReception(*listener);
    std::lock_guard<std::mutex> lock(m_socketMutex);
    m_broadcastListener = std::move(listener);
}

bool UdpClient::setRecvCallback(RecvCallback cb)
{
    m_recvCallback = std::move(cb);
    return true;
}

void UdpClient::close()
{
    if (!m_running.exchange(false))
        return;
    // Freed here, on the socket's thread, once no other thread can reach them.
    std::unique_ptr<QUdpSocket> socket;
    std::unique_ptr<QUdpSocket> listener;
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        socket = std::move(m_socket);
        listener = std::move(m_broadcastListener);
    }
}

bool UdpClient::refreshSenderFilter(const std::function<std::optional<DroppedSender>()>& sender)
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    const std::optional<DroppedSender> dropped = sender();
    bool installed = m_socket && filterSender(m_socket->socketDescriptor(), dropped);
    if (m_broadcastListener)
        installed = filterSender(m_broadcastListener->socketDescriptor(), dropped) && installed;
    return installed;
}

int UdpClient::sendData(char* data, int len, NetControlNS::struAddress dest, bool broadcast)
{
    // An endpoint whose bind failed sends nothing: the socket layer would bind it to the wildcard address
    // on the first send, and the datagram would leave from whatever interface the system picks.
    if (!m_running || !m_bound)
        return -1;
    if (broadcast) {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        if (!m_socket)
            return -1;
        return static_cast<int>(
            m_socket->writeDatagram(data, len, QHostAddress::Broadcast, static_cast<quint16>(dest.port)));
    }
    const PreparedDestination to(dest.ip, dest.port);
    const std::optional<std::uint16_t> code = codeOf(data, len);
    return sendPrepared(data, len, to, code ? sendClockFor(*code) : std::nullopt);
}

std::optional<ClockPair> UdpClient::sendClockFor(std::uint16_t code) const
{
    if (sendSlotOf(code) < 0)
        return std::nullopt;
    return readHostClockPair(steadyClockNs);
}

int UdpClient::sendPrepared(char* data, int len, const PreparedDestination& to,
                            const std::optional<ClockPair>& sendClock)
{
    if (!m_running || !m_bound)
        return -1;
    const int slot = sendSlotOf(codeOf(data, len));
    std::lock_guard<std::mutex> lock(m_socketMutex);
    if (slot >= 0) {
        if (m_socket)
            m_warmUp.warmUp(m_socket->socketDescriptor(), to, data, len, steadyClockNs());
        if (m_socket && m_keyring && m_keyring->keyed())
            m_keyring->rehearseSigning(data, len, m_socket->localPort());
        // Without a reading (no host clock) the stamp is 0, as the host clock itself would give.
        stampSlot(data, len, slot, sendClock ? hostTimeAt(steadyClockNs(), MomentIs::After, *sendClock) : 0);
    }
    if (!m_keyring || !m_keyring->keyed())
        return writeLocked(data, len, to);
    // Signed after the stamp, which the signature covers.
    constexpr int kMostSigned = 4096;
    if (len > kMostSigned || !m_socket)
        return -1;
    char signedCopy[kMostSigned + kSignatureSize];
    const int signedLen = m_keyring->sign(data, len, m_socket->localPort(), signedCopy);
    return writeLocked(signedCopy, signedLen, to);
}

int UdpClient::writeLocked(const char* data, int len, const PreparedDestination& to)
{
    if (!m_socket)
        return -1;
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(m_socket->socketDescriptor());
    if (fd >= 0 && to.native()) {
        ssize_t sent;
        do {
            sent = ::sendto(fd, data, static_cast<std::size_t>(len), 0, reinterpret_cast<const sockaddr*>(to.native()),
                            sizeof(sockaddr_in));
        } while (sent < 0 && errno == EINTR);
        return static_cast<int>(sent);
    }
#endif
    return static_cast<int>(m_socket->writeDatagram(data, len, to.address(), to.port()));
}

void UdpClient::readPendingDatagrams(QUdpSocket* socket)
{
    char* buffer = m_recvBuffer.get();
    const qintptr fd = socket->socketDescriptor();
    // A sender that never pauses must not hold this thread, which is the host's: after a batch its event
    // loop gets a turn, and the socket's notifier, which fires while datagrams wait, brings us back.
    constexpr int kMaxDatagramsPerBatch = 64;
    for (int batch = 0; batch < kMaxDatagramsPerBatch && m_running; ++batch) {
        // The queue is peeked for the kernel's receipt time, and the datagram then read through the socket,
        // so that the socket's own record of pending datagrams stays right. Where the peek cannot tell, the
        // socket is asked.
        const NextDatagram next = peekNextDatagram(fd);
        if (next.queue == NextDatagram::Queue::Empty
            || (next.queue == NextDatagram::Queue::Unknown && !socket->hasPendingDatagrams()))
            break;
        QHostAddress senderAddress;
        quint16 senderPort = 0;
        // The buffer is larger than any UDP datagram, so one read takes a whole datagram.
        const qint64 len = socket->readDatagram(buffer, kRecvBufferSize, &senderAddress, &senderPort);
        if (len < 0)
            break;
        NetControlNS::struAddress from;
        from.ip = senderAddress.toString().toStdString();
        from.port = senderPort;
        int length = static_cast<int>(len);
        // The receipt is the moment of arrival, whatever checking the signature then takes.
        const std::optional<std::int64_t> receiptNs = next.receiptNs ? next.receiptNs : std::optional(systemClockNs());
        if (m_keyring && m_keyring->verify(buffer, length, from.ip, senderPort) != Keyring::Verdict::Accepted)
            continue;
        stampOnReceipt(buffer, length, receiptNs);
        deliverDatagram(buffer, length, std::move(from));
    }
}

void UdpClient::deliverDatagram(const char* data, int len, NetControlNS::struAddress from)
{
    if (len <= 0)
        return;
    char* buffer = m_recvBuffer.get();
    if (data != buffer)
        std::memcpy(buffer, data, static_cast<std::size_t>(len));
    if (from.ip == m_localAddress.ip && from.port == m_localAddress.port)
        return;
    if (m_recvCallback)
        m_recvCallback(buffer, len, std::move(from));
}

qint64 UdpClient::currentHostTime() const
{
    return hostClock(m_callbacks).value_or(0);
}

std::optional<ClockPair> UdpClient::readHostClockPair(std::int64_t (*systemClock)()) const
{
    if (!m_callbacks || !m_callbacks->getClockTimeCbk)
        return std::nullopt;
    return readClockPair([this] { return currentHostTime(); }, systemClock);
}

quint16 UdpClient::boundPort() const
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    return m_socket ? m_socket->localPort() : 0;
}

void UdpClient::stampOnReceipt(char* data, int len, std::optional<std::int64_t> receiptNs) const
{
    const int slot = receiptSlotOf(codeOf(data, len));
    if (slot < 0)
        return;
    const std::optional<ClockPair> now = readHostClockPair(systemClockNs);
    stampSlot(data, len, slot, now ? hostTimeAt(receiptNs, MomentIs::Before, *now) : 0);
}

} // namespace tamo::detail
