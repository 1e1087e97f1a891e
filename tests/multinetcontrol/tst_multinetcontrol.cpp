// SPDX-License-Identifier: MIT
// The control object: configuration, what its senders put on the wire and what a slave's host makes of it,
// and the tests that a received datagram passes before any branch sees it. Senders on several threads and
// destruction under load: tests/stress.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LoopbackPeers.h"
#include "common/MultiNetControlTestAccess.h"
#include "common/RecordingHost.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"

#include <QCoreApplication>
#include <QTest>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 7;

// Gives one operation by name, with the values that the tables below expect.
bool give(MultiNetControl& c, const QString& operation)
{
    static QByteArray tenBytes("0123456789");
    static QByteArray big(3000, 'b');
    if (operation == "find") return c.findSlavePlayer();
    if (operation == "prepare") return c.notifySlavePrepareAsync(0, big.data(), big.size());
    if (operation == "start") return c.notifySlaveStart(1.0, -2.0, 3, tenBytes.data(), tenBytes.size());
    if (operation == "pause") return c.notifySlavePause(0.5, 1, nullptr, 4);
    if (operation == "stop") return c.notifySlaveStop(1.0, 1, nullptr, 0);
    if (operation == "seek") return c.notifySlaveSeek(-1, true, 0, 2.0, nullptr, 0);
    if (operation == "speed") return c.notifySlaveSpeed(1.5, 2, nullptr, 0);
    if (operation == "step") return c.notifySlaveStep(-1, nullptr, 0);
    if (operation == "stepBack") return c.notifySlaveStepBack(65535, nullptr, 0);
    if (operation == "startClockSync") return c.notifySlaveStartClockSync();
    if (operation == "stopClockSync") return c.notifySlaveStopClockSync();
    qFatal("unknown operation");
}

const QStringList kMasterOperations = {"find", "prepare", "start", "pause", "stop", "seek", "speed",
                                       "step", "stepBack", "startClockSync", "stopClockSync"};

// A control object with a recording host and a listener for what it broadcasts.
struct Fixture
{
    Fixture()
        : port(pickFreePort()), control(host.callbacks(), kGroup, "127.0.0.1", port),
          listener(QStringLiteral("255.255.255.255"), port)
    {
    }

    quint16 port;
    RecordingHost host;
    MultiNetControl control;
    RawPeer listener;
};

} // namespace

class tst_MultiNetControl : public QObject
{
    Q_OBJECT
private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }

    void sendersOnTheWire_data();
    void sendersOnTheWire();
    void oversizedUserDataIsRefused();
    void wrongRoleSendsNothing();
    void clockSyncStartsOncePerProcess();
    void receiveFilters_data();
    void receiveFilters();
    void ownCommandsReachOnlyTheSlaveRole();
};

void tst_MultiNetControl::sendersOnTheWire_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("layer");
    QTest::addColumn<QByteArray>("body");  // payload and user data
    QTest::addColumn<int>("userDataLen");
    QTest::addColumn<QString>("hostCall");  // what a slave's host is called with; empty: nothing
    const auto hex = [](const char* digits) { return QByteArray::fromHex(digits); };
    QTest::newRow("find partner") << "find" << 300 << -1 << QByteArray() << 0 << QString();
    QTest::newRow("prepare with 3000 bytes") << "prepare" << 304 << 0 << QByteArray(3000, 'b') << 3000 << "prepare -1:";
    QTest::newRow("start with 10 bytes") << "start" << 301 << 3 << hex("000000000000f03f 00000000000000c0") + "0123456789"
                                         << 10 << "start 3: 1 -2";
    QTest::newRow("pause, null user data of 4") << "pause" << 302 << 1 << hex("000000000000e03f 00000000") << 4
                                                << "pause 1: 0.5";
    QTest::newRow("stop") << "stop" << 303 << 1 << hex("000000000000f03f") << 0 << "stop 1: 1";
    QTest::newRow("seek") << "seek" << 305 << 0 << hex("ffffffffffffffff 01 00000000000000 0000000000000040") << 0
                          << "seek 0: 2 at -1 flag 1";
    QTest::newRow("speed 1.5") << "speed" << 310 << 2 << hex("000000000000f83f") << 0 << "speed 2: 1.5";
    QTest::newRow("step") << "step" << 311 << -1 << QByteArray() << 0 << "step -1:";
    QTest::newRow("step back, layer 65535") << "stepBack" << 312 << -1 << QByteArray() << 0 << "stepBack -1:";
    QTest::newRow("start clock sync") << "startClockSync" << 308 << -1 << QByteArray() << 0 << QString();
    QTest::newRow("stop clock sync") << "stopClockSync" << 309 << -1 << QByteArray() << 0 << QString();
}

