// SPDX-License-Identifier: MIT
#include "net/UdpClient.h"

#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/LogCapture.h"
#include "protocol/ByteOrder.h"

#include <QTest>

using namespace tamo::detail;

namespace {

const QByteArray kBindPrefix("socket UDP \xB0\xF3\xB6\xA8\xB6\xCB\xBF\xDA:", 20);

struct Delivered
{
    QByteArray bytes;
    NetControlNS::struAddress from;
};

// An endpoint under test that keeps what it delivers.
class Endpoint
{
public:
    Endpoint(const std::string& ip, int port, NetControlNS::slaveControlCbk* host = nullptr)
        : m_client(address(ip, port))
    {
        m_client.init(host);
        m_client.setRecvCallback([this](const char* data, int len, NetControlNS::struAddress from) {
            m_delivered.push_back({QByteArray(data, len), from});
        });
    }

    static NetControlNS::struAddress address(const std::string& ip, int port)
    {
        NetControlNS::struAddress a;
        a.ip = ip;
        a.port = port;
        return a;
    }

    UdpClient m_client;
    std::vector<Delivered> m_delivered;
};

// `len` bytes of 0xAB with `code` at bytes 8-9.
QByteArray patterned(quint16 code, int len)
{
    QByteArray bytes(len, '\xAB');
    if (len >= 10)
        wire::putU16(bytes.data() + 8, code);
    return bytes;
}

// Checks that `bytes` equals `before` except for an 8-byte host-clock stamp at `offset` (-1: no stamp)
// that lies within [from, to].
void verifyStamp(const QByteArray& bytes, const QByteArray& before, int offset, qint64 from, qint64 to)
{
    QCOMPARE(bytes.size(), before.size());
    if (offset < 0) {
        QCOMPARE(bytes, before);
        return;
    }
    const qint64 stamp = wire::getI64(bytes.constData() + offset);
    QVERIFY2(stamp >= from && stamp <= to, qPrintable(QString::number(stamp)));
    QCOMPARE(bytes.left(offset), before.left(offset));
    QCOMPARE(bytes.mid(offset + 8), before.mid(offset + 8));
}

} // namespace

class tst_UdpClient : public QObject
{
    Q_OBJECT
private slots:
    void bindLine_data();
    void bindLine();
    void broadcastReachesEveryEndpointOnThePort();
    void stampsOnSend_data();
    void stampsOnSend();
    void stampsOnReceipt_data();
    void stampsOnReceipt();
    void stampsAreZeroWithoutHost();
    void ownEchoIsDropped();
    void sendOutsideRunningStateFails();
};

void tst_UdpClient::bindLine_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("bindable");
    QTest::newRow("loopback") << "127.0.0.1" << true;
    // Not an address of this machine: the bind fails quietly and the line shows what the socket reports.
    QTest::newRow("foreign") << "192.0.2.1" << false;
}

void tst_UdpClient::bindLine()
{
    QFETCH(QString, ip);
    QFETCH(bool, bindable);
    LogCapture out;
    UdpClient client(Endpoint::address(ip.toStdString(), 0));
    QVERIFY(client.init(nullptr));
    const QByteArray expected = kBindPrefix + (bindable ? ip.toLatin1() : QByteArray()) + " "
                                + QByteArray::number(client.boundPort()) + "\n";
    QCOMPARE(out.text(), expected);
    QCOMPARE(client.boundPort() != 0, bindable);
}

void tst_UdpClient::broadcastReachesEveryEndpointOnThePort()
{
    const quint16 port = pickFreePort();
    Endpoint a("127.0.0.1", port);
    Endpoint b("127.0.0.2", port);
    Endpoint c("127.0.0.2", port);  // a second player on the same PC
    RawPeer sender(QStringLiteral("127.0.0.1"));
    QVERIFY2(sender.isBound(), qPrintable(sender.errorString()));
    const QByteArray bytes = patterned(301, 40);
    QCOMPARE(sender.send(bytes, QStringLiteral("255.255.255.255"), port), qint64(bytes.size()));

    for (Endpoint* e : {&a, &b, &c})
        QTRY_COMPARE(e->m_delivered.size(), std::size_t(1));
    QTest::qWait(50);
    for (Endpoint* e : {&a, &b, &c}) {
        QCOMPARE(e->m_delivered.size(), std::size_t(1));  // once, not once per socket
        const Delivered& d = e->m_delivered.front();
        QCOMPARE(d.bytes, bytes);
        QCOMPARE(d.from.ip, std::string("127.0.0.1"));
        QCOMPARE(d.from.port, int(sender.port()));
        QCOMPARE(d.from.processId, -1);
        QCOMPARE(d.from.layerId, -1);
        QCOMPARE(d.from.addrType, 3);
    }
}

void tst_UdpClient::stampsOnSend_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("len");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<int>("stampOffset");
    QTest::newRow("request, slot 2") << 202 << 56 << false << 40;
    QTest::newRow("reply, slot 1") << 307 << 56 << false << 32;
    QTest::newRow("reply just long enough") << 307 << 40 << false << 32;
    QTest::newRow("request too short for slot 2") << 202 << 47 << false << -1;
    QTest::newRow("other code") << 301 << 56 << false << -1;
    QTest::newRow("no room for the code") << 202 << 9 << false << -1;
    QTest::newRow("broadcast flag stamps nothing") << 202 << 56 << true << -1;
}

