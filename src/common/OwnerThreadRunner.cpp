// SPDX-License-Identifier: MIT
#include "common/OwnerThreadRunner.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>

namespace tamo::detail {

// Whoever takes the work first runs it: the owner's event loop, or the waiting thread once the owner has ended.
struct OwnerThreadRunner::Handover
{
    explicit Handover(const std::function<void()>& w) : work(w) {}
    const std::function<void()>& work;  // valid while taken is false, or until done is set
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool taken = false;  // guarded by mutex
    bool done = false;   // guarded by mutex

    // On the owner's thread.
    void runUnlessTaken()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (taken)
                return;  // `work` may be gone: the waiting thread ran it itself
            taken = true;
        }
        work();
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        doneChanged.notify_all();
    }
};

namespace {

// Posted rather than invoked as a queued functor: only the receiving thread reads and frees an event, where a
// queued functor is freed by whichever of the two threads lets go of it last.
class HandoverEvent : public QEvent
{
public:
    explicit HandoverEvent(std::shared_ptr<OwnerThreadRunner::Handover> shared)
        : QEvent(kind()), handover(std::move(shared))
    {
    }

    static QEvent::Type kind()
    {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }

    const std::shared_ptr<OwnerThreadRunner::Handover> handover;
};

} // namespace

void OwnerThreadRunner::runOnOwnerThread(const std::function<void()>& work,
                                         const std::function<void(long long)>& reportWaiting)
{
    QThread* owner = thread();
    if (!owner || owner == QThread::currentThread() || owner->isFinished()) {
        work();
        return;
    }
    auto handover = std::make_shared<Handover>(work);
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        QCoreApplication::postEvent(this, new HandoverEvent(handover));
    }

    using namespace std::chrono;
    constexpr auto kPoll = milliseconds(100);
    constexpr auto kReportEvery = seconds(5);
    auto waited = milliseconds(0);
    std::unique_lock<std::mutex> lock(handover->mutex);
    while (!handover->doneChanged.wait_for(lock, kPoll, [&] { return handover->done; })) {
        if (!handover->taken && owner->isFinished()) {
            handover->taken = true;
            lock.unlock();
            work();
            return;
        }
        waited += kPoll;
        if (waited % kReportEvery == milliseconds(0))
            reportWaiting(static_cast<long long>(duration_cast<seconds>(waited).count()));
    }
}

bool OwnerThreadRunner::event(QEvent* event)
{
    std::shared_ptr<Handover> handover;
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        if (event->type() == HandoverEvent::kind())
            handover = static_cast<HandoverEvent*>(event)->handover;
    }
    if (!handover)
        return QObject::event(event);
    handover->runUnlessTaken();
    return true;
}

} // namespace tamo::detail
