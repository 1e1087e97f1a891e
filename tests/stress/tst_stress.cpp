// SPDX-License-Identifier: MIT
// Objects under load: a flood of commands at one slave, and senders on four threads (destruction under
// load: tests/hostmistakes). Each case is bounded in count and time; what they assert is order and
// integrity, never speed.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "common/SlaveWithRawMaster.h"
#include "common/LogCapture.h"
#include "wire/ByteOrder.h"
#include "wire/DatagramCodec.h"
#include "wire/MessageCode.h"

#include <QElapsedTimer>
#include <QTest>

#include <future>
#include <map>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

using namespace tamo::detail;

constexpr int kGroup = 7;

class tst_Stress : public QObject
{
    Q_OBJECT
private slots:
    void commandFloodArrivesCompleteAndInOrder();
    void fourSendersKeepSequenceAndBodies();
};

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

// Each thread sends speed commands with its counter as the speed, its index as the layer and user data of
// its own length: one send buffer and one sequence number serve them all.
void tst_Stress::fourSendersKeepSequenceAndBodies()
{
    constexpr int kThreads = 4;
    static const int kUserDataSizes[kThreads] = {0, 64, 256, 1000};
    const auto userData = [](int thread, int counter) {
        return QByteArray(kUserDataSizes[thread], char((counter * 7 + thread) & 0xFF));
    };
    const quint16 port = pickFreePort();
    LogCapture quiet;  // one line per command sent
    RecordingHost host;
    MultiNetControl master(host.callbacks(), kGroup, "127.0.0.91", port);
    master.setMasterFlag(true);
    RawPeer listener(QStringLiteral("255.255.255.255"), port);
#ifdef Q_OS_LINUX
    // Room for everything the senders can send (16 MB at most), so that the kernel keeps it all until read.
    int bufferBytes = 64 * 1024 * 1024;
    if (setsockopt(int(listener.descriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        QSKIP("cannot enlarge the listener's receive buffer (needs CAP_NET_ADMIN)");
#else
    QSKIP("needs SO_RCVBUFFORCE (Linux) to receive every datagram");
#endif
    int sent[kThreads] = {};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            QElapsedTimer timer;
            timer.start();
            for (QByteArray data; sent[t] < 4000 && timer.elapsed() < 2000; ++sent[t]) {
                data = userData(t, sent[t]);
                if (!master.notifySlaveSpeed(sent[t], t, data.isEmpty() ? nullptr : data.data(), data.size()))
                    break;
            }
        });
    }
    for (std::thread& s : senders)
        s.join();
    const int total = sent[0] + sent[1] + sent[2] + sent[3];
    QVERIFY(total < 0x10000);  // the sequence numbers of a fresh object do not wrap
    QCOMPARE(int(listener.waitFor(total, 30000).size()), total);

    std::map<int, std::pair<int, int>> bySeq;  // seq -> (thread, counter)
    for (const ReceivedDatagramCopy& datagram : listener.received()) {
        const QByteArray& bytes = datagram.bytes;
        const auto decoded = decodeDatagram(bytes.constData(), std::size_t(bytes.size()));
        QVERIFY(decoded);
        const int t = decoded->header.layerId;
        QVERIFY(t >= 0 && t < kThreads);
        const int counter = int(wire::getDouble(bytes.constData() + decoded->payloadOffset()));
        QCOMPARE(bytes.mid(decoded->userDataOffset()), userData(t, counter));
        QVERIFY2(bySeq.emplace(decoded->header.seq, std::make_pair(t, counter)).second, "a sequence number came twice");
    }
    QCOMPARE(bySeq.rbegin()->first, total - 1);  // with none twice, 0 to total - 1 each once
    int next[kThreads] = {};
    for (const auto& entry : bySeq)
        QCOMPARE(entry.second.second, next[entry.second.first]++);  // each thread's in its own order
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
