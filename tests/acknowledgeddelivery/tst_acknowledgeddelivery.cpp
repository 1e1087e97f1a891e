// SPDX-License-Identifier: MIT
// Acknowledged delivery over real sockets, with raw sockets as the far end so that each datagram can be
// lost on purpose: a master repeats a command to the slaves that did not acknowledge it, a slave
// acknowledges every copy and carries it out once, and reports travel the other way alike.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/SlaveWithRawMaster.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <QTest>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 13;
constexpr quint32 kPeerPid = 4242;
const QString kMasterIp = QStringLiteral("127.0.0.1");

quint16 seqOf(const QByteArray& datagram)
{
    return wire::getU16(datagram.constData() + 16);
}

QByteArray acknowledgementOf(const QByteArray& datagram, quint16 ackCode)
{
    const Payload ack = encodeAcknowledgement(Acknowledgement{seqOf(datagram), codeOf(datagram)});
    return buildDatagram(ackCode, -1, kGroup, QByteArray(ack.data(), ack.size), {}, kPeerPid);
}

} // namespace

class tst_AcknowledgedDelivery : public QObject
{
    Q_OBJECT
private slots:
    void masterRepeatsUntilEverySlaveAcknowledges();
    void slaveAcknowledgesEveryCopyAndActsOnce_data();
    void slaveAcknowledgesEveryCopyAndActsOnce();
    void reportsAreRepeatedAndHandledOnce();
};

void tst_AcknowledgedDelivery::masterRepeatsUntilEverySlaveAcknowledges()
{
    RecordingHost host;
    MultiNetControl master(host.callbacks(), kGroup, kMasterIp.toStdString(), pickFreePort());
    master.setMasterFlag(true);
    master.setAcknowledgedDelivery(true);
    RawPeer answering(QStringLiteral("127.0.0.2"));
    RawPeer silent(QStringLiteral("127.0.0.3"));
    RawPeer older(QStringLiteral("127.0.0.4"));  // says nothing of what it supports
    master.setSlaves({QStringLiteral("127.0.0.2_4242"), QStringLiteral("127.0.0.3_4242"), QStringLiteral("127.0.0.4_4242")});
    const Payload acknowledges = encodeCapabilities(Capabilities{Capabilities::AcknowledgedDelivery});
    for (RawPeer* peer : {&answering, &silent})
        peer->send(buildDatagram(enS2MReportPartnerCmd, 0, kGroup, QByteArray(acknowledges.data(), acknowledges.size),
                                 {}, kPeerPid),
                   kMasterIp, master.unicastPort());
    older.send(buildDatagram(enS2MReportPartnerCmd, 0, kGroup, {}, {}, kPeerPid), kMasterIp, master.unicastPort());
    QVERIFY(runEventLoopUntil([&] { return master.getSlavesPlayer().size() == 3; }));

    LogCapture log;
    QVERIFY(master.notifySlaveStep(0, const_cast<char*>("tag=cmd1"), 8));
    // The broadcast itself does not reach a socket bound to a unicast address: what comes are the repeats.
    const QList<ReceivedDatagramCopy> repeats = answering.waitFor(2, 2000);
    QVERIFY2(repeats.size() >= 2, qPrintable(QString::number(repeats.size())));
    QCOMPARE(codeOf(repeats[0].bytes), quint16(enM2SStepCmd));
    QCOMPARE(repeats[1].bytes, repeats[0].bytes);  // byte for byte, sequence number included
    QVERIFY(repeats[0].bytes.endsWith("tag=cmd1"));

    answering.send(acknowledgementOf(repeats[0].bytes, enS2MCommandAckCmd), kMasterIp, master.unicastPort());
    runEventLoopFor(300);
    const int afterAck = int(answering.received().size());
    runEventLoopFor(700);
    QCOMPARE(int(answering.received().size()), afterAck);

    // The slave that never answers is named once the repeats give up, and only it.
    QVERIFY(runEventLoopUntil([&] { return log.text().contains("was not acknowledged"); }, 4000));
    const QByteArray line = log.text().mid(log.text().indexOf("MultiNetControl WARING datagram 311"));
    QVERIFY2(line.contains("by 127.0.0.3:") && !line.contains("127.0.0.2"), line.constData());
    QVERIFY(silent.received().size() >= 6);
    // A slave that said nothing gets each command once (the broadcast), until it acknowledges one.
    QVERIFY(older.received().isEmpty());
    older.send(acknowledgementOf(repeats[0].bytes, enS2MCommandAckCmd), kMasterIp, master.unicastPort());
    runEventLoopFor(100);
    QVERIFY(master.notifySlaveStep(0, nullptr, 0));
    QVERIFY(older.waitFor(1, 2000).size() >= 1);

    // A master acknowledges each copy of a report and marks its slave prepared once.
    const QByteArray prepared = buildDatagram(enS2MReportPreparedCmd, 0, kGroup, {}, {}, kPeerPid, 9);
    answering.send(prepared, kMasterIp, master.unicastPort());
    answering.send(prepared, kMasterIp, master.unicastPort());
    QVERIFY(answering.waitForCode(enM2SReportAckCmd, 2));
    QCOMPARE(master.getSlavesNotReady(NetControlNS::Readiness::Prepared, -1).size(), std::size_t(2));
    QCOMPARE(int(log.text().count("slave report prepared!")), 1);
}

