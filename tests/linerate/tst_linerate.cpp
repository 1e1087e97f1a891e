// SPDX-License-Identifier: MIT
// Which lines a burst may cut down, over real sockets: the lines of well-formed traffic from the peers a
// node deals with, and of the host's own queries, come out every one at any rate; a flood of what anybody
// can send still prints only a few lines a second.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "common/LogFloodGate.h"
#include "wire/MessageCode.h"

#include <QElapsedTimer>
#include <QTest>

#include <deque>
#include <memory>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 12;
constexpr quint32 kSlavePid = 7000;
const QString kNodeIp = QStringLiteral("127.0.0.1");
const QString kStrangerIp = QStringLiteral("127.0.0.9");

QString peerIp(int index)
{
    return QStringLiteral("127.0.3.%1").arg(index + 1);
}

// A master on 127.0.0.1, and raw sockets that stand in for its admitted slaves on 127.0.3.x, each with
// the same pid.
struct MasterWithSlaves
{
    explicit MasterWithSlaves(int count)
        : master(host.callbacks(), kGroup, kNodeIp.toStdString(), pickFreePort())
    {
        master.setMasterFlag(true);
        QSet<QString> keys;
        for (int i = 0; i < count; ++i) {
            peers.emplace_back(std::make_unique<RawPeer>(peerIp(i)));
            keys.insert(peerIp(i) + QStringLiteral("_%1").arg(kSlavePid));
        }
        master.setSlaves(keys);
    }
    // Every slave sends `code` for each of `layers` layers at once; true when the roster then holds one
    // entry per slave and layer, each prepared when `prepared`.
    bool reportAll(quint16 code, int layers, bool prepared)
    {
        for (int layer = 0; layer < layers; ++layer) {
            for (const auto& peer : peers)
                peer->send(buildDatagram(code, layer, kGroup, {}, {}, kSlavePid), kNodeIp, master.unicastPort());
        }
        const std::size_t entries = peers.size() * std::size_t(layers);
        return runEventLoopUntil([&] {
            const auto roster = master.getSlavesPlayer();
            return roster.size() == entries
                   && (!prepared || std::all_of(roster.begin(), roster.end(), [](const auto& e) { return e.isPrepared; }));
        });
    }

    RecordingHost host;
    MultiNetControl master;
    std::deque<std::unique_ptr<RawPeer>> peers;
};

} // namespace

class tst_LineRate : public QObject
{
    Q_OBJECT
private slots:
    void masterPrintsEveryReportOfItsSlaves_data();
    void masterPrintsEveryReportOfItsSlaves();
    void slavePrintsEveryCommandOfItsMaster();
    void floodOfStrangersIsCutDown_data();
    void floodOfStrangersIsCutDown();
};

void tst_LineRate::masterPrintsEveryReportOfItsSlaves_data()
{
    QTest::addColumn<int>("slaves");
    QTest::addColumn<int>("layers");
    QTest::newRow("64 slaves at once, as when every screen prerolls") << 64 << 1;
    QTest::newRow("4 slaves of 50 layers") << 4 << 50;
}

// Every report of an admitted slave prints its lines, and a roster query a line per entry.
void tst_LineRate::masterPrintsEveryReportOfItsSlaves()
{
    QFETCH(int, slaves);
    QFETCH(int, layers);
    MasterWithSlaves node(slaves);
    QVERIFY(node.reportAll(enS2MReportPartnerCmd, layers, false));
    LogCapture log;
    QVERIFY(node.reportAll(enS2MReportPreparedCmd, layers, true));
    QVERIFY(runEventLoopUntil([&] { return log.text().count("======> enS2MReportPreparedCmd") == slaves * layers; }));
    QCOMPARE(log.text().count(": slave report prepared!\n"), slaves * layers);
    QVERIFY(node.master.isAllSlavePrepared(-1));
    QCOMPARE(log.text().count("isAllSlavePrepared(ip:processid = "), slaves * layers);
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
