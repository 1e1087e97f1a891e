// SPDX-License-Identifier: MIT
// The UDP endpoint: binding (and what a control object whose sockets could not bind says), broadcasts, the
// clock stamps of clock-sync datagrams on the way out and in, its own echoes, batches, and the kernel's
// sender filter.
#include "endpoint/UdpClient.h"

#include "EventLoopWait.h"
#include "MultiNetControl.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "wire/ByteOrder.h"

#include <QCoreApplication>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <utility>

using namespace tamo::detail;

namespace {

NetControlNS::struAddress address(const std::string& ip, int port)
{
    NetControlNS::struAddress a;
    a.ip = ip;
    a.port = port;
    return a;
}

struct Delivered
{
    QByteArray bytes;
    NetControlNS::struAddress from;
};

// An endpoint under test that keeps what it delivers.
struct Endpoint
{
    Endpoint(const std::string& ip, int port, NetControlNS::slaveControlCbk* host = nullptr) : client(address(ip, port))
    {
        client.init(host);
        client.setRecvCallback([this](const char* data, int len, NetControlNS::struAddress from) {
            delivered.push_back({QByteArray(data, len), from});
        });
    }
    quint16 port() const { return client.boundPort(); }

    UdpClient client;
    std::vector<Delivered> delivered;
};

// `len` bytes of 0xAB with `code` at bytes 8-9.
QByteArray patterned(quint16 code, int len)
{
    QByteArray bytes(len, '\xAB');
    if (len >= 10)
        wire::putU16(bytes.data() + 8, code);
    return bytes;
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
    void clockStamps_data();
    void clockStamps();
    void receiptStampIsTheKernelsReceiptTime();
    void waitingDatagramsLetTheEventLoopRun();
    void senderFilterDropsOnlyThatSender_data();
    void senderFilterDropsOnlyThatSender();
};

void tst_UdpClient::bindLine_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("takePort");
    QTest::addColumn<QString>("reason");  // empty: the bind succeeds
    QTest::newRow("loopback") << "127.0.0.1" << false << QString();
#ifndef Q_OS_WIN
    // On Windows the address-reuse hint lets a second socket take a port that another holds.
    QTest::newRow("port taken") << "127.0.0.1" << true << "The bound address is already in use";
#endif
    // Never the wildcard for a text that is not an address.
    QTest::newRow("not an address") << "999.1.1.1" << false << "not an IPv4 address";
}

// A failed bind has a line that names the address, port and reason. A control object whose group socket
// could not bind says so through isListening() and errorString().
void tst_UdpClient::bindLine()
{
    QFETCH(QString, ip);
    QFETCH(bool, takePort);
    QFETCH(QString, reason);
    QUdpSocket taker;  // bound without address reuse, so that nobody else may bind the port
    QVERIFY2(taker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0), qPrintable(taker.errorString()));
    const quint16 port = takePort ? taker.localPort() : pickFreePort();
    const bool bindable = reason.isEmpty();
    const QByteArray failure = "cannot bind to address \"" + ip.toLatin1() + "\" port " + QByteArray::number(port)
                               + ": " + reason.toLatin1() + "\n";
    {
        UdpClient client(address(ip.toStdString(), port));
        QVERIFY(client.init(nullptr));
        // Nothing leaves from the wildcard address that a send would otherwise bind the socket to.
        QByteArray request = patterned(202, 56);
        if (!bindable)
            QCOMPARE(client.sendData(request.data(), request.size(), address("127.0.0.1", 9), false), -1);
    }
    LogCapture log;
    NetControlNS::slaveControlCbk host;
    MultiNetControl control(&host, 7, ip.toStdString(), port);
    QCOMPARE(control.isListening(), bindable);
    const QString error = QString::fromStdString(control.errorString());
    QVERIFY2(bindable ? error.isEmpty() : error.startsWith(ip + " port " + QString::number(port) + ": " + reason),
             qPrintable(error));
    QCOMPARE(log.text().contains(failure), !bindable);
}

void tst_UdpClient::limitedBroadcastHeardOnce_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("copies");
    // A specific address needs the extra listener; a text that binds nothing must not open it (it used to
    // bind both sockets to the wildcard: every broadcast arrived twice).
    QTest::newRow("loopback address") << "127.0.0.1" << 1;
    QTest::newRow("not an address") << "not-an-ip" << 0;
}

