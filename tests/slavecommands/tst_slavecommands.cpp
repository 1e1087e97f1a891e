// SPDX-License-Identifier: MIT
// A master's commands, end to end over loopback, to the hosts of its slaves.
#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"

#include <QCoreApplication>

#include <algorithm>
#include <QTest>

using namespace tamo::detail;

namespace {

HostCall expectedCall(const char* name, int layer, std::vector<double> values, const QByteArray& userData)
{
    HostCall call;
    call.name = QString::fromLatin1(name);
    call.layerId = layer;
    call.values = std::move(values);
    call.userDataNull = userData.isNull();
    call.userData = userData;
    return call;
}

// Gives every playback command once on `master`, and returns what a slave's host must see for them.
std::vector<HostCall> playEveryCommand(MultiNetControl& master)
{
    QByteArray abc("abc");
    QByteArray big(3000, 'u');
    std::vector<HostCall> expected;
    auto give = [&](bool sent, HostCall call) {
        QVERIFY(sent);
        expected.push_back(std::move(call));
    };
    give(master.notifySlavePrepareAsync(4, big.data(), big.size()), expectedCall("prepare", -1, {}, big));
    give(master.notifySlaveStart(1.25, -7.5, 2, abc.data(), abc.size()), expectedCall("start", 2, {1.25, -7.5}, abc));
    give(master.notifySlaveSpeed(1.5, -1, nullptr, 0), expectedCall("speed", -1, {1.5}, QByteArray()));
    give(master.notifySlaveStep(0, nullptr, 0), expectedCall("step", 0, {}, QByteArray()));
    give(master.notifySlaveStepBack(65535, nullptr, 0), expectedCall("stepBack", -1, {}, QByteArray()));
    give(master.notifySlavePause(3.0, 1, nullptr, 4), expectedCall("pause", 1, {3.0}, QByteArray(4, '\0')));
    HostCall seek = expectedCall("seek", 3, {2.0}, abc);
    seek.position = -1;
    seek.flag = true;
    give(master.notifySlaveSeek(-1, true, 3, 2.0, abc.data(), abc.size()), seek);
    give(master.notifySlaveStop(9.75, 0, nullptr, -3), expectedCall("stop", 0, {9.75}, QByteArray()));
    return expected;
}

void verifyCalls(const std::vector<HostCall>& actual, const std::vector<HostCall>& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const HostCall& a = actual[i];
        const HostCall& e = expected[i];
        QCOMPARE(a.name, e.name);
        QCOMPARE(a.layerId, e.layerId);
        QCOMPARE(a.values, e.values);
        QCOMPARE(a.position, e.position);
        QCOMPARE(a.flag, e.flag);
        QCOMPARE(a.userDataNull, e.userDataNull);
        QCOMPARE(a.userData, e.userData);
    }
}

} // namespace

class tst_SlaveCommands : public QObject
{
    Q_OBJECT
private slots:
    void everyCommandReachesEverySlave();
    void partnerReportsBuildTheRoster();
    void slaveLinesAndMasterAddress();
};

void tst_SlaveCommands::everyCommandReachesEverySlave()
{
    LoopbackGroup group;
    group.addSlave("127.0.0.2", {0});
    group.addSlave("127.0.0.3", {0});
    group.addSlave("127.0.0.3", {1});  // two players on one PC
    const std::vector<HostCall> expected = playEveryCommand(*group.master().control);
    if (QTest::currentTestFailed())
        return;
    for (LoopbackNode& slave : group.slaves()) {
        QTRY_COMPARE(slave.host->callCount(), int(expected.size()));
        verifyCalls(slave.host->calls(), expected);
        if (QTest::currentTestFailed())
            return;
    }
    // The master's own commands come back to its broadcast endpoint and call nothing there.
    QCOMPARE(group.master().host->callCount(), 0);
}