void tst_AcknowledgedDelivery::slaveAcknowledgesEveryCopyAndActsOnce_data()
{
    QTest::addColumn<bool>("acknowledged");
    QTest::newRow("acknowledged delivery") << true;
    QTest::newRow("classic: every copy is a command") << false;
}

void tst_AcknowledgedDelivery::slaveAcknowledgesEveryCopyAndActsOnce()
{
    QFETCH(bool, acknowledged);
    SlaveWithRawMaster s(kGroup);
    s.slave.setAcknowledgedDelivery(acknowledged);
    for (int copy = 0; copy < 3; ++copy)
        s.send(buildDatagram(enM2SPauseCmd, 0, kGroup, QByteArray(8, '\0'), {}, 77, 7));
    // Another master process (restarted) may use the same sequence number: that is a new command.
    s.send(buildDatagram(enM2SPauseCmd, 0, kGroup, QByteArray(8, '\0'), {}, 78, 7));
    QVERIFY(runEventLoopUntil([&] { return s.host.callCount() == (acknowledged ? 2 : 4); }));
    runEventLoopFor(100);
    QCOMPARE(s.host.callCount(), acknowledged ? 2 : 4);

    const QList<ReceivedDatagramCopy> acks = s.master.withCode(enS2MCommandAckCmd);
    QCOMPARE(int(acks.size()), acknowledged ? 4 : 0);
    if (acknowledged) {
        const auto ack = decodeAcknowledgement(acks[0].bytes.constData() + 24, std::size_t(acks[0].bytes.size() - 24));
        QVERIFY(ack);
        QCOMPARE(ack->seq, quint16(7));
        QCOMPARE(ack->code, quint16(enM2SPauseCmd));
    }
}

// A slave's report, lost and repeated until its master acknowledges it.
void tst_AcknowledgedDelivery::reportsAreRepeatedAndHandledOnce()
{
    SlaveWithRawMaster s(kGroup);
    RawPeer& rawMaster = s.master;
    s.host.setLayerIds({0});
    s.slave.setAcknowledgedDelivery(true);
    s.send(buildDatagram(enM2SFindPartnerCmd, -1, kGroup));
    QVERIFY(rawMaster.waitForCode(enS2MReportPartnerCmd));
    QVERIFY(s.slave.reportPrepared(0));
    QVERIFY(rawMaster.waitForCode(enS2MReportPreparedCmd, 3));
    const QByteArray report = rawMaster.withCode(enS2MReportPreparedCmd).front().bytes;
    QCOMPARE(rawMaster.withCode(enS2MReportPreparedCmd).back().bytes, report);
    s.send(acknowledgementOf(report, enM2SReportAckCmd));
    runEventLoopFor(300);
    const int afterAck = int(rawMaster.withCode(enS2MReportPreparedCmd).size());
    runEventLoopFor(700);
    QCOMPARE(int(rawMaster.withCode(enS2MReportPreparedCmd).size()), afterAck);
}

QTEST_GUILESS_MAIN(tst_AcknowledgedDelivery)
#include "tst_acknowledgeddelivery.moc"
