// SPDX-License-Identifier: MIT
#include "control/OwnerThreadRunner.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tamo::detail {

namespace {

// Whoever takes the work first runs it: the owner's event loop, or the waiting thread once the owner has ended.
struct Handover
{
    explicit Handover(const std::function<void()>& w) : work(w) {}
    const std::function<void()>& work;  // valid while taken is false, or until done is set
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool taken = false;  // guarded by mutex
    bool done = false;   // guarded by mutex
};

// Posted rather than invoked as a queued functor: the receiving thread alone reads and frees an event, where a
// queued functor is freed by whichever of the two threads lets go of it last.
class HandoverEvent : public QEvent
{
public:
    explicit HandoverEvent(std::shared_ptr<Handover> handover) : QEvent(type()), m_handover(std::move(handover)) {}

    static QEvent::Type type()
    {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }

    void run() const
    {
        {
            std::lock_guard<std::mutex> lock(m_handover->mutex);
            if (m_handover->taken)
                return;  // the work may be gone: the waiting thread ran it itself
            m_handover->taken = true;
        }
        m_handover->work();
        {
            std::lock_guard<std::mutex> lock(m_handover->mutex);
            m_handover->done = true;
        }
        m_handover->doneChanged.notify_all();
    }

private:
    std::shared_ptr<Handover> m_handover;
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
    QCoreApplication::postEvent(this, new HandoverEvent(handover));

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
    if (event->type() != HandoverEvent::type())
        return QObject::event(event);
    static_cast<HandoverEvent*>(event)->run();
    return true;
}

} // namespace tamo::detail
