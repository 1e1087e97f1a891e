// SPDX-License-Identifier: MIT
#include "endpoint/UdpClient.h"

#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"

#include <QCoreApplication>
#include <QTest>
#include <QUdpSocket>

#include <utility>

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
    void limitedBroadcastHeardOnce_data();
    void limitedBroadcastHeardOnce();
    void broadcastReachesEveryEndpointOnThePort();
    void stampsOnSend_data();
    void stampsOnSend();
    void stampsOnReceipt_data();
    void stampsOnReceipt();
    void stampsAreZeroWithoutHost();
    void receiptStampIsTheKernelsReceiptTime();
    void hostClockThatStandsStillStampsItsOwnValue();
    void receiptStampWithoutKernelTime();
    void ownEchoIsDropped();
    void waitingDatagramsLetTheEventLoopRun();
    void senderFilterDropsOnlyThatSender_data();
    void senderFilterDropsOnlyThatSender();
    void sendOutsideRunningStateFails();
};

void tst_UdpClient::bindLine_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("takePort");
    QTest::addColumn<QString>("reason");  // empty: the bind succeeds
    QTest::newRow("loopback") << "127.0.0.1" << false << QString();
    // The bind line shows what the socket reports; a second line names the address, port and reason.
    QTest::newRow("not an address of this machine") << "192.0.2.1" << false << "The address is not available";
#ifndef Q_OS_WIN
    // On Windows the address-reuse hint lets a second socket take a port that another holds.
    QTest::newRow("port taken") << "127.0.0.1" << true << "The bound address is already in use";
#endif
    // Never the wildcard for a text that is not an address.
    QTest::newRow("not an address") << "not-an-ip" << false << "not an IPv4 address";
    QTest::newRow("out of range") << "999.1.1.1" << false << "not an IPv4 address";
    QTest::newRow("empty") << "" << false << "not an IPv4 address";
}

void tst_UdpClient::bindLine()
{
    QFETCH(QString, ip);
    QFETCH(bool, takePort);
    QFETCH(QString, reason);
    QUdpSocket taker;  // bound without address reuse, so that nobody else may bind the port
    int port = 0;
    if (takePort) {
        QVERIFY2(taker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0), qPrintable(taker.errorString()));
        port = taker.localPort();
    }
    LogCapture out;
    UdpClient client(Endpoint::address(ip.toStdString(), port));
    QVERIFY(client.init(nullptr));
    const bool bindable = reason.isEmpty();
    QByteArray expected = kBindPrefix + (bindable ? ip.toLatin1() : QByteArray()) + " "
                          + QByteArray::number(client.boundPort()) + "\n";
    if (!bindable) {
        expected += "UdpClient::init ERROR  cannot bind to address \"" + ip.toLatin1() + "\" port "
                    + QByteArray::number(port) + ": " + reason.toLatin1() + "\n";
    }
    QCOMPARE(out.text(), expected);
    QCOMPARE(client.boundPort() != 0, bindable);
    QCOMPARE(client.isBound(), bindable);
    QCOMPARE(QString::fromStdString(client.bindError()), reason);
    if (!bindable) {
        // Nothing leaves from the wildcard address that a send would otherwise bind the socket to.
        QByteArray request = patterned(202, 56);
        QCOMPARE(client.sendData(request.data(), request.size(), Endpoint::address("127.0.0.1", 9), false), -1);
        QCOMPARE(client.boundPort(), quint16(0));
    }
}

void tst_UdpClient::limitedBroadcastHeardOnce_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("copies");
    // A specific address needs the extra listener; a text that binds nothing must not open it (it used to
    // bind both sockets to the wildcard: every broadcast arrived twice).
    QTest::newRow("loopback address") << "127.0.0.1" << 1;
    QTest::newRow("not an address") << "not-an-ip" << 0;
    QTest::newRow("empty") << "" << 0;
}

