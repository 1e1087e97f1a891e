// SPDX-License-Identifier: MIT
// Hosts that are slow or that lock: a worker held up by a slow callback must not make a live master look
// lost, and a host clock that takes the host's own lock must not deadlock against the host's calls.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

using namespace tamo::detail;

class tst_SlowHost : public QObject
{
    Q_OBJECT
private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }
    void heartbeatAnswerNotedWhileWorkerIsBusy_data();
    void heartbeatAnswerNotedWhileWorkerIsBusy();
    void hostClockMayTakeTheHostsLock();
};

void tst_SlowHost::heartbeatAnswerNotedWhileWorkerIsBusy_data()
{
    QTest::addColumn<QString>("answerFrom");  // empty: no answer
    QTest::addColumn<int>("group");
    QTest::addColumn<bool>("recovery");
    QTest::addColumn<bool>("lostAtFirstCheck");
    const int group = LoopbackGroup::kGroupId;
    // Classically a master that has not answered yet has been silent since the host clock's zero; under
    // recovery (its first answer was lost, say) since the first heartbeat.
    QTest::newRow("its master") << "127.0.0.1" << group << false << false;
    QTest::newRow("another master: silent since the clock's zero") << "127.0.0.3" << group << false << true;
    QTest::newRow("another group") << "127.0.0.1" << group + 1 << false << true;
    QTest::newRow("recovery, no answer: silent since the first heartbeat") << QString() << group << true << false;
}

// The worker is held by a slow start when the master's heartbeat answer comes: its time must count at once.
// A host clock past 50 s makes the first check, 2 s after clock sync starts, find the master lost unless
// an answer has been noted; a minute of silence after that finds it lost, and either is reported once.
void tst_SlowHost::heartbeatAnswerNotedWhileWorkerIsBusy()
{
    QFETCH(QString, answerFrom);
    QFETCH(int, group);
    QFETCH(bool, recovery);
    QFETCH(bool, lostAtFirstCheck);
    SlaveWithRawMaster s(LoopbackGroup::kGroupId);
    RecordingHost& host = s.host;
    host.setClockOffsetUs(100LL * 1000 * 1000);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inCallback{false};
    host.callbacks()->startCbk = [&inCallback, released](int, double, double, char*, int) {
        inCallback = true;
        released.wait();
    };
    const auto releaseWorker = qScopeGuard([&] { release.set_value(); });
    s.slave.setRecovery(recovery);
    s.send(buildDatagram(enM2SStartClockSyncCmd, -1, LoopbackGroup::kGroupId));
    s.send(buildDatagram(enM2SStartCmd, 0, LoopbackGroup::kGroupId, QByteArray(kTwoDoublesSize, '\0')));
    QTRY_VERIFY(inCallback);
    QVERIFY(s.master.waitForCode(enS2MHeartbeatCmd));
    if (!answerFrom.isEmpty())
        RawPeer(answerFrom).send(buildDatagram(enM2SHeartbeatReplyCmd, -1, group), s.ip, s.slave.unicastPort());
    runEventLoopFor(2300);  // past the first check
    QCOMPARE(host.masterLostCount(), lostAtFirstCheck ? 1 : 0);
    if (lostAtFirstCheck) {
        runEventLoopFor(2100);  // the next check does not report it again
    } else {
        host.setClockOffsetUs(160 * 1000000LL);  // a minute of silence on the slave's clock
        QVERIFY(runEventLoopUntil([&] { return host.masterLostCount() > 0; }, 5000));
    }
    QCOMPARE(host.masterLostCount(), 1);
}

void tst_SlowHost::hostClockMayTakeTheHostsLock()
{
    // The supported pattern: the host guards its clock and its calls into the object with one mutex.
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    QVERIFY(group.discover());
    std::mutex hostLock;
    for (LoopbackNode* node : {&group.master(), &slave}) {
        node->host->callbacks()->getClockTimeCbk = [&hostLock, host = node->host.get()] {
            std::lock_guard<std::mutex> lock(hostLock);
            return host->now();
        };
    }
    MultiNetControl& master = *group.master().control;
    QVERIFY(master.notifySlaveStartClockSync());
    QTRY_VERIFY(!slave.host->clockOffsets().empty());

    // While clock requests and answers are stamped every 100 ms, the host calls into both objects under its
    // lock. With a stamp taken under the library's send lock, the two would wait for each other for good.
    auto calls = std::async(std::launch::async, [&] {
        for (int i = 0; i < 400; ++i) {
            std::lock_guard<std::mutex> lock(hostLock);
            master.notifySlaveSpeed(1.0, 0, nullptr, 0);
            slave.control->reportComplete(0);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(calls.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 60000);
    const std::size_t offsetsBefore = slave.host->clockOffsets().size();
    QTRY_VERIFY(slave.host->clockOffsets().size() > offsetsBefore);
}

QTEST_GUILESS_MAIN(tst_SlowHost)
#include "tst_slowhost.moc"