// The datagram byte for byte, and what the host of a slave on another address makes of it.
void tst_MultiNetControl::sendersOnTheWire()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(int, layer);
    QFETCH(QByteArray, body);
    QFETCH(int, userDataLen);
    QFETCH(QString, hostCall);
    Fixture f;
    f.control.setMasterFlag(true);
    RecordingHost slaveHost;
    MultiNetControl slave(slaveHost.callbacks(), kGroup, "127.0.0.2", f.port);
    slave.setSlaveFlag(true);
    slave.setMasterIp("127.0.0.1");
    QVERIFY(give(f.control, operation));
    const auto received = f.listener.waitFor(1);
    QCOMPARE(received.size(), 1);
    const QByteArray& d = received.front().bytes;
    // The header as tests/wireformat pins it byte for byte, with this process's id and the next number.
    QCOMPARE(d.toHex(), buildDatagram(quint16(code), layer, kGroup, body.chopped(userDataLen), body.right(userDataLen),
                                      quint32(QCoreApplication::applicationPid()), wire::getU16(d.constData() + 16))
                            .toHex());

    if (!hostCall.isEmpty())
        QTRY_COMPARE(slaveHost.callCount(), 1);
    runEventLoopFor(50);
    QCOMPARE(slaveHost.callCount(), hostCall.isEmpty() ? 0 : 1);
    QCOMPARE(f.host.callCount(), 0);  // the master's own command comes back to it and calls nothing there
    if (hostCall.isEmpty())
        return;
    const HostCall call = slaveHost.calls().front();
    QString seen = call.name + " " + QString::number(call.layerId) + ":";
    for (double value : call.values)
        seen += " " + QString::number(value);
    if (call.name == "seek")
        seen += QStringLiteral(" at %1 flag %2").arg(call.position).arg(call.flag);
    QCOMPARE(seen, hostCall);
    QCOMPARE(call.userDataNull, userDataLen == 0);
    QCOMPARE(call.userData, body.right(userDataLen));
}

void tst_MultiNetControl::oversizedUserDataIsRefused()
{
    Fixture f;
    f.control.setMasterFlag(true);
    QVERIFY(f.control.notifySlaveStep(0, nullptr, 0));
    // A start holds 16 payload bytes, so 4056 bytes of user data fill the 4096-byte buffer exactly.
    QByteArray userData(4057, 'x');
    LogCapture out;
    QVERIFY(!f.control.notifySlaveStart(0, 0, 0, userData.data(), userData.size()));
    QCOMPARE(out.text(), QByteArray("MultiNetControl::notifySlaveStart WARING user data of 4057 bytes does not fit, "
                                    "at most 4056 bytes do: not sent\n"));
    QVERIFY(f.control.notifySlaveStart(0, 0, 0, userData.data(), 4056));
    const auto sent = f.listener.waitFor(2);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[1].bytes.size(), 4096);
    // The refused start used no sequence number.
    QCOMPARE(wire::getU16(sent[1].bytes.constData() + 16), quint16(wire::getU16(sent[0].bytes.constData() + 16) + 1));
}

void tst_MultiNetControl::wrongRoleSendsNothing()
{
    Fixture f;
    f.control.setSlaveFlag(true);
    for (const QString& operation : kMasterOperations)
        QVERIFY2(!give(f.control, operation), qPrintable(operation));
    QVERIFY(!MultiNetControl::m_haveStartClockSync);
    f.control.setSlaveFlag(false);
    f.control.setMasterFlag(true);
    QVERIFY(!f.control.reportPrepared(0));
    QVERIFY(!f.control.reportComplete(0));
    runEventLoopFor(100);
    QVERIFY(f.listener.received().isEmpty());
}

