// SPDX-License-Identifier: MIT
// Forged traffic that must not cost without bound: a storm of start-clock-sync commands at a slave,
// partner reports under an admitted key at a master, and partner reports under keys it does not admit; and
// forgeries that must not work even without a key: a first copy that would suppress the genuine command,
// and a clock answer to no request.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/MultiNetControlTestAccess.h"
#include "common/RecordingHost.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <QTest>
#include <QtEndian>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 11;
constexpr char kMasterIp[] = "127.0.0.1";
constexpr char kSlaveIp[] = "127.0.0.2";

int countOf(const QList<ReceivedDatagramCopy>& received, quint16 code)
{
    return int(std::count_if(received.begin(), received.end(), [code](const ReceivedDatagramCopy& d) {
        return qFromLittleEndian<quint16>(d.bytes.constData() + 8) == code;
    }));
}

} // namespace

class tst_HostileTraffic : public QObject
{
    Q_OBJECT
private slots:
    void startStormIsBounded();
    void rosterEntriesPerSlaveAreBounded();
    void unadmittedPartnersAreBounded();
    void forgeriesWithoutAKey();
};

void tst_HostileTraffic::startStormIsBounded()
{
    LogCapture log;
    RecordingHost host;
    host.setLayerIds({0});
    MultiNetControl slave(host.callbacks(), kGroup, kSlaveIp, pickFreePort());
    slave.setSlaveFlag(true);
    slave.setMasterIp(kMasterIp);
    MultiNetControlTestAccess internals(slave);
    RawPeer master(QString::fromLatin1(kMasterIp));
    QVERIFY2(master.isBound(), qPrintable(master.errorString()));
    const QString slaveIp = QString::fromLatin1(kSlaveIp);
    quint16 seq = 0;
    auto send = [&](quint16 code, const QByteArray& payload = {}) {
        master.send(buildDatagram(code, -1, kGroup, payload, {}, 4242, seq++), slaveIp, internals.unicastPort());
    };
    // A search answered after everything sent before it shows that the worker has handled all of that.
    auto handledSoFar = [&] {
        master.clear();
        send(enM2SFindPartnerCmd);
        return runEventLoopUntil([&] { return countOf(master.received(), enS2MReportPartnerCmd) == 1; });
    };

    constexpr int kStorm = 200;
    for (int i = 0; i < kStorm; ++i)
        send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(internals.clockSyncGenerations(), MultiNetControl::kMaxClockSyncGenerations);
    QCOMPARE(log.text().count("further starts only reset the interval"), 1);

    // At the bound a start still sets the interval back, after a start command had lengthened it.
    send(enM2SStartCmd, QByteArray(16, '\0'));
    QVERIFY(handledSoFar());
    QCOMPARE(internals.syncIntervalMs(), 3000);
    send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(internals.syncIntervalMs(), 100);

    // A stop ends every generation; the next start runs one again, and the clock-sync requests come.
    send(enM2SStopClockSyncCmd);
    send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(internals.clockSyncGenerations(), 1);
    QVERIFY(internals.clockSyncRunning());
    QVERIFY(runEventLoopUntil([&] { return countOf(master.received(), enS2MClockSyncRequestCmd) > 0; }));

    // A new storm is a new episode with its own line.
    for (int i = 0; i < kStorm; ++i)
        send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(internals.clockSyncGenerations(), MultiNetControl::kMaxClockSyncGenerations);
    QCOMPARE(log.text().count("further starts only reset the interval"), 2);
}

void tst_HostileTraffic::rosterEntriesPerSlaveAreBounded()
{
    LogCapture log;
    RecordingHost host;
    MultiNetControl master(host.callbacks(), kGroup, kMasterIp, pickFreePort());
    master.setMasterFlag(true);
    master.setSlaves({QStringLiteral("127.0.0.2_4242"), QStringLiteral("127.0.0.3_4242")});
    MultiNetControlTestAccess internals(master);
    constexpr int kForged = 300;
    for (int i = 0; i < kForged; ++i) {
        const QByteArray report = buildDatagram(enS2MReportPartnerCmd, i % 7, kGroup, {}, {}, 4242);
        internals.handle(report, kSlaveIp, 20000 + i);
    }
    // The other admitted slave still gets its entry.
    internals.handle(buildDatagram(enS2MReportPartnerCmd, 0, kGroup, {}, {}, 4242), "127.0.0.3", 30000);

    const auto roster = master.getSlavesPlayer();
    QCOMPARE(int(roster.size()), MultiNetControl::kMaxRosterEntriesPerSlave + 1);
    QCOMPARE(int(std::count_if(roster.begin(), roster.end(), [](const auto& e) { return e.ip == "127.0.0.3"; })), 1);
    QCOMPARE(log.text().count("slave 127.0.0.2_4242 holds 64 roster entries"), 1);

    // A new search starts the roster afresh, bound included.
    QVERIFY(master.findSlavePlayer());
    internals.handle(buildDatagram(enS2MReportPartnerCmd, 0, kGroup, {}, {}, 4242), kSlaveIp, 20000);
    QCOMPARE(master.getSlavesPlayer().size(), std::size_t(1));
}