void tst_SlaveCommands::partnerReportsBuildTheRoster()
{
    LoopbackGroup group;
    LoopbackNode& first = group.addSlave("127.0.0.2", {0, 1});
    LoopbackNode& second = group.addSlave("127.0.0.2", {0});
    RecordingHost strangerHost;
    strangerHost.setLayerIds({0});
    MultiNetControl stranger(strangerHost.callbacks(), LoopbackGroup::kGroupId, "127.0.0.4", group.port());
    stranger.setSlaveFlag(true);
    stranger.setMasterIp("127.0.0.1");

    QVERIFY(group.discover());
    QTest::qWait(100);  // the stranger, not admitted, must not appear late either
    const auto roster = group.master().control->getSlavesPlayer();
    QCOMPARE(roster.size(), std::size_t(3));
    const int firstPort = first.control->unicastPort();
    const int secondPort = second.control->unicastPort();
    QVERIFY(firstPort != secondPort);
    for (const NetControlNS::struAddress& entry : roster) {
        QCOMPARE(entry.ip, std::string("127.0.0.2"));
        QCOMPARE(qint64(entry.processId), QCoreApplication::applicationPid());
        QVERIFY(entry.port == firstPort || entry.port == secondPort);
        QVERIFY(!entry.isPrepared && !entry.isComplete && !entry.isClockSynced);
        QCOMPARE(entry.lastOnlineTime, qint64(-1));
    }
    const auto layersOf = [&](int port) {
        QList<int> layers;
        for (const auto& entry : roster)
            if (entry.port == port)
                layers.append(entry.layerId);
        return layers;
    };
    QCOMPARE(layersOf(firstPort), QList<int>({0, 1}));
    QCOMPARE(layersOf(secondPort), QList<int>({0}));

    // Reports from the slaves flip exactly the entries of their endpoint and layer.
    QVERIFY(first.control->reportPrepared(1));
    QVERIFY(second.control->reportComplete(0));
    MultiNetControl& master = *group.master().control;
    QTRY_VERIFY(master.isAllSlavePrepared(1));
    const auto anyComplete = [&] {
        const auto now = master.getSlavesPlayer();
        return std::any_of(now.begin(), now.end(), [](const auto& e) { return e.isComplete; });
    };
    QTRY_VERIFY(anyComplete());
    QVERIFY(!master.isAllSlavePrepared(0));
    for (const NetControlNS::struAddress& entry : master.getSlavesPlayer()) {
        QCOMPARE(entry.isPrepared, entry.port == firstPort && entry.layerId == 1);
        QCOMPARE(entry.isComplete, entry.port == secondPort);
    }
}

void tst_SlaveCommands::slaveLinesAndMasterAddress()
{
    RecordingHost host;
    host.setLayerIds({5, 6});
    MultiNetControl slave(host.callbacks(), 3, "127.0.0.2", pickFreePort());
    slave.setSlaveFlag(true);
    slave.setMasterIp("127.0.0.1");
    const QString slaveIp = QStringLiteral("127.0.0.2");
    RawPeer master(QStringLiteral("127.0.0.1"));
    RawPeer masterOtherPort(QStringLiteral("127.0.0.1"));

    LogCapture out;
    const QByteArray find = buildDatagram(enM2SFindPartnerCmd, -1, 3, {}, {}, 77, 12);
    master.send(find, slaveIp, slave.unicastPort());
    const auto reports = master.waitFor(2);
    QCOMPARE(reports.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QByteArray& r = reports[i].bytes;
        QCOMPARE(r.size(), 24);
        QCOMPARE(codeOf(r), quint16(enS2MReportPartnerCmd));
        QCOMPARE(int(qint16(wire::getU16(r.constData() + 14))), 5 + i);
        QCOMPARE(wire::getU16(r.constData() + 16), quint16(wire::getU16(reports[0].bytes.constData() + 16) + i));
    }
    // A second search from another port is answered there, but the slave's reports still go to the first.
    masterOtherPort.send(find, slaveIp, slave.unicastPort());
    QCOMPARE(masterOtherPort.waitFor(2).size(), 2);
    QVERIFY(slave.reportPrepared(5));
    QVERIFY(master.waitForCode(enS2MReportPreparedCmd));
    QVERIFY(masterOtherPort.withCode(enS2MReportPreparedCmd).isEmpty());

    master.send(buildDatagram(enM2SStepCmd, 0, 3, {}, {}, 77, 13), slaveIp, slave.unicastPort());
    QTRY_COMPARE(host.callCount(), 1);
    const QByteArray text = out.text();
    QCOMPARE(text.count("enM2SFindPartnerCmd set master addr. ip = 127.0.0.1, port = " + QByteArray::number(master.port())
                        + "\n"),
             1);
    QCOMPARE(text.count("enM2SFindPartnerCmd set master addr."), 1);
    QVERIFY(text.contains(", Seq:13) remote(127.0.0.1:" + QByteArray::number(master.port()) + ") slave step!\n"));
}

QTEST_GUILESS_MAIN(tst_SlaveCommands)
#include "tst_slavecommands.moc"