void tst_UdpClient::limitedBroadcastHeardOnce()
{
    QFETCH(QString, ip);
    QFETCH(int, copies);
    const quint16 port = pickFreePort();
    Endpoint endpoint(ip.toStdString(), port);
    Endpoint witness("127.0.0.1", port);
    RawPeer sender(QStringLiteral("127.0.0.1"));
    QVERIFY2(sender.isBound(), qPrintable(sender.errorString()));
    sender.send(patterned(301, 40), QStringLiteral("255.255.255.255"), port);
    QTRY_COMPARE(witness.m_delivered.size(), std::size_t(1));
    QTest::qWait(50);
    QCOMPARE(endpoint.m_delivered.size(), std::size_t(copies));
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

void tst_UdpClient::receiptStampIsTheKernelsReceiptTime()
{
#ifndef Q_OS_LINUX
    QSKIP("kernel receipt times are read on Linux only");
#endif
    RecordingHost host;
    host.setClockOffsetUs(987654321);
    Endpoint endpoint("127.0.0.1", 0, host.callbacks());
    RawPeer sender(QStringLiteral("127.0.0.8"));
    QVERIFY2(sender.isBound(), qPrintable(sender.errorString()));
    // Two bursts, each queued while the event loop does not run: every datagram of both is delivered (the
    // socket's own record of pending datagrams stays right), and each reply's stamp is its arrival, before
    // the loop read it, not the read.
    for (int burst = 0; burst < 2; ++burst) {
        const std::size_t already = endpoint.m_delivered.size();
        const qint64 sentAfter = host.now();
        for (int i = 0; i < 3; ++i)
            sender.send(patterned(307, 56), QStringLiteral("127.0.0.1"), endpoint.m_client.boundPort());
        QTest::qSleep(20);
        const qint64 queuedBefore = host.now();
        QTRY_COMPARE(endpoint.m_delivered.size(), already + 3);
        for (std::size_t i = already; i < already + 3; ++i)
            // A microsecond either side: the two clocks are read one after the other, not at once.
            verifyStamp(endpoint.m_delivered[i].bytes, patterned(307, 56), 48, sentAfter - 1, queuedBefore);
    }
}

void tst_UdpClient::hostClockThatStandsStillStampsItsOwnValue()
{
    NetControlNS::slaveControlCbk frozen;
    frozen.getClockTimeCbk = [] { return qint64(777); };
    Endpoint endpoint("127.0.0.1", 0, &frozen);
    RawPeer peer(QStringLiteral("127.0.0.9"));
    QByteArray request = patterned(202, 56);
    endpoint.m_client.sendData(request.data(), request.size(), Endpoint::address("127.0.0.9", peer.port()), false);
    QCOMPARE(wire::getI64(request.constData() + 40), qint64(777));

    peer.send(patterned(307, 56), QStringLiteral("127.0.0.1"), endpoint.m_client.boundPort());
    QTest::qSleep(5);  // the kernel's stamp lies well before the read
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(1));
    QCOMPARE(wire::getI64(endpoint.m_delivered.front().bytes.constData() + 48), qint64(777));
}