void tst_HostileTraffic::unadmittedPartnersAreBounded()
{
    LogCapture quiet;
    RecordingHost host;
    MultiNetControl master(host.callbacks(), kGroup, kMasterIp, pickFreePort());
    master.setMasterFlag(true);
    master.setSlaves({QStringLiteral("127.0.0.2_4242")});
    MultiNetControlTestAccess internals(master);
    constexpr int kForged = 100;
    for (int pid = 1; pid <= kForged; ++pid)
        internals.handle(buildDatagram(enS2MReportPartnerCmd, 0, kGroup, {}, {}, quint32(pid)), "127.0.0.9", 20000);
    // A key that reports again is kept once, as the newest.
    constexpr int kAgain = kForged - 5;
    internals.handle(buildDatagram(enS2MReportPartnerCmd, 1, kGroup, {}, {}, quint32(kAgain)), "127.0.0.9", 20001);

    const auto noted = master.getUnadmittedPartners();
    QCOMPARE(int(noted.size()), MultiNetControl::kMaxUnadmittedPartners);
    QCOMPARE(noted.front().processId, kForged - MultiNetControl::kMaxUnadmittedPartners + 1);
    QCOMPARE(noted.back().processId, kAgain);
    QCOMPARE(noted.back().layerId, 1);
    QCOMPARE(noted.back().port, 20001);
    QVERIFY(master.getSlavesPlayer().empty());
    QCOMPARE(master.getAdmittedSlaves(), QSet<QString>{QStringLiteral("127.0.0.2_4242")});
}

QTEST_GUILESS_MAIN(tst_HostileTraffic)
void tst_HostileTraffic::forgeriesWithoutAKey()
{
    LogCapture log;
    RecordingHost host;
    MultiNetControl slave(host.callbacks(), kGroup, kSlaveIp, pickFreePort());
    slave.setSlaveFlag(true);
    slave.setMasterIp(kMasterIp);
    slave.setAcknowledgedDelivery(true);
    MultiNetControlTestAccess internals(slave);
    RawPeer master(QString::fromLatin1(kMasterIp));
    QVERIFY2(master.isBound(), qPrintable(master.errorString()));
    const auto send = [&](quint16 code, const Payload& payload, quint16 seq) {
        master.send(buildDatagram(code, 0, kGroup, QByteArray(payload.data(), payload.size), {}, 4242, seq),
                    QString::fromLatin1(kSlaveIp), internals.unicastPort());
    };

    send(enM2SPauseCmd, encodeDoubles(1.0), 5);  // a forger's first copy, with the master's next numbers
    send(enM2SPauseCmd, encodeDoubles(2.0), 5);  // the genuine command: handled all the same
    send(enM2SPauseCmd, encodeDoubles(2.0), 5);  // its repeat: dropped
    QVERIFY(runEventLoopUntil([&] { return host.callCount() == 2; }));
    QTest::qWait(100);
    QCOMPARE(host.callCount(), 2);
    QCOMPARE(host.calls().back().values.front(), 2.0);
    QCOMPARE(log.text().count("differs from its first copy"), 1);

    // A clock answer that no request of this slave asked for moves nothing.
    send(enM2SClockSyncReplyCmd, encodeClockSyncStamps({{1000, 1100, 900, 0}}), 6);
    QVERIFY(runEventLoopUntil([&] { return log.text().contains("to no request of this slave"); }));
    QVERIFY(host.clockOffsets().empty());
    QVERIFY(!slave.getClockEstimate().valid);
}

#include "tst_hostiletraffic.moc"