void tst_UdpClient::stampsOnSend()
{
    QFETCH(int, code);
    QFETCH(int, len);
    QFETCH(bool, broadcast);
    QFETCH(int, stampOffset);
    RecordingHost host;
    host.setClockOffsetUs(123456789);
    Endpoint endpoint("127.0.0.1", 0, host.callbacks());
    const quint16 listenPort = pickFreePort();
    RawPeer receiver(broadcast ? QStringLiteral("255.255.255.255") : QStringLiteral("127.0.0.5"), listenPort);
    QVERIFY2(receiver.isBound(), qPrintable(receiver.errorString()));

    const QByteArray before = patterned(static_cast<quint16>(code), len);
    QByteArray buffer = before;
    const qint64 from = host.now();
    const int sent = endpoint.m_client.sendData(buffer.data(), len,
                                                Endpoint::address("127.0.0.5", receiver.port()), broadcast);
    const qint64 to = host.now();
    QCOMPARE(sent, len);
    verifyStamp(buffer, before, stampOffset, from, to);
    const auto received = receiver.waitFor(1);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.front().bytes, buffer);
}

void tst_UdpClient::stampsOnReceipt_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("stampOffset");
    QTest::newRow("request, slot 0") << 202 << 56 << 24;
    QTest::newRow("request just long enough") << 202 << 32 << 24;
    QTest::newRow("reply, slot 3") << 307 << 56 << 48;
    QTest::newRow("reply too short for slot 3") << 307 << 55 << -1;
    QTest::newRow("other code") << 205 << 56 << -1;
    QTest::newRow("no room for the code") << 307 << 9 << -1;
}

void tst_UdpClient::stampsOnReceipt()
{
    QFETCH(int, code);
    QFETCH(int, len);
    QFETCH(int, stampOffset);
    RecordingHost host;
    host.setClockOffsetUs(-5000000);
    Endpoint endpoint("127.0.0.1", 0, host.callbacks());
    RawPeer sender(QStringLiteral("127.0.0.6"));
    const QByteArray bytes = patterned(static_cast<quint16>(code), len);
    const qint64 from = host.now();
    sender.send(bytes, QStringLiteral("127.0.0.1"), endpoint.m_client.boundPort());
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(1));
    verifyStamp(endpoint.m_delivered.front().bytes, bytes, stampOffset, from, host.now());
}

void tst_UdpClient::stampsAreZeroWithoutHost()
{
    Endpoint endpoint("127.0.0.1", 0);
    RawPeer peer(QStringLiteral("127.0.0.7"));
    QByteArray request = patterned(202, 56);
    endpoint.m_client.sendData(request.data(), request.size(), Endpoint::address("127.0.0.7", peer.port()), false);
    QCOMPARE(wire::getI64(request.constData() + 40), qint64(0));

    peer.send(patterned(307, 56), QStringLiteral("127.0.0.1"), endpoint.m_client.boundPort());
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(1));
    QCOMPARE(wire::getI64(endpoint.m_delivered.front().bytes.constData() + 48), qint64(0));
}

void tst_UdpClient::ownEchoIsDropped()
{
    const quint16 port = pickFreePort();
    Endpoint endpoint("127.0.0.3", port);
    RawPeer sameAddress(QStringLiteral("127.0.0.3"), port);
    RawPeer otherPort(QStringLiteral("127.0.0.3"));
    QVERIFY2(sameAddress.isBound(), qPrintable(sameAddress.errorString()));

    // Five from the endpoint's own address and port, then five from another port, all queued before the
    // event loop runs: the echoes vanish, the rest arrive in order in one go.
    for (int i = 0; i < 5; ++i)
        sameAddress.send(patterned(static_cast<quint16>(400 + i), 12), QStringLiteral("255.255.255.255"), port);
    for (int i = 0; i < 5; ++i)
        otherPort.send(patterned(static_cast<quint16>(500 + i), 12), QStringLiteral("255.255.255.255"), port);
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(5));
    QTest::qWait(50);
    QCOMPARE(endpoint.m_delivered.size(), std::size_t(5));
    for (int i = 0; i < 5; ++i) {
        const Delivered& d = endpoint.m_delivered[static_cast<std::size_t>(i)];
        QCOMPARE(int(wire::getU16(d.bytes.constData() + 8)), 500 + i);
        QCOMPARE(d.from.port, int(otherPort.port()));
    }
}

void tst_UdpClient::sendOutsideRunningStateFails()
{
    UdpClient client(Endpoint::address("127.0.0.1", 0));
    const QByteArray before = patterned(202, 56);
    QByteArray buffer = before;
    const auto dest = Endpoint::address("127.0.0.1", 9);
    QCOMPARE(client.sendData(buffer.data(), buffer.size(), dest, false), -1);
    QCOMPARE(buffer, before);  // not stamped

    client.init(nullptr);
    client.close();
    QCOMPARE(client.sendData(buffer.data(), buffer.size(), dest, false), -1);
    QCOMPARE(client.sendData(buffer.data(), buffer.size(), dest, true), -1);
    QCOMPARE(buffer, before);
    QCOMPARE(client.boundPort(), quint16(0));
}

QTEST_GUILESS_MAIN(tst_UdpClient)
#include "tst_udpclient.moc"
