// SPDX-License-Identifier: MIT
// The one thread of a control object that runs its periodic sends at their times: a slave's clock-sync
// requests and heartbeats, and the repeats of acknowledged delivery. Started with the first task, so that an
// object that never sends on a timer has no such thread.
//
// A task runs on this thread and answers when it wants to run again, or nothing to end. Tasks never run
// at once; a task that is late delays the others (they only send, and never wait for the network).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tamo::detail {

class TimerThread
{
public:
    using Clock = std::chrono::steady_clock;
    using Task = std::function<std::optional<Clock::time_point>()>;
    using Id = std::uint64_t;

    TimerThread();
    // Stops as stop() does.
    ~TimerThread();

    TimerThread(const TimerThread&) = delete;
    TimerThread& operator=(const TimerThread&) = delete;

    // Runs `task` at `first` and then whenever it asks. Any thread; nothing runs after stop().
    Id add(Task task, Clock::time_point first);
    // Runs the task at `at` if it would run later (also when it is running now: its next turn). Any thread.
    void runNoLaterThan(Id id, Clock::time_point at);
    // Runs once more the tasks that are due, then ends the thread and joins it. On the timer thread itself
    // (a task's host callback destroyed the owner), the thread ends as soon as the running task returns,
    // and runs nothing more.
    void stop();
    // On the timer thread, inside a task: whether the owner was destroyed during the task. A task checks
    // it after calling the host, and then returns at once without touching its object.
    static bool ownerGone();

private:
    struct Entry
    {
        Task task;                                 // empty while it runs
        Clock::time_point at;
        std::optional<Clock::time_point> earliest;  // asked for while it ran
    };
    // Shared with the thread, which may outlive this object when a task destroyed its owner.
    struct State
    {
        std::mutex mutex;                  // everything below; any thread adds, the timer thread runs
        std::condition_variable wake;      // pairs with mutex: a new or earlier task, or the end
        std::map<Id, Entry> entries;
        Id nextId = 1;
        bool stopping = false;
        bool abandoned = false;            // stopped from a task: run nothing more
    };

    static void run(const std::shared_ptr<State>& state);
    // Runs one task without the lock and files its answer; with `lock` held on entry and on return.
    static void runOne(State& state, std::unique_lock<std::mutex>& lock, std::map<Id, Entry>::iterator it,
                       bool last);

    std::shared_ptr<State> m_state;
    std::thread m_thread;  // started by the first add() (under the state's mutex), joined by stop()
};

} // namespace tamo::detail
