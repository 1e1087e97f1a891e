// SPDX-License-Identifier: MIT
// Riding out outages and restarts: a slave that went silent comes back on its next heartbeat, a slave
// whose program started again on an admitted PC takes its old place, a search can keep the roster, and a
// slave follows a master whose program started again, and the host hears of slaves that join, go off line
// and come back without polling. Each is off until the host asks for it.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackGroup.h"
#include "common/MasterWithRoster.h"
#include "master/SlaveRoster.h"

#include <QTest>

#include <mutex>

using namespace tamo::detail;
using namespace roster_fixture;

class tst_Recovery : public QObject
{
    Q_OBJECT
private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }

    void silentSlaveComesBackOnItsNextHeartbeat_data();
    void silentSlaveComesBackOnItsNextHeartbeat();
    void restartedSlaveTakesThePlaceOfItsSilentKey_data();
    void restartedSlaveTakesThePlaceOfItsSilentKey();
    void refreshKeepsTheRoster();
    void slaveFollowsARestartedMaster_data();
    void slaveFollowsARestartedMaster();
    void slaveEventsAndReadiness_data();
    void slaveEventsAndReadiness();
};

void tst_Recovery::silentSlaveComesBackOnItsNextHeartbeat_data()
{
    QTest::addColumn<bool>("recovery");
    QTest::addColumn<qint64>("silentUs");
    QTest::addColumn<bool>("back");
    QTest::newRow("classic: 4.5 s less 1 us is no silence") << false << qint64(4499999) << true;
    QTest::newRow("classic: after 4.5 s off line until the next search") << false << qint64(4500000) << false;
    QTest::newRow("recovery: a cable pulled for 10 s") << true << qint64(10000000) << true;
}

void tst_Recovery::silentSlaveComesBackOnItsNextHeartbeat()
{
    QFETCH(bool, recovery);
    QFETCH(qint64, silentUs);
    QFETCH(bool, back);
    MasterWithRoster m({0, 1});
    m.control.setRecovery(recovery);
    LogCapture log;
    const qint64 t0 = 100000000;
    m.host.stopClockAt(t0);
    m.report(enS2MHeartbeatCmd, -1);
    m.host.stopClockAt(t0 + silentUs);
    m.report(enS2MHeartbeatCmd, -1, 0, kSlavePid + 1);  // another process of the same PC is another slave
    QCOMPARE(m.entry(0).lastOnlineTime, t0);
    m.report(enS2MHeartbeatCmd, -1);
    QCOMPARE(m.entry(0).lastOnlineTime, back ? t0 + silentUs : t0);
    QCOMPARE(m.entry(1).lastOnlineTime, m.entry(0).lastOnlineTime);  // every entry of the process
    QCOMPARE(int(log.text().count("MultiNetControl::setRecovery slave 127.0.0.5_77 is on line again after 10.0 s")),
             recovery ? 1 : 0);
}

void tst_Recovery::restartedSlaveTakesThePlaceOfItsSilentKey_data()
{
    QTest::addColumn<bool>("admitRestarted");
    QTest::addColumn<qint64>("silentUs");
    QTest::addColumn<bool>("neverHeard");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("keyed");
    QTest::addColumn<bool>("answersWhenAsked");
    QTest::newRow("silent for 6 s, asked, no answer: replaced") << true << qint64(6000000) << false << true << false << false;
    QTest::newRow("silent for 6 s but answers when asked: kept") << true << qint64(6000000) << false << false << false << true;
    QTest::newRow("silent for 2 s: still on line") << true << qint64(2000000) << false << false << false << false;
    QTest::newRow("never sent a heartbeat") << true << qint64(6000000) << true << false << false << false;
    QTest::newRow("classic: not admitted") << false << qint64(6000000) << false << false << false << false;
    QTest::newRow("keyed: the signed newcomer at once") << true << qint64(0) << false << true << true << false;
}

void tst_Recovery::restartedSlaveTakesThePlaceOfItsSilentKey()
{
    QFETCH(bool, admitRestarted);
    QFETCH(qint64, silentUs);
    QFETCH(bool, neverHeard);
    QFETCH(bool, replaced);
    QFETCH(bool, keyed);
    QFETCH(bool, answersWhenAsked);
    constexpr quint32 kNewPid = 91;
    MasterWithRoster m({0, 1});
    m.control.setAdmitRestartedSlaves(admitRestarted);
    if (keyed)
        m.setGroupKeys({NetControlNS::struGroupKey{1, std::string(32, 'k')}});
    if (!neverHeard)
        m.report(enS2MHeartbeatCmd, -1);
    m.host.setClockOffsetUs(silentUs);
    LogCapture log;
    m.report(enS2MReportPartnerCmd, 0, 1, kNewPid);
    if (!keyed && admitRestarted && silentUs > MultiNetControl::kSlaveOfflineAfterUs && !neverHeard) {
        // Silence can be forged: the old process is asked first, three times, and has a second to answer.
        QVERIFY(log.text().contains("asking that one whether it is still there"));
        QVERIFY(m.control.getAdmittedSlaves().contains(QStringLiteral("127.0.0.5_77")));
        if (answersWhenAsked)
            m.report(enS2MReportPartnerCmd, 0);
        // The newcomer's next answers to searches, a second apart: more asks, then its place.
        for (int second = 1; second <= SlaveRoster::kProbeAsks; ++second) {
            m.host.setClockOffsetUs(silentUs + second * 1100000);
            m.report(enS2MReportPartnerCmd, 0, 1, kNewPid);
        }
    }
    const auto roster = m.control.getSlavesPlayer();
    QCOMPARE(m.control.getAdmittedSlaves(), QSet<QString>{replaced ? "127.0.0.5_91" : "127.0.0.5_77"});
    QCOMPARE(int(roster.size()), replaced ? 1 : 2);
    QCOMPARE(roster.front().processId, replaced ? int(kNewPid) : int(kSlavePid));
    QCOMPARE(int(log.text().count("admitted 127.0.0.5_91 in place of 127.0.0.5_77")), replaced ? 1 : 0);
}