// Clock sync starts once a process, whichever object starts it, until the host clears the flag.
void tst_MultiNetControl::clockSyncStartsOncePerProcess()
{
    Fixture first;
    RecordingHost otherHost;
    MultiNetControl second(otherHost.callbacks(), kGroup, "127.0.0.2", pickFreePort());
    first.control.setMasterFlag(true);
    second.setMasterFlag(true);
    QVERIFY(first.control.notifySlaveStartClockSync());
    QVERIFY(first.control.notifySlaveStopClockSync());
    QVERIFY(!first.control.notifySlaveStartClockSync());
    QVERIFY(!second.notifySlaveStartClockSync());
    MultiNetControl::m_haveStartClockSync = false;
    QVERIFY(second.notifySlaveStartClockSync());
}

void tst_MultiNetControl::receiveFilters_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("senderIp");
    QTest::addColumn<QByteArray>("printed");  // the one line printed; empty: nothing printed

    const QByteArray prepared = buildDatagram(enS2MReportPreparedCmd, 1, kGroup);
    // Malformed datagrams, other groups and other masters over real sockets: tests/malformed.
    QTest::newRow("group -1 never matches") << "slave" << -1 << buildDatagram(enM2SStepCmd, 4, -1) << "127.0.0.1"
                                            << QByteArray();
    QTest::newRow("no role") << "none" << kGroup << buildDatagram(enM2SStepCmd, 4, kGroup) << "127.0.0.1"
                             << QByteArray("handle_message: ERROR  this net control is not slave and master!\n");
    QTest::newRow("both roles, report from another ip") << "both" << kGroup << prepared << "127.0.0.8"
                                                        << QByteArray("receive other master's(ip:127.0.0.8)");
    QTest::newRow("both roles, report from the master ip")
        << "both" << kGroup << prepared << "127.0.0.1"
        << QByteArray("slave player's ip:port(127.0.0.1:5000) : slave report prepared!\n");
}

void tst_MultiNetControl::receiveFilters()
{
    QFETCH(QString, role);
    QFETCH(int, group);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, senderIp);
    QFETCH(QByteArray, printed);
    RecordingHost host;
    MultiNetControl control(host.callbacks(), group, "127.0.0.2", pickFreePort());
    control.setMasterIp("127.0.0.1");
    control.setSlaveFlag(role != "none");
    control.setMasterFlag(role == "both");

    LogCapture out;
    MultiNetControlTestAccess(control).handle(datagram, senderIp.toStdString(), 5000);
    const QByteArray text = out.text();
    QVERIFY2(printed.isEmpty() ? text.isEmpty() : text.contains(printed) && text.count('\n') == 1, text.constData());
    QCOMPARE(host.callCount(), 0);
}

void tst_MultiNetControl::ownCommandsReachOnlyTheSlaveRole()
{
    // A player that is its own master hears its own commands; while it is master alone it drops them
    // before they reach it, and taking the slave role again must bring them back.
    Fixture f;
    f.control.setMasterFlag(true);
    f.control.setMasterIp("127.0.0.1");
    f.control.setSlaveFlag(true);
    QVERIFY(f.control.notifySlaveStep(1, nullptr, 0));
    QTRY_COMPARE(f.host.callCount(), 1);

    f.control.setSlaveFlag(false);
    QVERIFY(f.control.notifySlaveStep(2, nullptr, 0));
    QVERIFY(!f.listener.waitFor(1).isEmpty());  // it did leave
    f.control.setSlaveFlag(true);
    QVERIFY(f.control.notifySlaveStep(3, nullptr, 0));
    QTRY_COMPARE(f.host.callCount(), 2);
    QTest::qWait(50);
    QCOMPARE(f.host.callCount(), 2);
    QCOMPARE(f.host.calls().back().layerId, 3);
}

QTEST_GUILESS_MAIN(tst_MultiNetControl)
#include "tst_multinetcontrol.moc"
