// SPDX-License-Identifier: MIT
// Malformed datagrams over real sockets to an object that is both master and slave: each one gets its line
// or is ignored, and the object then still carries out a valid command from its master.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"

#include <QTest>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 7;
const QString kNodeIp = QStringLiteral("127.0.0.61");
const QString kMasterIp = QStringLiteral("127.0.0.62");
const QString kStrangerIp = QStringLiteral("127.0.0.63");

enum class Outcome { Ignored, Incomplete, OtherMaster, Handled };

// A valid step from the master whose header lengths are then overwritten.
QByteArray withLengths(quint16 dataLen, quint16 userDataLen, int size)
{
    QByteArray datagram = buildDatagram(enM2SStepCmd, 0, kGroup);
    datagram.resize(size);
    wire::putU16(datagram.data() + 18, dataLen);
    wire::putU16(datagram.data() + 20, userDataLen);
    return datagram;
}

QByteArray withPayload(quint16 code, int payloadSize)
{
    return buildDatagram(code, 0, kGroup, QByteArray(payloadSize, 'p'), "ud");
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class tst_Malformed : public QObject
{
    Q_OBJECT
private slots:
    void eachIsDroppedAndTheObjectGoesOn_data();
    void eachIsDroppedAndTheObjectGoesOn();
};

void tst_Malformed::eachIsDroppedAndTheObjectGoesOn_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("senderIp");
    QTest::addColumn<Outcome>("outcome");

    const QByteArray step = buildDatagram(enM2SStepCmd, 0, kGroup, {}, "ud");
    QByteArray wrongMagic = step;
    wrongMagic[3] = '\x56';

    QTest::newRow("empty") << QByteArray() << kMasterIp << Outcome::Ignored;
    QTest::newRow("23 bytes") << step.left(23) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("wrong magic") << wrongMagic << kMasterIp << Outcome::Incomplete;
    QTest::newRow("payload overruns") << withLengths(8, 0, 24 + 7) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("user data overruns") << withLengths(0, 100, 24 + 99) << kMasterIp << Outcome::Incomplete;
    // Summed in 16 bits these would wrap to 8 bytes, which the datagram does hold.
    QTest::newRow("sum wraps 16 bits") << withLengths(0xFFF8, 0x0010, 24 + 8) << kMasterIp << Outcome::Incomplete;
    // Read as signed 16-bit values both are -1, and the sum would be smaller than the header.
    QTest::newRow("both lengths 0xFFFF") << withLengths(0xFFFF, 0xFFFF, 64) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("unknown code 306") << buildDatagram(306, 0, kGroup) << kMasterIp << Outcome::Ignored;
    QTest::newRow("start with 8 payload bytes") << withPayload(enM2SStartCmd, 8) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("speed with 7 payload bytes") << withPayload(enM2SSpeedCmd, 7) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("seek with 16 payload bytes") << withPayload(enM2SSeekCmd, 16) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("request with 31 payload bytes")
        << withPayload(enS2MClockSyncRequestCmd, 31) << kMasterIp << Outcome::Incomplete;
    QTest::newRow("another group") << buildDatagram(enM2SStepCmd, 0, kGroup + 1) << kMasterIp << Outcome::Ignored;
    QTest::newRow("another master") << step << kStrangerIp << Outcome::OtherMaster;
    // Bytes after the end the header announces are no user data.
    QTest::newRow("bytes after the datagram") << buildDatagram(enM2SStepCmd, 0, kGroup) + "tt" << kMasterIp
                                              << Outcome::Handled;
}

void tst_Malformed::eachIsDroppedAndTheObjectGoesOn()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, senderIp);
    QFETCH(Outcome, outcome);

    const quint16 port = pickFreePort();
    RecordingHost host;
    MultiNetControl node(host.callbacks(), kGroup, kNodeIp.toStdString(), port);
    node.setMasterFlag(true);
    node.setSlaveFlag(true);
    node.setMasterIp(kMasterIp.toStdString());
    RawPeer sender(senderIp);
    RawPeer master(kMasterIp);

    LogCapture out;
    QCOMPARE(sender.send(datagram, kNodeIp, port), qint64(datagram.size()));
    const QByteArray speed = buildDatagram(enM2SSpeedCmd, 5, kGroup, QByteArray(8, '\0'));
    QCOMPARE(master.send(speed, kNodeIp, port), qint64(speed.size()));
    // Handled in arrival order: once the speed has reached the host, the datagram before it is done with.
    const int calls = outcome == Outcome::Handled ? 2 : 1;
    QVERIFY(runEventLoopUntil([&] { return host.callCount() == calls; }));
    QCOMPARE(host.calls().back().name, QStringLiteral("speed"));
    QCOMPARE(host.calls().back().layerId, 5);

    const QByteArray text = out.text();
    const QByteArray incomplete = "handle_message: WARING  received message from netaddr(" + senderIp.toLatin1() + "_"
                                  + QByteArray::number(sender.port()) + ") maybe incomplete!\n";
    const QByteArray otherMaster = "handle_message: WARING  receive other master's(ip:" + senderIp.toLatin1()
                                   + ") cmd! self master is " + kMasterIp.toLatin1() + "\n";
    QCOMPARE(text.count(incomplete), outcome == Outcome::Incomplete ? 1 : 0);
    QCOMPARE(text.count(otherMaster), outcome == Outcome::OtherMaster ? 1 : 0);
    QCOMPARE(text.count("WARING"), outcome == Outcome::Ignored || outcome == Outcome::Handled ? 0 : 1);
    QVERIFY2(!text.contains("ERROR"), text.constData());
    if (outcome == Outcome::Handled) {
        const HostCall step = host.calls().front();
        QCOMPARE(step.name, QStringLiteral("step"));
        QVERIFY(step.userDataNull);
    }
}

QTEST_GUILESS_MAIN(tst_Malformed)
#include "tst_malformed.moc"
