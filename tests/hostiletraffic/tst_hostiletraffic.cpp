// SPDX-License-Identifier: MIT
// Forged traffic that must not cost without bound: a storm of start-clock-sync commands at a slave,
// partner reports under an admitted key at a master, and partner reports under keys it does not admit; and
// forgeries that must not work even without a key: a first copy that would suppress the genuine command,
// and a clock answer to no request.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/MasterWithRoster.h"
#include "common/SlaveWithRawMaster.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <QTest>

using namespace tamo::detail;
using roster_fixture::MasterWithRoster;
using roster_fixture::kSlavePid;

constexpr int kGroup = 11;

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
    SlaveWithRawMaster s(kGroup);
    s.host.setLayerIds({0});
    RawPeer& master = s.master;
    quint16 seq = 0;
    auto send = [&](quint16 code, const QByteArray& payload = {}) {
        s.send(buildDatagram(code, -1, kGroup, payload, {}, 4242, seq++));
    };
    // A search answered after everything sent before it shows that the worker has handled all of that.
    auto handledSoFar = [&] {
        master.clear();
        send(enM2SFindPartnerCmd);
        return master.waitForCode(enS2MReportPartnerCmd);
    };
    // A stop ends every clock-sync pair that runs, each with its line.
    auto pairsEndedByAStop = [&] {
        const auto ended = [&] { return int(log.text().count("MultiNetControl::heartSyncThread exit!")); };
        const int before = ended();
        send(enM2SStopClockSyncCmd);
        runEventLoopUntil([&] { return ended() > before; });
        runEventLoopFor(100);
        master.clear();
        return ended() - before;
    };

    constexpr int kStorm = 200;
    for (int i = 0; i < kStorm; ++i)
        send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(log.text().count("further starts only reset the interval"), 1);
    // At the bound a start still sets the interval back, after a start command had lengthened it; seen in
    // the requests' pace. After the start command each pair sends the one request already due, then none
    // for 3 s.
    constexpr int kPairs = MultiNetControl::kMaxClockSyncGenerations;
    send(enM2SStartCmd, QByteArray(16, '\0'));
    QVERIFY(handledSoFar());
    runEventLoopFor(1500);
    QVERIFY(master.withCode(enS2MClockSyncRequestCmd).size() <= kPairs);
    // After the slow requests due within the next 1.5 s, each pair asks every 100 ms again: four each well
    // before the 6 s that would give two each at the slow pace.
    master.clear();
    send(enM2SStartClockSyncCmd);
    QVERIFY(master.waitForCode(enS2MClockSyncRequestCmd, 4 * kPairs, 6000));
    QCOMPARE(pairsEndedByAStop(), MultiNetControl::kMaxClockSyncGenerations);

    // After the stop a start runs one pair again, and the clock-sync requests come.
    send(enM2SStartClockSyncCmd);
    QVERIFY(master.waitForCode(enS2MClockSyncRequestCmd));
    QCOMPARE(pairsEndedByAStop(), 1);

    // A new storm is a new run of ignored starts, with its own line.
    for (int i = 0; i < kStorm; ++i)
        send(enM2SStartClockSyncCmd);
    QVERIFY(handledSoFar());
    QCOMPARE(log.text().count("further starts only reset the interval"), 2);
}

void tst_HostileTraffic::rosterEntriesPerSlaveAreBounded()
{
    LogCapture log;
    MasterWithRoster m({});
    m.control.setSlaves({QStringLiteral("127.0.0.5_77"), QStringLiteral("127.0.0.3_77")});
    for (int port = 0; port < 10; ++port)
        for (int layer = 0; layer < 7; ++layer)
            m.report(enS2MReportPartnerCmd, layer, port);
    m.report(enS2MReportPartnerCmd, 0, 0, kSlavePid, "127.0.0.3");  // the other admitted slave gets its entry
    const auto roster = m.control.getSlavesPlayer();
    QCOMPARE(int(roster.size()), MultiNetControl::kMaxRosterEntriesPerSlave + 1);
    QCOMPARE(int(std::count_if(roster.begin(), roster.end(), [](const auto& e) { return e.ip == "127.0.0.3"; })), 1);
    QCOMPARE(log.text().count("slave 127.0.0.5_77 holds 64 roster entries"), 1);

    // A new search starts the roster afresh, bound included.
    QVERIFY(m.control.findSlavePlayer());
    m.report(enS2MReportPartnerCmd, 0, 9);
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(1));
}

void tst_HostileTraffic::unadmittedPartnersAreBounded()
{
    LogCapture quiet;
    MasterWithRoster m({});
    constexpr int kForged = 100;
    for (int pid = 1; pid <= kForged; ++pid)
        m.report(enS2MReportPartnerCmd, 0, 0, quint32(pid), "127.0.0.9");
    // A key that reports again is kept once, as the newest.
    constexpr int kAgain = kForged - 5;
    m.report(enS2MReportPartnerCmd, 1, 1, quint32(kAgain), "127.0.0.9");

    const auto noted = m.control.getUnadmittedPartners();
    QCOMPARE(int(noted.size()), MultiNetControl::kMaxUnadmittedPartners);
    QCOMPARE(noted.front().processId, kForged - MultiNetControl::kMaxUnadmittedPartners + 1);
    QCOMPARE(noted.back().processId, kAgain);
    QCOMPARE(noted.back().layerId, 1);
    QVERIFY(noted.back().lastOnlineTime > 0);  // the host time of its arrival
    QCOMPARE(noted.back().port, m.port(1, "127.0.0.9"));
    QVERIFY(m.control.getSlavesPlayer().empty());
    QCOMPARE(m.control.getAdmittedSlaves(), QSet<QString>{QStringLiteral("127.0.0.5_77")});
}

QTEST_GUILESS_MAIN(tst_HostileTraffic)
void tst_HostileTraffic::forgeriesWithoutAKey()
{
    LogCapture log;
    SlaveWithRawMaster s(kGroup);
    s.slave.setAcknowledgedDelivery(true);
    const auto send = [&](quint16 code, const Payload& payload, quint16 seq) {
        s.send(buildDatagram(code, 0, kGroup, QByteArray(payload.data(), payload.size), {}, 4242, seq));
    };

    send(enM2SPauseCmd, encodeDoubles(1.0), 5);  // a forger's first copy, with the master's next numbers
    send(enM2SPauseCmd, encodeDoubles(2.0), 5);  // the genuine command: handled all the same
    send(enM2SPauseCmd, encodeDoubles(2.0), 5);  // its repeat: dropped
    QVERIFY(runEventLoopUntil([&] { return s.host.callCount() == 2; }));
    QTest::qWait(100);
    QCOMPARE(s.host.callCount(), 2);
    QCOMPARE(s.host.calls().back().values.front(), 2.0);
    QCOMPARE(log.text().count("differs from its first copy"), 1);

    // A clock answer that no request of this slave asked for moves nothing.
    send(enM2SClockSyncReplyCmd, encodeClockSyncStamps({{1000, 1100, 900, 0}}), 6);
    QVERIFY(runEventLoopUntil([&] { return log.text().contains("to no request of this slave"); }));
    QVERIFY(s.host.clockOffsets().empty());
    QVERIFY(!s.slave.getClockEstimate().valid);
}

#include "tst_hostiletraffic.moc"