void tst_UdpClient::limitedBroadcastHeardOnce()
{
    QFETCH(QString, ip);
    QFETCH(int, copies);
    const quint16 port = pickFreePort();
    Endpoint endpoint(ip.toStdString(), port);
    Endpoint b("127.0.0.2", port);
    Endpoint c("127.0.0.2", port);  // a second player on the same PC
    RawPeer sender(QStringLiteral("127.0.0.1"));
    const QByteArray bytes = patterned(301, 40);
    QCOMPARE(sender.send(bytes, QStringLiteral("255.255.255.255"), port), qint64(bytes.size()));
    QTRY_COMPARE(b.delivered.size() + c.delivered.size(), std::size_t(2));
    QTest::qWait(50);
    QCOMPARE(endpoint.delivered.size(), std::size_t(copies));
    for (Endpoint* e : {&b, &c}) {
        QCOMPARE(e->delivered.size(), std::size_t(1));  // once, not once per socket
        QCOMPARE(e->delivered.front().bytes, bytes);
    }
}

void tst_UdpClient::clockStamps_data()
{
    QTest::addColumn<bool>("onSend");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("len");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<int>("stampOffset");  // -1: no stamp
    QTest::addColumn<bool>("withHost");    // without a host every stamp is 0
    QTest::newRow("send: request just long enough for slot 2") << true << 202 << 48 << false << 40 << true;
    QTest::newRow("send: reply just long enough for slot 1") << true << 307 << 40 << false << 32 << true;
    QTest::newRow("send: request too short for slot 2") << true << 202 << 47 << false << -1 << true;
    QTest::newRow("send: other code") << true << 301 << 56 << false << -1 << true;
    QTest::newRow("send: broadcast flag stamps nothing") << true << 202 << 56 << true << -1 << true;
    QTest::newRow("receive: request just long enough for slot 0") << false << 202 << 32 << false << 24 << true;
    QTest::newRow("receive: reply just long enough for slot 3") << false << 307 << 56 << false << 48 << true;
    QTest::newRow("receive: reply too short for slot 3") << false << 307 << 55 << false << -1 << true;
    QTest::newRow("receive: no room for the code") << false << 307 << 9 << false << -1 << true;
    QTest::newRow("send without a host: 0") << true << 202 << 56 << false << 40 << false;
}

void tst_UdpClient::clockStamps()
{
    QFETCH(bool, onSend);
    QFETCH(int, code);
    QFETCH(int, len);
    QFETCH(bool, broadcast);
    QFETCH(int, stampOffset);
    QFETCH(bool, withHost);
    RecordingHost host;
    host.setClockOffsetUs(onSend ? 123456789 : -5000000);
    Endpoint endpoint("127.0.0.1", 0, withHost ? host.callbacks() : nullptr);
    RawPeer peer(broadcast ? QStringLiteral("255.255.255.255") : QStringLiteral("127.0.0.5"), pickFreePort());

    const QByteArray before = patterned(static_cast<quint16>(code), len);
    QByteArray stamped = before;
    const qint64 from = host.now();
    if (onSend) {
        QCOMPARE(endpoint.client.sendData(stamped.data(), len, address("127.0.0.5", peer.port()), broadcast), len);
        QCOMPARE(peer.waitFor(1).value(0).bytes, stamped);
    } else {
        peer.send(before, QStringLiteral("127.0.0.1"), endpoint.port());
        QTest::qSleep(5);
        QTRY_COMPARE(endpoint.delivered.size(), std::size_t(1));
        stamped = endpoint.delivered.front().bytes;
    }
    const qint64 to = host.now();
    QCOMPARE(stamped.size(), before.size());
    if (stampOffset < 0) {
        QCOMPARE(stamped, before);
        return;
    }
    const qint64 stamp = wire::getI64(stamped.constData() + stampOffset);
    if (!withHost)
        QCOMPARE(stamp, qint64(0));
    else
        QVERIFY2(stamp >= from && stamp <= to, qPrintable(QString::number(stamp)));
    QCOMPARE(stamped.left(stampOffset), before.left(stampOffset));
    QCOMPARE(stamped.mid(stampOffset + 8), before.mid(stampOffset + 8));
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
    // Two bursts, each queued while the event loop does not run: every datagram of both is delivered (the
    // socket's own record of pending datagrams stays right), and each reply's stamp is its arrival, before
    // the loop read it, not the read.
    for (int burst = 0; burst < 2; ++burst) {
        const std::size_t already = endpoint.delivered.size();
        const qint64 sentAfter = host.now();
        for (int i = 0; i < 3; ++i)
            sender.send(patterned(307, 56), QStringLiteral("127.0.0.1"), endpoint.port());
        QTest::qSleep(20);
        const qint64 queuedBefore = host.now();
        QTRY_COMPARE(endpoint.delivered.size(), already + 3);
        for (std::size_t i = already; i < already + 3; ++i) {
            const qint64 stamp = wire::getI64(endpoint.delivered[i].bytes.constData() + 48);
            // A microsecond either side: the two clocks are read one after the other, not at once.
            QVERIFY2(stamp >= sentAfter - 1 && stamp <= queuedBefore, qPrintable(QString::number(stamp)));
        }
    }
}

