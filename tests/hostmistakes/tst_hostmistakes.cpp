// SPDX-License-Identifier: MIT
// What a careless host can do to the control object: a clock that throws, destroying the object from
// masterLostCbk or on a thread other than the one that made it, and values that do not fit the wire.
// Memory faults here show under the ASan and TSan builds.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "wire/MessageCode.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 9;
const QString kMasterIp = QStringLiteral("127.0.0.1");
const QString kSlaveIp = QStringLiteral("127.0.0.2");

// The Qt warnings printed while countQtWarnings is installed (Qt warns when a socket is touched from a
// foreign thread).
std::atomic<int> g_qtWarnings{0};
QtMessageHandler g_previousHandler = nullptr;

void countQtWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    g_qtWarnings += type == QtWarningMsg ? 1 : 0;
    g_previousHandler(type, context, text);
}

// A slave on kSlaveIp whose master is kMasterIp, with the host callbacks of `host`, at the group port `port`.
std::unique_ptr<MultiNetControl> makeSlave(RecordingHost& host, quint16 port = pickFreePort())
{
    auto slave = std::make_unique<MultiNetControl>(host.callbacks(), kGroup, kSlaveIp.toStdString(), port);
    slave->setSlaveFlag(true);
    slave->setMasterIp(kMasterIp.toStdString());
    return slave;
}

} // namespace

class tst_HostMistakes : public QObject
{
    Q_OBJECT
private slots:
    void throwingHostClockCountsAsNone();
    void destroyedFromMasterLost();
    void destroyedOnAnotherThread();
    void valuesThatDoNotFitTheWire();
};

void tst_HostMistakes::throwingHostClockCountsAsNone()
{
    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();
    SlaveWithRawMaster s(kGroup, kSlaveIp, kMasterIp);
    std::atomic<int> throws{0};
    s.host.callbacks()->getClockTimeCbk = [&throws]() -> qint64 {
        ++throws;
        throw std::runtime_error("clock unplugged");
    };

    // The slave's clock threads stamp their requests and read the clock before a master-lost test; its
    // endpoint stamps the answer on receipt, and its worker reads the clock for a heartbeat answer.
    s.send(buildDatagram(enM2SStartClockSyncCmd, -1, kGroup));
    QVERIFY(s.master.waitForCode(enS2MClockSyncRequestCmd));
    s.send(buildDatagram(enM2SClockSyncReplyCmd, -1, kGroup, QByteArray(32, '\0')));
    s.send(buildDatagram(enM2SHeartbeatReplyCmd, -1, kGroup));
    // Every stamp is 0, as without a clock: the sample is accepted with offset 0.
    QVERIFY(runEventLoopUntil([&] { return !s.host.clockOffsets().empty(); }));
    QCOMPARE(s.host.clockOffsets().front(), 0.0);
    // The heartbeat thread reads the clock once per heartbeat, after its sleep: two heartbeats in all show
    // that it has done so once, and a clock that throws never declares the master lost.
    QVERIFY(s.master.waitForCode(enS2MHeartbeatCmd, 2, 6000));
    QCOMPARE(s.host.masterLostCount(), 0);

    // Many throws, one line at the first and at most one per 10 s after it.
    const int lines = log.text().count("getClockTimeCbk: ERROR  exception from the host: clock unplugged; taken as no clock");
    QVERIFY2(throws >= 5, qPrintable(QString::number(throws)));
    QVERIFY2(lines >= 1 && lines <= 1 + elapsed.elapsed() / 10000, qPrintable(QString::number(lines)));
}

void tst_HostMistakes::destroyedFromMasterLost()
{
    LogCapture log;
    RecordingHost host;
    host.setClockOffsetUs(100LL * 1000 * 1000);  // far past the 50 s without an answer
    std::unique_ptr<MultiNetControl> slave = makeSlave(host);
    const quint16 slavePort = slave->unicastPort();
    std::atomic<bool> destroyed{false};
    host.callbacks()->masterLostCbk = [&](bool) {
        slave.reset();
        destroyed = true;
    };
    RawPeer fakeMaster(kMasterIp);
    fakeMaster.send(buildDatagram(enM2SStartClockSyncCmd, -1, kGroup), kSlaveIp, slavePort);

    // The first master-lost test comes 2 s after the start; this thread's event loop must run meanwhile,
    // since the sockets are closed on it.
    QVERIFY(runEventLoopUntil([&] { return destroyed.load(); }, 10000));
    QVERIFY(runEventLoopUntil([&] { return log.text().contains("MultiNetControl::heartSyncThread exit!"); }));
    QVERIFY(!slave);
}

void tst_HostMistakes::destroyedOnAnotherThread()
{
    LogCapture log;
    g_qtWarnings = 0;
    g_previousHandler = qInstallMessageHandler(countQtWarnings);
    const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(g_previousHandler); });
    RecordingHost host;
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        const quint16 groupPort = pickFreePort();
        std::unique_ptr<MultiNetControl> slave = makeSlave(host, groupPort);
        const quint16 slavePort = slave->unicastPort();

        // A flood at both endpoints from a thread of its own, while the object is destroyed.
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            QUdpSocket socket;
            const QByteArray step = buildDatagram(enM2SStepCmd, 0, kGroup);
            while (flooding) {
                socket.writeDatagram(step, QHostAddress(kSlaveIp), slavePort);
                socket.writeDatagram(step, QHostAddress(kSlaveIp), groupPort);
            }
        });
        std::atomic<bool> destroyed{false};
        std::thread destroyer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            slave.reset();
            destroyed = true;
        });
        const bool done = runEventLoopUntil([&] { return destroyed.load(); }, 10000);
        flooding = false;
        flood.join();
        destroyer.join();
        QVERIFY(done);
    }
    QCOMPARE(g_qtWarnings.load(), 0);
    QVERIFY(host.callCount() > 0);
}

void tst_HostMistakes::valuesThatDoNotFitTheWire()
{
    LogCapture log;
    RecordingHost host;
    {
        MultiNetControl control(host.callbacks(), 70000, kSlaveIp.toStdString(), 65536u + pickFreePort());
        control.setGroupId(-1);
        control.setGroupId(65535);
    }
    // One line for each value that does not fit, none for the one that does.
    const QByteArray text = log.text();
    QVERIFY2(text.contains("WARING group id 70000 is outside 0 to 65535")
                 && text.contains("WARING group id -1 is outside 0 to 65535") && text.count("WARING group id") == 2
                 && text.count(" is above 65535: only its low 16 bits are used, port ") == 1,
             text.constData());
}

QTEST_GUILESS_MAIN(tst_HostMistakes)
#include "tst_hostmistakes.moc"
