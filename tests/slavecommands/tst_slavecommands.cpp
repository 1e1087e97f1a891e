// SPDX-License-Identifier: MIT
// A master's commands, end to end over loopback, to the hosts of its slaves.
#include "common/LoopbackGroup.h"

#include <QCoreApplication>

#include <QTest>

namespace {

// Gives every playback command once on `master`; true when each was sent.
bool playEveryCommand(MultiNetControl& master)
{
    QByteArray abc("abc");
    QByteArray big(3000, 'u');
    return master.notifySlavePrepareAsync(4, big.data(), big.size())
           && master.notifySlaveStart(1.25, -7.5, 2, abc.data(), abc.size()) && master.notifySlaveSpeed(1.5, -1, nullptr, 0)
           && master.notifySlaveStep(0, nullptr, 0) && master.notifySlaveStepBack(65535, nullptr, 0)
           && master.notifySlavePause(3.0, 1, nullptr, 4) && master.notifySlaveSeek(-1, true, 3, 2.0, abc.data(), abc.size())
           && master.notifySlaveStop(9.75, 0, nullptr, -3);
}

HostCall call(const char* name, int layer, std::vector<double> values = {}, const QByteArray& userData = {},
              qint64 position = 0, bool flag = false)
{
    return HostCall{name, layer, std::move(values), position, flag, userData.isNull(), userData};
}

// What a slave's host must see for them.
const std::vector<HostCall> kEveryCommand = {
    call("prepare", -1, {}, QByteArray(3000, 'u')), call("start", 2, {1.25, -7.5}, "abc"), call("speed", -1, {1.5}),
    call("step", 0), call("stepBack", -1), call("pause", 1, {3.0}, QByteArray(4, '\0')),
    call("seek", 3, {2.0}, "abc", -1, true), call("stop", 0, {9.75})};

QStringList described(const std::vector<HostCall>& calls)
{
    QStringList out;
    for (const HostCall& c : calls) {
        QStringList values;
        for (double v : c.values)
            values << QString::number(v, 'g', 17);
        out << QStringLiteral("%1 layer %2 (%3) at %4 flag %5 data %6")
                   .arg(c.name).arg(c.layerId).arg(values.join(", ")).arg(c.position).arg(c.flag)
                   .arg(c.userDataNull ? QStringLiteral("null") : QString::fromLatin1(c.userData.toHex()));
    }
    return out;
}

} // namespace

class tst_SlaveCommands : public QObject
{
    Q_OBJECT
private slots:
    void everyCommandReachesEverySlave();
    void partnerReportsBuildTheRoster();
};

void tst_SlaveCommands::everyCommandReachesEverySlave()
{
    LoopbackGroup group;
    group.addSlave("127.0.0.2", {0});
    group.addSlave("127.0.0.3", {0});
    group.addSlave("127.0.0.3", {1});  // two players on one PC
    QVERIFY(playEveryCommand(*group.master().control));
    for (LoopbackNode& slave : group.slaves()) {
        QTRY_COMPARE(slave.host->callCount(), int(kEveryCommand.size()));
        QCOMPARE(described(slave.host->calls()), described(kEveryCommand));
    }
    // The master's own commands come back to its broadcast endpoint and call nothing there.
    QCOMPARE(group.master().host->callCount(), 0);
}

// Each slave process answers a search with an entry per layer, under its own endpoint; a slave the master
// does not admit gets none.
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
    QStringList entries;
    for (const NetControlNS::struAddress& e : group.master().control->getSlavesPlayer()) {
        QCOMPARE(qint64(e.processId), QCoreApplication::applicationPid());
        QVERIFY(!e.isPrepared && !e.isComplete && !e.isClockSynced && e.lastOnlineTime == -1);
        entries << QStringLiteral("%1:%2 layer %3").arg(QString::fromStdString(e.ip)).arg(e.port).arg(e.layerId);
    }
    const QString a = "127.0.0.2:" + QString::number(first.control->unicastPort());
    const QString b = "127.0.0.2:" + QString::number(second.control->unicastPort());
    entries.sort();
    QStringList expected = {a + " layer 0", a + " layer 1", b + " layer 0"};
    expected.sort();
    QCOMPARE(entries, expected);
}

QTEST_GUILESS_MAIN(tst_SlaveCommands)
#include "tst_slavecommands.moc"