void tst_UdpClient::receiptStampWithoutKernelTime()
{
    RecordingHost host;
    host.setClockOffsetUs(-42);
    UdpClient client(Endpoint::address("127.0.0.1", 0));
    client.init(host.callbacks());
    const QByteArray before = patterned(202, 56);
    QByteArray bytes = before;
    const qint64 from = host.now();
    client.stampOnReceipt(bytes.data(), bytes.size());
    verifyStamp(bytes, before, 24, from, host.now());
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

void tst_UdpClient::waitingDatagramsLetTheEventLoopRun()
{
    const quint16 port = pickFreePort();
    Endpoint endpoint("127.0.0.6", port);
    RawPeer sender(QStringLiteral("127.0.0.6"));
    QVERIFY2(sender.isBound(), qPrintable(sender.errorString()));
    // As a flood looks to the reader: many more datagrams waiting than one batch. An event posted when the
    // first arrives must run before the queue is empty, and none may be lost on the way.
    constexpr int kWaiting = 150;  // small datagrams: the socket's default buffer holds them all
    std::size_t deliveredWhenPostedRan = 0;
    bool posted = false;
    endpoint.m_client.setRecvCallback([&](const char* data, int len, NetControlNS::struAddress from) {
        endpoint.m_delivered.push_back({QByteArray(data, len), from});
        if (!std::exchange(posted, true))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { deliveredWhenPostedRan = endpoint.m_delivered.size(); },
                Qt::QueuedConnection);
    });
    for (int i = 0; i < kWaiting; ++i)
        QCOMPARE(sender.send(patterned(static_cast<quint16>(i), 12), QStringLiteral("127.0.0.6"), port), qint64(12));
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(kWaiting));
    QVERIFY2(deliveredWhenPostedRan > 0 && deliveredWhenPostedRan < std::size_t(kWaiting),
             qPrintable(QString::number(deliveredWhenPostedRan)));
    for (int i = 0; i < kWaiting; ++i)
        QCOMPARE(int(wire::getU16(endpoint.m_delivered[std::size_t(i)].bytes.constData() + 8)), i);
}

void tst_UdpClient::senderFilterDropsOnlyThatSender_data()
{
    QTest::addColumn<bool>("byAddress");
    QTest::addColumn<QList<int>>("delivered");  // the codes that arrive while the filter is on
    // Senders: 600 the filtered one (127.0.0.3, port P), 601 the same address on another port, 602 another
    // address on the same port P.
    QTest::newRow("address and port") << true << QList<int>{601, 602};
    QTest::newRow("port on any address") << false << QList<int>{601};
}

void tst_UdpClient::senderFilterDropsOnlyThatSender()
{
#ifndef Q_OS_LINUX
    QSKIP("socket filters are Linux only: elsewhere every datagram is delivered");
#endif
    QFETCH(bool, byAddress);
    QFETCH(QList<int>, delivered);
    const quint16 port = pickFreePort();
    Endpoint endpoint("127.0.0.4", port);
    RawPeer filtered(QStringLiteral("127.0.0.3"));
    QVERIFY2(filtered.isBound(), qPrintable(filtered.errorString()));
    RawPeer otherPort(QStringLiteral("127.0.0.3"));
    RawPeer otherAddress(QStringLiteral("127.0.0.5"), filtered.port());
    QVERIFY2(otherAddress.isBound(), qPrintable(otherAddress.errorString()));
    const DroppedSender dropped{byAddress ? std::optional<quint32>(0x7F000003) : std::nullopt, filtered.port()};
    QVERIFY(endpoint.m_client.refreshSenderFilter([&] { return std::optional<DroppedSender>(dropped); }));

    const auto sendAll = [&] {
        filtered.send(patterned(600, 12), QStringLiteral("255.255.255.255"), port);
        otherPort.send(patterned(601, 12), QStringLiteral("255.255.255.255"), port);
        otherAddress.send(patterned(602, 12), QStringLiteral("127.0.0.4"), port);  // unicast: the bound socket
    };
    const auto codes = [&] {
        QList<int> seen;
        for (const Delivered& d : endpoint.m_delivered)
            seen.append(wire::getU16(d.bytes.constData() + 8));
        std::sort(seen.begin(), seen.end());
        endpoint.m_delivered.clear();
        return seen;
    };
    sendAll();
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(delivered.size()));
    QTest::qWait(50);
    QCOMPARE(codes(), delivered);

    // Lifted, it lets every sender through again.
    QVERIFY(endpoint.m_client.refreshSenderFilter([] { return std::nullopt; }));
    sendAll();
    QTRY_COMPARE(endpoint.m_delivered.size(), std::size_t(3));
    QCOMPARE(codes(), (QList<int>{600, 601, 602}));
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
