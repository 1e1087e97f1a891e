// SPDX-License-Identifier: MIT
// Objects under load: destroyed while busy (host threads sending on two threads at once, which the TSan
// build checks), and a flood of commands at one slave. Each case is bounded in count and time; what they
// assert is order and integrity, never speed.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"

#include <QTest>

#include <atomic>
#include <future>
#include <functional>
#include <memory>
#include <thread>

using namespace tamo::detail;

namespace {

constexpr int kGroup = 7;

// Host threads that repeat one action, a millisecond apart, until they are stopped.
struct HostThreads
{
    HostThreads(int count, const std::function<void()>& action)
    {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, action] {
                for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
                    action();
            });
    }
    ~HostThreads() { stop(); }
    void stop()
    {
        running = false;
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
};

} // namespace

class tst_Stress : public QObject
{
    Q_OBJECT
private slots:
    void destroyWhileBusy();
    void commandFloodArrivesCompleteAndInOrder();
};

void tst_Stress::destroyWhileBusy()
{
    LogCapture quiet;  // a few lines per handled datagram
    RawPeer flooder(QStringLiteral("127.0.0.73"));
    for (int round = 0; round < 4; ++round) {
        LoopbackGroup group("127.0.0.71");
        LoopbackNode& slave = group.addSlave("127.0.0.72");
        std::unique_ptr<MultiNetControl>& master = group.master().control;
        HostThreads commands(2, [&master] {
            master->notifySlaveStart(1.0, 2.0, 0, nullptr, 0);
            master->notifySlaveSeek(5, true, 0, 1.0, nullptr, 0);
            master->isAllSlavePrepared(-1);
        });
        MultiNetControl::m_haveStartClockSync = false;
        QVERIFY(master->notifySlaveStartClockSync());
        QVERIFY(master->findSlavePlayer());
        HostThreads reports(2, [&slave] {
            slave.control->reportPrepared(0);
            slave.control->reportComplete(0);
        });
        // Clock sync runs once the slave has taken a sample; commands keep flowing meanwhile.
        QVERIFY(runEventLoopUntil([&] { return !slave.host->clockOffsets().empty(); }, 20000));
        QVERIFY(runEventLoopUntil([&] { return slave.host->callCount() > 10; }, 20000));

        // Datagrams wait in both sockets while the victim goes: the other side's host threads go on.
        LoopbackNode& victim = round % 2 == 0 ? slave : group.master();
        LoopbackNode& survivor = round % 2 == 0 ? group.master() : slave;
        const QByteArray heartbeat = buildDatagram(enS2MHeartbeatCmd, -1, LoopbackGroup::kGroupId);
        for (int i = 0; i < 100; ++i)
            flooder.send(heartbeat, QString::fromStdString(victim.ip), group.port());
        (round % 2 == 0 ? reports : commands).stop();
        victim.control.reset();

        runEventLoopFor(100);  // the survivor goes on alone, then goes too
        commands.stop();
        reports.stop();
        survivor.control.reset();
    }
}

void tst_Stress::commandFloodArrivesCompleteAndInOrder()
{
    // Well below the task queue's bound, so nothing may be dropped on the library's side.
    constexpr int kCommands = 20000;
    static_assert(kCommands < static_cast<int>(TaskExecute::kMaxQueuedMessages), "the flood stays below the bound");
    LogCapture quiet;  // one line per handled command
    SlaveWithRawMaster s(kGroup);
    // The worker is held at the first command, so the rest pile up in the task queue.
    std::promise<void> gate;
    s.host.callbacks()->speedCbk = [record = s.host.callbacks()->speedCbk, open = gate.get_future().share()](
                                       int layer, double speed, char* userData, int len) {
        open.wait();
        record(layer, speed, userData, len);
    };
    for (int i = 0; i < kCommands; ++i) {
        QByteArray speed(8, '\0');
        wire::putDouble(speed.data(), i);
        s.send(buildDatagram(enM2SSpeedCmd, 0, kGroup, speed, {}, 4242, static_cast<quint16>(i)));
        // A socket's default receive buffer holds a few hundred small datagrams: the event loop reads
        // between bursts well below that.
        if (i % 32 == 31)
            runEventLoopFor(1);
    }
    runEventLoopFor(50);
    gate.set_value();
    QVERIFY(runEventLoopUntil([&] { return s.host.callCount() == kCommands; }, 120000));
    const std::vector<HostCall> calls = s.host.calls();
    for (int i = 0; i < kCommands; ++i)
        QCOMPARE(calls[std::size_t(i)].values.front(), double(i));
    QVERIFY(!quiet.text().contains("queue full"));
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
