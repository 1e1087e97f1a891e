// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <functional>
#include <mutex>

namespace tamo::detail {

// Lives on the thread that made it, and runs work there on behalf of other threads.
class OwnerThreadRunner : public QObject
{
public:
    // Runs `work` on this object's thread and returns once it has run. Runs it here when that is this thread,
    // or when that thread has ended: then no event loop can need it any more. Otherwise that thread's event
    // loop runs it; while it does not, `reportWaiting` is called every few seconds with the seconds waited.
    void runOnOwnerThread(const std::function<void()>& work,
                          const std::function<void(long long waitedSeconds)>& reportWaiting);

    struct Handover;

protected:
    bool event(QEvent* event) override;

private:
    // Held by a thread while it posts work, and by this object's thread while it reads an event. Qt's own
    // event queue orders the two already, but inside Qt, where ThreadSanitizer does not see it: without this
    // lock it would report the event's creation and its reading as a race.
    std::mutex m_eventMutex;
};

} // namespace tamo::detail
