// SPDX-License-Identifier: MIT
// The master's roster: admission from partner reports, the prepared/complete/clock flags, and the roster
// tests with their layer filter and off-line rule. The sign-of-life rule: tests/recovery.
#include "common/LogCapture.h"
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
    void discoveryNeedsTheMasterRole();
};

void tst_Roster::admission()
{
    LogCapture out;
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
    QCOMPARE(out.text().count("enS2MReportPartnerCmd   slave_addr.ip = 127.0.0.5, slave_addr.port = "
                              + QByteArray::number(m.port()) + ", slave_addr.layerId = 0\n"),
             1);
    QCOMPARE(out.text().count("enS2MReportPartnerCmd"), 3);

    m.control.setSlaves({});  // from now on nobody is admitted
    m.report(enS2MReportPartnerCmd, 5);
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(3));
}

void tst_Roster::preparedReports()
{
    Master m({1, 2});
    LogCapture out;
    m.report(enS2MReportPreparedCmd, 1);
    m.report(enS2MReportPreparedCmd, 7);     // a layer the slave never announced
    m.report(enS2MReportPreparedCmd, 2, 1);  // another endpoint
    QVERIFY(m.entry(1).isPrepared);
    QVERIFY(!m.entry(2).isPrepared);
    QCOMPARE(out.text().count("slave report prepared!\n"), 3);
    QCOMPARE(out.text().count("======> enS2MReportPreparedCmd it->ip = 127.0.0.5, it->port = "
                              + QByteArray::number(m.port()) + ", parseLayerId = 1\n"),
             1);
    QCOMPARE(out.text().count("======>"), 1);

    LogCapture tests;
    QVERIFY(!m.control.isAllSlavePrepared(-1));
    QVERIFY(m.control.isAllSlavePrepared(1));
    QVERIFY(!m.control.isAllSlavePrepared(2));
    // Each test prints every entry it looks at, up to the one that makes it false.
    QCOMPARE(tests.text(), QByteArray("isAllSlavePrepared(ip:processid = 127.0.0.5_77) it->isPrepared = 1\n"
                                      "isAllSlavePrepared(ip:processid = 127.0.0.5_77) it->isPrepared = 0\n")
                               .repeated(3));
}

void tst_Roster::completeReportsAndOfflineRule()
{
    Master m({-1, 1, 2});
    // No heartbeat yet: with the host clock past 5 s every entry is off line and counts as complete.
    LogCapture out;
    QVERIFY(m.control.isAllSlaveComplete(2));
    QCOMPARE(out.text().count("is off line!\n"), 3);

    m.report(enS2MHeartbeatCmd, -1);
    QVERIFY(!m.control.isAllSlaveComplete(-1));
    m.report(enS2MNotifyComplete, 1);
    m.report(enS2MNotifyComplete, -1);
    QVERIFY(out.text().contains("slave report complete! slaves count = 3\n"));
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
    LogCapture out;
    QVERIFY(m.control.isAllSlaveClockSucced());
    QCOMPARE(out.text(), QByteArray("isAllSlaveClockSucced it->isClockSynced = 1\n").repeated(2));
}

void tst_Roster::discoveryNeedsTheMasterRole()
{
    Master m({0, 1});
    m.control.setMasterFlag(false);
    m.control.setSlaveFlag(true);
    QVERIFY(!m.control.findSlavePlayer());
    QCOMPARE(m.control.getSlavesPlayer().size(), std::size_t(2));
    m.control.setMasterFlag(true);
    QVERIFY(m.control.findSlavePlayer());
    QVERIFY(m.control.getSlavesPlayer().empty());
    LogCapture out;
    QVERIFY(m.control.isAllSlavePrepared(-1) && m.control.isAllSlaveComplete(-1) && m.control.isAllSlaveClockSucced());
    QCOMPARE(out.text(), QByteArray());
}

QTEST_GUILESS_MAIN(tst_Roster)
#include "tst_roster.moc"
