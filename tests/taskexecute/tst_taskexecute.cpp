// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"
#include "control/ControlMessage.h"

#include "common/LogCapture.h"

#include "EventLoopWait.h"

#include <QFile>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <future>

namespace {

// An executor that records what its worker handles; `onMessage` may block or act on the worker.
class RecordingExecutor : public TaskExecute
{
public:
    using TaskExecute::postMessage;
    using TaskExecute::stop;
    ~RecordingExecutor() override { stop(); }

    std::function<void(const ControlMessage&)> onMessage;

    // Posts a message whose handling blocks the worker until release() is called; returns once it blocks.
    void blockWorker()
    {
        onMessage = [this](const ControlMessage& msg) {
            if (msg.msgType == kBlockingType) {
                m_entered.set_value();
                m_released.wait();
            }
        };
        postMessage(ControlMessage(kBlockingType, 0, 0, 0));
        m_entered.get_future().wait();
    }
    void release() { m_release.set_value(); }

    std::vector<std::pair<int, int>> handled() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_handled;
    }
    int handledCount() const { return static_cast<int>(handled().size()); }

private:
    void handle_message(ControlMessage msg) override
    {
        if (onMessage)
            onMessage(msg);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handled.emplace_back(msg.arg1, msg.arg2);
    }

    static constexpr int kBlockingType = 1;
    std::promise<void> m_entered;
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, int>> m_handled;
};

#ifdef Q_OS_LINUX
// Whether thread `tid` of this process is asleep (blocked, not merely waiting for a CPU).
bool threadSleeps(pid_t tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "tid (name) S ...": the state follows the name's closing parenthesis.
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) == "S";
}
#endif

ControlMessage numbered(int producer, int index)
{
    return ControlMessage(0, producer, index, 0);
}

} // namespace

class tst_TaskExecute : public QObject
{
    Q_OBJECT
private slots:
    void orderKeptAcrossProducers();
    void stopDuringHandlingLeavesTheRest();
    void floodBeyondTheBoundIsDroppedAndReported();
};

void tst_TaskExecute::orderKeptAcrossProducers()
{
    RecordingExecutor executor;
    constexpr int kProducers = 4;
    constexpr int kEach = 2000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&executor, p] {
            for (int i = 0; i < kEach; ++i)
                executor.postMessage(numbered(p, i));
        });
    }
    for (auto& t : producers)
        t.join();
    QTRY_COMPARE_WITH_TIMEOUT(executor.handledCount(), kProducers * kEach, 10000);

    std::vector<int> next(kProducers, 0);
    for (const auto& [producer, index] : executor.handled())
        QCOMPARE(index, next[static_cast<std::size_t>(producer)]++);
}

void tst_TaskExecute::stopDuringHandlingLeavesTheRest()
{
    LogCapture out;
    RecordingExecutor executor;
    executor.blockWorker();
    for (int i = 0; i < 3; ++i)
        executor.postMessage(numbered(0, i));

#ifdef Q_OS_LINUX
    // stop() clears the running flag and then sleeps in its join: once the stopping thread sleeps, the
    // flag is clear, and the handler may return.
    std::promise<pid_t> stopperTid;
    std::thread stopper([&executor, &stopperTid] {
        stopperTid.set_value(pid_t(syscall(SYS_gettid)));
        executor.stop();
    });
    const pid_t tid = stopperTid.get_future().get();
    QVERIFY2(runEventLoopUntil([tid] { return threadSleeps(tid); }, 10000), "the stopping thread never waited for the worker");
    executor.release();
    stopper.join();
#else
    executor.release();
    QSKIP("telling that a thread sleeps needs Linux's /proc");
#endif

    QCOMPARE(executor.handledCount(), 1);
    QVERIFY(!out.text().contains("thread exit"));
}

void tst_TaskExecute::floodBeyondTheBoundIsDroppedAndReported()
{
    LogCapture out;
    RecordingExecutor executor;
    executor.blockWorker();

    int refused = 0;
    for (std::size_t i = 0; i < TaskExecute::kMaxQueuedMessages + 5; ++i)
        refused += executor.postMessage(numbered(0, static_cast<int>(i))) ? 0 : 1;
    QCOMPARE(refused, 5);
    QCOMPARE(out.text().count("queue full"), 1);

    executor.release();
    const int accepted = static_cast<int>(TaskExecute::kMaxQueuedMessages) + 1;
    QTRY_COMPARE_WITH_TIMEOUT(executor.handledCount(), accepted, 20000);
    QVERIFY(executor.postMessage(numbered(0, -1)));
    QVERIFY(out.text().contains("queue has room again: 5 messages were dropped"));
}

QTEST_GUILESS_MAIN(tst_TaskExecute)
#include "tst_taskexecute.moc"
