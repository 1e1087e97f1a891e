// SPDX-License-Identifier: MIT
// Hosts that are slow or that lock: a worker held up by a slow callback must not make a live master look
// lost, and a host clock that takes the host's own lock must not deadlock against the host's calls.
#include "MultiNetControl.h"

#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "common/MultiNetControlTestAccess.h"
#include "common/RecordingHost.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

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
    void heartbeatAnswerNotedWhileWorkerIsBusy();
    void hostClockMayTakeTheHostsLock();
};

void tst_SlowHost::heartbeatAnswerNotedWhileWorkerIsBusy()
{
    const quint16 port = pickFreePort();
    RecordingHost host;
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inCallback{false};
    host.callbacks()->startCbk = [&inCallback, released](int, double, double, char*, int) {
        inCallback = true;
        released.wait();
    };
    MultiNetControl slave(host.callbacks(), LoopbackGroup::kGroupId, "127.0.0.2", port);
    slave.setSlaveFlag(true);
    slave.setMasterIp("127.0.0.1");
    MultiNetControlTestAccess access(slave);
    RawPeer master(QStringLiteral("127.0.0.1"));
    QVERIFY2(master.isBound(), qPrintable(master.errorString()));

    // A start command that the host takes long to handle, then the master's heartbeat answer behind it.
    master.send(buildDatagram(enM2SStartCmd, 0, LoopbackGroup::kGroupId, QByteArray(kTwoDoublesSize, '\0')),
                QStringLiteral("127.0.0.2"), port);
    QTRY_VERIFY(inCallback);
    // From another master, or of another group: not noted.
    RawPeer stranger(QStringLiteral("127.0.0.3"));
    stranger.send(buildDatagram(enM2SHeartbeatReplyCmd, -1, LoopbackGroup::kGroupId), QStringLiteral("127.0.0.2"),
                  access.unicastPort());
    master.send(buildDatagram(enM2SHeartbeatReplyCmd, -1, LoopbackGroup::kGroupId + 1), QStringLiteral("127.0.0.2"),
                access.unicastPort());
    QTest::qWait(50);
    QCOMPARE(access.lastMasterTime(), qint64(-1));

    const qint64 before = host.now();
    master.send(buildDatagram(enM2SHeartbeatReplyCmd, -1, LoopbackGroup::kGroupId), QStringLiteral("127.0.0.2"),
                access.unicastPort());
    QTRY_VERIFY(access.lastMasterTime() >= before);
    release.set_value();
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