void tst_UdpClient::waitingDatagramsLetTheEventLoopRun()
{
    const quint16 port = pickFreePort();
    Endpoint endpoint("127.0.0.6", port);
    RawPeer sender(QStringLiteral("127.0.0.6"));
    RawPeer echo(QStringLiteral("127.0.0.6"), port);  // the endpoint's own address and port
    // As a flood looks to the reader: many more datagrams waiting than one batch, the endpoint's own echoes
    // among them. An event posted when the first arrives must run before the queue is empty; the echoes
    // vanish, and the rest arrive every one, in order.
    constexpr int kWaiting = 150;  // small datagrams: the socket's default buffer holds them all
    std::size_t deliveredWhenPostedRan = 0;
    bool posted = false;
    endpoint.client.setRecvCallback([&](const char* data, int len, NetControlNS::struAddress from) {
        endpoint.delivered.push_back({QByteArray(data, len), from});
        if (!std::exchange(posted, true))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { deliveredWhenPostedRan = endpoint.delivered.size(); },
                Qt::QueuedConnection);
    });
    for (int i = 0; i < kWaiting; ++i) {
        QCOMPARE(sender.send(patterned(quint16(i), 12), QStringLiteral("255.255.255.255"), port), qint64(12));
        if (i % 10 == 0)
            echo.send(patterned(9999, 12), QStringLiteral("255.255.255.255"), port);
    }
    QTRY_COMPARE(endpoint.delivered.size(), std::size_t(kWaiting));
    QTest::qWait(50);
    QCOMPARE(endpoint.delivered.size(), std::size_t(kWaiting));
    QVERIFY2(deliveredWhenPostedRan > 0 && deliveredWhenPostedRan < std::size_t(kWaiting),
             qPrintable(QString::number(deliveredWhenPostedRan)));
    for (int i = 0; i < kWaiting; ++i)
        QCOMPARE(int(codeOf(endpoint.delivered[std::size_t(i)].bytes)), i);
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
    RawPeer otherPort(QStringLiteral("127.0.0.3"));
    RawPeer otherAddress(QStringLiteral("127.0.0.5"), filtered.port());
    const DroppedSender dropped{byAddress ? std::optional<quint32>(0x7F000003) : std::nullopt, filtered.port()};
    QVERIFY(endpoint.client.refreshSenderFilter([&] { return std::optional<DroppedSender>(dropped); }));

    const auto codesOfAll = [&](std::size_t count) {
        filtered.send(patterned(600, 12), QStringLiteral("255.255.255.255"), port);
        otherPort.send(patterned(601, 12), QStringLiteral("255.255.255.255"), port);
        otherAddress.send(patterned(602, 12), QStringLiteral("127.0.0.4"), port);  // unicast: the bound socket
        runEventLoopUntil([&] { return endpoint.delivered.size() >= count; });
        QTest::qWait(50);
        QList<int> seen;
        for (const Delivered& d : std::exchange(endpoint.delivered, {}))
            seen.append(codeOf(d.bytes));
        std::sort(seen.begin(), seen.end());
        return seen;
    };
    QCOMPARE(codesOfAll(std::size_t(delivered.size())), delivered);
    // Lifted, it lets every sender through again.
    QVERIFY(endpoint.client.refreshSenderFilter([] { return std::nullopt; }));
    QCOMPARE(codesOfAll(3), (QList<int>{600, 601, 602}));
}

QTEST_GUILESS_MAIN(tst_UdpClient)
#include "tst_udpclient.moc"
