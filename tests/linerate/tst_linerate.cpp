// SPDX-License-Identifier: MIT
// Which lines a burst may cut down, over real sockets: the lines of well-formed traffic from the peers a
// node deals with, and of the host's own queries, come out every one at any rate; a flood of what anybody
// can send still prints only a few lines a second.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/MasterWithRoster.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "common/LogFloodGate.h"
#include "wire/MessageCode.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 12;
const QString kNodeIp = QStringLiteral("127.0.0.1");
const QString kStrangerIp = QStringLiteral("127.0.0.9");

} // namespace

class tst_LineRate : public QObject
{
    Q_OBJECT
private slots:
    void masterPrintsEveryReportOfItsSlaves();
    void slavePrintsEveryCommandOfItsMaster();
    void floodOfStrangersIsCutDown_data();
    void floodOfStrangersIsCutDown();
};

// Every report of 64 admitted slaves, as when every screen prerolls, prints its lines, and a roster query a
// line per entry.
void tst_LineRate::masterPrintsEveryReportOfItsSlaves()
{
    constexpr int kSlaves = 64;
    roster_fixture::MasterWithRoster m({});
    QSet<QString> keys;
    for (int i = 1; i <= kSlaves; ++i)
        keys.insert(QStringLiteral("127.0.3.%1_%2").arg(i).arg(roster_fixture::kSlavePid));
    m.control.setSlaves(keys);
    const auto reportAll = [&](quint16 code) {
        for (int i = 1; i <= kSlaves; ++i)
            m.report(code, 0, 0, roster_fixture::kSlavePid, "127.0.3." + std::to_string(i));
    };
    reportAll(enS2MReportPartnerCmd);
    LogCapture log;
    reportAll(enS2MReportPreparedCmd);
    QCOMPARE(log.text().count("======> enS2MReportPreparedCmd"), kSlaves);
    QCOMPARE(log.text().count(": slave report prepared!\n"), kSlaves);
    QVERIFY(m.control.isAllSlavePrepared(-1));
    QCOMPARE(log.text().count("isAllSlavePrepared(ip:processid = "), kSlaves);
    QVERIFY(!log.text().contains("logLine:"));
}

void tst_LineRate::slavePrintsEveryCommandOfItsMaster()
{
    constexpr int kCommands = 100;
    SlaveWithRawMaster s(kGroup);
    LogCapture log;
    for (int i = 0; i < kCommands; ++i)  // of one kind: ten times what a limited kind may print
        s.send(buildDatagram(enM2SPauseCmd, 0, kGroup, QByteArray(8, '\0'), {}, 4242, quint16(i)));
    QVERIFY(runEventLoopUntil([&] { return s.host.callCount() == kCommands; }));
    QCOMPARE(log.text().count("=====> SLAVE handle_message("), kCommands);
    QVERIFY(!log.text().contains("logLine:"));
}

void tst_LineRate::floodOfStrangersIsCutDown_data()
{
    QTest::addColumn<bool>("toMaster");
    QTest::addColumn<QString>("senderIp");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("line");

    const QByteArray step = buildDatagram(enM2SStepCmd, 0, kGroup);
    QTest::newRow("malformed, from the master's own address")
        << false << kNodeIp << step.left(10) << QByteArray("maybe incomplete!");
    QTest::newRow("commands of another master") << false << kStrangerIp << step << QByteArray("receive other master's");
    QTest::newRow("reports of a slave not admitted")
        << true << kStrangerIp << buildDatagram(enS2MReportPreparedCmd, 0, kGroup) << QByteArray("slave report prepared!");
}

void tst_LineRate::floodOfStrangersIsCutDown()
{
    QFETCH(bool, toMaster);
    QFETCH(QString, senderIp);
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, line);
    constexpr int kFlood = 3000;

    RecordingHost host;
    const QString nodeIp = toMaster ? kNodeIp : QStringLiteral("127.0.0.2");
    MultiNetControl node(host.callbacks(), kGroup, nodeIp.toStdString(), pickFreePort());
    node.setMasterFlag(toMaster);
    node.setSlaveFlag(!toMaster);
    node.setMasterIp(kNodeIp.toStdString());
    RawPeer stranger(senderIp);
    // A datagram after the flood that the node answers: once it has, the worker is through. It is sent again
    // while the flood may still fill the socket's queue.
    host.setLayerIds({0});
    RawPeer master(kNodeIp);
    RawPeer& prober = toMaster ? stranger : master;
    const QByteArray probe = buildDatagram(toMaster ? enS2MHeartbeatCmd : enM2SFindPartnerCmd, -1, kGroup);
    auto handledSoFar = [&] {
        for (int attempt = 0; attempt < 5; ++attempt) {
            prober.clear();
            prober.send(probe, nodeIp, node.unicastPort());
            if (!prober.waitFor(1, 1000).isEmpty())
                return true;
        }
        return false;
    };

    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < kFlood; ++i) {
        stranger.send(datagram, nodeIp, node.unicastPort());
        if (i % 50 == 49)
            runEventLoopFor(3);  // the node reads on this thread: let it empty the socket's queue
    }
    QVERIFY(handledSoFar());
    const qint64 secondsStarted = elapsed.elapsed() / LogFloodGate::kWindowMs + 1;
    const int printed = int(log.text().count(line));
    QVERIFY2(printed > 0 && printed <= secondsStarted * LogFloodGate::kLinesPerSecond, qPrintable(QString::number(printed)));

    // The first line after the flood's second says how many were left out.
    runEventLoopFor(int(LogFloodGate::kWindowMs));
    node.setGroupId(kGroup);
    QVERIFY2(log.text().contains("logLine: ") && log.text().contains("were left out within one second"),
             log.text().right(400).constData());
}

QTEST_GUILESS_MAIN(tst_LineRate)
#include "tst_linerate.moc"
