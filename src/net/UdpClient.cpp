// SPDX-License-Identifier: MIT
#include "net/UdpClient.h"

#include "control/HostCalls.h"
#include "control/LogLine.h"
#include "protocol/ByteOrder.h"
#include "protocol/DatagramHeader.h"
#include "protocol/MessageCode.h"
#include "protocol/Payloads.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <cstring>
#include <string>

namespace tamo::detail {

namespace {

// "socket UDP " and "bind port:" in GBK (code page 936): the bind line's fixed 20 bytes.
constexpr char kBindLinePrefix[] = "socket UDP \xB0\xF3\xB6\xA8\xB6\xCB\xBF\xDA:";

#ifdef Q_OS_WIN
constexpr bool kUnicastBindSeesLimitedBroadcasts = true;
#else
constexpr bool kUnicastBindSeesLimitedBroadcasts = false;
#endif

void stampSlot(char* data, int len, int slot, qint64 time)
{
    const int offset = clockSyncSlotOffset(slot);
    if (len >= offset + 8)
        wire::putI64(data + offset, time);
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
    socket->bind(QHostAddress(QString::fromLatin1(m_localAddress.ip.c_str())),
                 static_cast<quint16>(m_localAddress.port), QAbstractSocket::ReuseAddressHint);

    const std::string text = kBindLinePrefix + socket->localAddress().toString().toStdString() + " "
                             + std::to_string(socket->localPort());
    logLine("%s\n", text.c_str());

    QUdpSocket* raw = socket.get();
    QObject::connect(raw, &QUdpSocket::readyRead, raw, [this, raw] { readPendingDatagrams(raw); },
                     Qt::DirectConnection);
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = std::move(socket);
    }
    listenForLimitedBroadcasts();
    m_running = true;
    return true;
}

void UdpClient::listenForLimitedBroadcasts()
{
    if (kUnicastBindSeesLimitedBroadcasts || m_localAddress.port == 0)
        return;
    const QHostAddress configured(QString::fromLatin1(m_localAddress.ip.c_str()));
    if (configured == QHostAddress::AnyIPv4 || configured == QHostAddress::Broadcast)
        return;
    auto listener = std::make_unique<QUdpSocket>();
    if (!listener->bind(QHostAddress::Broadcast, static_cast<quint16>(m_localAddress.port),
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        logLine("UdpClient::init WARING cannot listen for broadcasts on port %d: %s\n", m_localAddress.port,
                listener->errorString().toLocal8Bit().constData());
        return;
    }
    QUdpSocket* raw = listener.get();
    QObject::connect(raw, &QUdpSocket::readyRead, raw, [this, raw] { readPendingDatagrams(raw); },
                     Qt::DirectConnection);
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
    m_broadcastListener.reset();
    std::unique_ptr<QUdpSocket> socket;
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        socket = std::move(m_socket);
    }
}

int UdpClient::sendData(char* data, int len, NetControlNS::struAddress dest, bool broadcast)
{
    if (!m_running)
        return -1;
    std::lock_guard<std::mutex> lock(m_socketMutex);
    if (broadcast) {
        if (!m_socket)
            return -1;
        return static_cast<int>(
            m_socket->writeDatagram(data, len, QHostAddress::Broadcast, static_cast<quint16>(dest.port)));
    }
    stampOnSend(data, len);
    if (!m_socket)
        return -1;
    return static_cast<int>(m_socket->writeDatagram(data, len, QHostAddress(QString::fromLatin1(dest.ip.c_str())),
                                                    static_cast<quint16>(dest.port)));
}

void UdpClient::readPendingDatagrams(QUdpSocket* socket)
{
    char* buffer = m_recvBuffer.get();
    while (m_running && socket->hasPendingDatagrams()) {
        QHostAddress senderAddress;
        quint16 senderPort = 0;
        // The buffer is larger than any UDP datagram, so one read takes a whole datagram.
        const qint64 len = socket->readDatagram(buffer, kRecvBufferSize, &senderAddress, &senderPort);
        if (len < 0)
            break;
        NetControlNS::struAddress from;
        from.ip = senderAddress.toString().toStdString();
        from.port = senderPort;
        stampOnReceipt(buffer, static_cast<int>(len));
        deliverDatagram(buffer, static_cast<int>(len), std::move(from));
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

quint16 UdpClient::boundPort() const
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    return m_socket ? m_socket->localPort() : 0;
}

void UdpClient::stampOnReceipt(char* data, int len) const
{
    const auto code = peekMessageCode(data, static_cast<std::size_t>(len));
    if (code == enM2SClockSyncReplyCmd)
        stampSlot(data, len, 3, currentHostTime());
    else if (code == enS2MClockSyncRequestCmd)
        stampSlot(data, len, 0, currentHostTime());
}

void UdpClient::stampOnSend(char* data, int len) const
{
    const auto code = peekMessageCode(data, static_cast<std::size_t>(len));
    if (code == enM2SClockSyncReplyCmd)
        stampSlot(data, len, 1, currentHostTime());
    else if (code == enS2MClockSyncRequestCmd)
        stampSlot(data, len, 2, currentHostTime());
}

} // namespace tamo::detail