void tst_Recovery::refreshKeepsTheRoster()
{
    MasterWithRoster m({0});
    m.report(enS2MReportPreparedCmd, 0);
    QVERIFY(m.control.refreshSlavePlayers());
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(1));
    QVERIFY(m.entry(0).isPrepared);
    m.control.setMasterFlag(false);
    QVERIFY(!m.control.refreshSlavePlayers());
}

void tst_Recovery::slaveFollowsARestartedMaster_data()
{
    QTest::addColumn<bool>("recovery");
    QTest::newRow("recovery") << true;
    QTest::newRow("classic: the first master's address stays") << false;
}

void tst_Recovery::slaveFollowsARestartedMaster()
{
    QFETCH(bool, recovery);
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    slave.control->setRecovery(recovery);
    QVERIFY(group.discover());
    QVERIFY(group.master().control->notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return group.master().control->isAllSlaveClockSucced(); }));
    QVERIFY(slave.control->getClockEstimate().valid);

    // The master's program starts again: same PC, another process (here another object, another port).
    LogCapture log;
    group.master().control.reset();
    MultiNetControl::m_haveStartClockSync = false;
    RecordingHost restartedHost;
    MultiNetControl restarted(restartedHost.callbacks(), LoopbackGroup::kGroupId, group.master().ip, group.port());
    restarted.setMasterFlag(true);
    restarted.setSlaves({LoopbackGroup::admissionKey(slave.ip)});
    QVERIFY(restarted.findSlavePlayer());
    QVERIFY(runEventLoopUntil([&] { return restarted.getSlavesPlayer().size() == 1; }));
    QVERIFY(restarted.notifySlaveStartClockSync());

    // Clock requests and the clock-ready report reach the new master only when the slave follows it.
    QCOMPARE(runEventLoopUntil([&] { return restarted.isAllSlaveClockSucced(); }, 2000), recovery);
    // A stop ends each clock-sync pair of the slave with a line: classically the new start added a second.
    QVERIFY(restarted.notifySlaveStopClockSync());
    const auto pairs = [&] { return int(log.text().count("MultiNetControl::heartSyncThread exit!")); };
    QVERIFY(runEventLoopUntil([&] { return pairs() >= (recovery ? 1 : 2); }));
    runEventLoopFor(100);
    QCOMPARE(pairs(), recovery ? 1 : 2);
    if (recovery) {
        QVERIFY(log.text().contains("MultiNetControl::setRecovery master 127.0.0.1 started again"));
        QVERIFY(slave.control->getClockEstimate().samples < 40);  // started afresh with the new master
    }
}

void tst_Recovery::slaveEventsAndReadiness_data()
{
    QTest::addColumn<bool>("backOnLine");
    QTest::newRow("silent slave back on line") << true;
    QTest::newRow("classic: off line until the next search") << false;
}

// A slave joins, its cable is pulled for 6 s, and it heartbeats again; the events follow the roster's own
// view of it, and the readiness query names who has not reported.
void tst_Recovery::slaveEventsAndReadiness()
{
    QFETCH(bool, backOnLine);
    std::mutex mutex;
    std::vector<std::pair<NetControlNS::SlaveEvent, std::string>> events;
    const auto told = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    };
    MasterWithRoster m({});
    m.control.setOptions(backOnLine ? unsigned(NetControlNS::SlaveBackOnLine) : 0u);
    m.control.setSlaveEventHandler([&](NetControlNS::SlaveEvent event, const NetControlNS::struAddress& slave) {
        std::lock_guard<std::mutex> lock(mutex);
        events.emplace_back(event, slave.ip + "_" + std::to_string(slave.processId));
    });
    m.report(enS2MReportPartnerCmd, 0);
    m.report(enS2MReportPartnerCmd, 1);  // a second layer of the same slave: no second Joined
    m.report(enS2MHeartbeatCmd, -1);
    m.report(enS2MReportPreparedCmd, 1);
    const std::string key = kSlaveIp + "_" + std::to_string(kSlavePid);
    std::vector<std::pair<NetControlNS::SlaveEvent, std::string>> expected{{NetControlNS::SlaveEvent::Joined, key}};
    QCOMPARE(told(), expected);
    const auto notPrepared = m.control.getSlavesNotReady(NetControlNS::Readiness::Prepared, -1);
    QCOMPARE(notPrepared.size(), std::size_t(1));
    QCOMPARE(notPrepared[0].layerId, 0);
    QVERIFY(m.control.getSlavesNotReady(NetControlNS::Readiness::Prepared, 1).empty());
    QCOMPARE(m.control.getSlavesNotReady(NetControlNS::Readiness::ClockSynced, 1).size(), std::size_t(2));

    m.host.setClockOffsetUs(6000000);  // six seconds of silence
    expected.emplace_back(NetControlNS::SlaveEvent::WentOffLine, key);
    QVERIFY(runEventLoopUntil([&] { return told() == expected; }, 2000));
    m.report(enS2MHeartbeatCmd, -1);
    if (backOnLine)
        expected.emplace_back(NetControlNS::SlaveEvent::CameBack, key);
    QTest::qWait(300);
    QCOMPARE(told(), expected);  // told once, not at every look
}

QTEST_GUILESS_MAIN(tst_Recovery)
#include "tst_recovery.moc"
