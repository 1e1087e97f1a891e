// SPDX-License-Identifier: MIT
#include "common/LoopbackPeers.h"

#include "wire/ByteOrder.h"
#include "wire/DatagramCodec.h"

#include "EventLoopWait.h"

using namespace tamo::detail;

RawPeer::RawPeer(const QString& ip, quint16 port)
{
    if (!m_socket.bind(QHostAddress(ip), port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        qWarning("RawPeer cannot bind %s:%u: %s", qPrintable(ip), port, qPrintable(m_socket.errorString()));
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
        while (m_socket.hasPendingDatagrams()) {
            ReceivedDatagramCopy copy;
            QHostAddress sender;
            copy.bytes.resize(static_cast<int>(m_socket.pendingDatagramSize()));
            m_socket.readDatagram(copy.bytes.data(), copy.bytes.size(), &sender, &copy.senderPort);
            copy.senderIp = sender.toString();
            m_received.append(copy);
        }
    });
}

qint64 RawPeer::send(const QByteArray& bytes, const QString& ip, quint16 port)
{
    return m_socket.writeDatagram(bytes, QHostAddress(ip), port);
}

QList<ReceivedDatagramCopy> RawPeer::waitFor(int count, int timeoutMs)
{
    runEventLoopUntil([&] { return m_received.size() >= count; }, timeoutMs);
    return m_received;
}

QList<ReceivedDatagramCopy> RawPeer::withCode(quint16 code) const
{
    QList<ReceivedDatagramCopy> found;
    for (const ReceivedDatagramCopy& d : m_received)
        if (codeOf(d.bytes) == code)
            found.append(d);
    return found;
}

bool RawPeer::waitForCode(quint16 code, int count, int timeoutMs)
{
    return runEventLoopUntil([&] { return withCode(code).size() >= count; }, timeoutMs);
}

quint16 codeOf(const QByteArray& datagram)
{
    return datagram.size() < 10 ? 0 : wire::getU16(datagram.constData() + 8);
}

QByteArray buildDatagram(quint16 code, int layerId, int groupId, const QByteArray& payload, const QByteArray& userData,
                         quint32 processId, quint16 seq)
{
    DatagramHeader header;
    header.processId = processId;
    header.code = code;
    header.groupId = static_cast<std::uint16_t>(groupId);
    header.layerId = static_cast<std::int16_t>(layerId);
    header.seq = seq;
    header.dataLen = static_cast<std::uint16_t>(payload.size());
    header.userDataLen = static_cast<std::uint16_t>(userData.size());
    QByteArray out(header.datagramLength(), '\0');
    encodeDatagram(header, payload.constData(), userData.constData(), out.data(), out.size());
    return out;
}
