// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"
#include "control/ControlMessage.h"

#include "common/LogCapture.h"

#include <QTest>

#include <atomic>
#include <future>

namespace {

// An executor that counts what its worker handles, and whose worker a test can hold.
class RecordingExecutor : public TaskExecute
{
public:
    using TaskExecute::postMessage;
    ~RecordingExecutor() override { stop(); }

    // Posts a message whose handling blocks the worker until release() is called; returns once it blocks.
    void blockWorker()
    {
        postMessage(ControlMessage(kBlockingType, 0, 0, 0));
        m_entered.get_future().wait();
    }
    void release() { m_release.set_value(); }
    int handledCount() const { return m_handled; }

private:
    void handle_message(ControlMessage msg) override
    {
        if (msg.msgType == kBlockingType) {
            m_entered.set_value();
            m_released.wait();
        }
        ++m_handled;
    }

    static constexpr int kBlockingType = 1;
    std::promise<void> m_entered;
    std::promise<void> m_release;
    std::shared_future<void> m_released = m_release.get_future().share();
    std::atomic<int> m_handled{0};  // written by the worker, read by the test's thread
};

} // namespace

class tst_TaskExecute : public QObject
{
    Q_OBJECT
private slots:
    void floodBeyondTheBoundIsDroppedAndReported();
};

void tst_TaskExecute::floodBeyondTheBoundIsDroppedAndReported()
{
    LogCapture out;
    RecordingExecutor executor;
    executor.blockWorker();

    int refused = 0;
    for (std::size_t i = 0; i < TaskExecute::kMaxQueuedMessages + 5; ++i)
        refused += executor.postMessage(ControlMessage(0, 0, static_cast<int>(i), 0)) ? 0 : 1;
    QCOMPARE(refused, 5);
    QCOMPARE(out.text().count("queue full"), 1);

    executor.release();
    const int accepted = static_cast<int>(TaskExecute::kMaxQueuedMessages) + 1;
    QTRY_COMPARE_WITH_TIMEOUT(executor.handledCount(), accepted, 20000);
    QVERIFY(executor.postMessage(ControlMessage(0, 0, -1, 0)));
    QVERIFY(out.text().contains("queue has room again: 5 messages were dropped"));
}

QTEST_GUILESS_MAIN(tst_TaskExecute)
#include "tst_taskexecute.moc"
