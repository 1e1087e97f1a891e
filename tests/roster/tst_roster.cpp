// SPDX-License-Identifier: MIT
// The master's roster: admission from partner reports, the prepared/complete/clock flags, and the roster
// tests with their layer filter and off-line rule. The sign-of-life rule: tests/recovery.
#include "common/MasterWithRoster.h"

#include <QTest>

using namespace tamo::detail;
using namespace roster_fixture;
using Master = MasterWithRoster;

class tst_Roster : public QObject
{
    Q_OBJECT
private slots:
    void admission();
    void preparedReports();
    void completeReportsAndOfflineRule();
    void clockSyncedMarksEveryEntryOfTheIp();
};

void tst_Roster::admission()
{
    Master m({0});
    m.report(enS2MReportPartnerCmd, 0);         // a repetition
    m.report(enS2MReportPartnerCmd, 1);         // a second layer
    m.report(enS2MReportPartnerCmd, 0, 0, 78);  // another process of the same PC: not admitted
    m.report(enS2MReportPartnerCmd, 0, 1);      // another endpoint of the admitted process
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(3));
    const NetControlNS::struAddress first = m.control.getSlavesPlayer().front();
    QCOMPARE(first.ip, kSlaveIp);
    QCOMPARE(first.port, m.port());
    QCOMPARE(first.processId, int(kSlavePid));
    QCOMPARE(first.layerId, 0);

    m.control.setSlaves({});  // from now on nobody is admitted
    m.report(enS2MReportPartnerCmd, 5);
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(3));
}

void tst_Roster::preparedReports()
{
    Master m({1, 2});
    m.report(enS2MReportPreparedCmd, 1);
    m.report(enS2MReportPreparedCmd, 7);     // a layer the slave never announced
    m.report(enS2MReportPreparedCmd, 2, 1);  // another endpoint
    QVERIFY(m.entry(1).isPrepared);
    QVERIFY(!m.entry(2).isPrepared);
    QVERIFY(!m.control.isAllSlavePrepared(-1));
    QVERIFY(m.control.isAllSlavePrepared(1));
    QVERIFY(!m.control.isAllSlavePrepared(2));
}

void tst_Roster::completeReportsAndOfflineRule()
{
    Master m({-1, 1, 2});
    // No heartbeat yet: with the host clock past 5 s every entry is off line and counts as complete.
    QVERIFY(m.control.isAllSlaveComplete(2));

    m.report(enS2MHeartbeatCmd, -1);
    QVERIFY(!m.control.isAllSlaveComplete(-1));
    m.report(enS2MNotifyComplete, 1);
    m.report(enS2MNotifyComplete, -1);
    QVERIFY(m.control.isAllSlaveComplete(1));
    QVERIFY(!m.control.isAllSlaveComplete(2));
    QVERIFY(!m.control.isAllSlaveComplete(-1));

    // -1 is no wildcard when clearing: only the entry of layer -1 loses its flag.
    m.control.clearSlaveCompleteFlags(-1);
    QVERIFY(!m.entry(-1).isComplete);
    QVERIFY(m.entry(1).isComplete);

    // A slave silent for more than 5 s no longer holds the group back.
    m.host.setClockOffsetUs(5000001);
    QVERIFY(m.control.isAllSlaveComplete(-1));

    // Without a host clock no entry is ever off line.
    m.host.callbacks()->getClockTimeCbk = nullptr;
    QVERIFY(!m.control.isAllSlaveComplete(-1));
}

void tst_Roster::clockSyncedMarksEveryEntryOfTheIp()
{
    Master m({0, 1});
    QVERIFY(!m.control.isAllSlaveClockSucced());
    m.report(enS2MNotifyMasterClockPrepared, -1, 1, 1);  // port, process and layer are not compared
    QVERIFY(m.control.isAllSlaveClockSucced());
}

QTEST_GUILESS_MAIN(tst_Roster)
#include "tst_roster.moc"
