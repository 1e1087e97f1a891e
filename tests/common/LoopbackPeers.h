// SPDX-License-Identifier: MIT
// Plain sockets on loopback addresses that stand in for other nodes, and a datagram builder.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUdpSocket>

#include "LoopbackPlan.h"  // pickFreePort()

struct ReceivedDatagramCopy
{
    QByteArray bytes;
    QString senderIp;
    quint16 senderPort = 0;
};

// A socket bound to `ip` (a 127.x address, or "255.255.255.255" to hear limited broadcasts at `port`); a
// failed bind is a warning, and the test then fails on what does not arrive.
class RawPeer
{
public:
    explicit RawPeer(const QString& ip, quint16 port = 0);

    quint16 port() const { return m_socket.localPort(); }

    qint64 send(const QByteArray& bytes, const QString& ip, quint16 port);
    // Runs the event loop until `count` datagrams have arrived in all, or `timeoutMs` have passed.
    QList<ReceivedDatagramCopy> waitFor(int count, int timeoutMs = 5000);
    QList<ReceivedDatagramCopy> received() const { return m_received; }
    // Those received with message code `code`.
    QList<ReceivedDatagramCopy> withCode(quint16 code) const;
    // Runs the event loop until `count` datagrams with `code` have arrived in all; false on time-out.
    bool waitForCode(quint16 code, int count = 1, int timeoutMs = 5000);
    void clear() { m_received.clear(); }

private:
    QUdpSocket m_socket;
    QList<ReceivedDatagramCopy> m_received;
};

// The message code of a datagram of the protocol.
quint16 codeOf(const QByteArray& datagram);

// A datagram of the protocol as a peer would send it.
QByteArray buildDatagram(quint16 code, int layerId, int groupId, const QByteArray& payload = {},
                         const QByteArray& userData = {}, quint32 processId = 4242, quint16 seq = 0);
