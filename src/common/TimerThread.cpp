// SPDX-License-Identifier: MIT
#include "common/TimerThread.h"

namespace tamo::detail {

namespace {

// Points, while a task runs, at a flag that stop() sets when it is called from inside that task.
thread_local bool* t_ownerGone = nullptr;

} // namespace

TimerThread::TimerThread() : m_state(std::make_shared<State>()) {}

TimerThread::~TimerThread()
{
    stop();
}

TimerThread::Id TimerThread::add(Task task, Clock::time_point first)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->stopping)
        return 0;
    const Id id = m_state->nextId++;
    m_state->entries.emplace(id, Entry{std::move(task), first, std::nullopt});
    if (!m_thread.joinable())
        m_thread = std::thread(&TimerThread::run, m_state);
    m_state->wake.notify_all();
    return id;
}

void TimerThread::runNoLaterThan(Id id, Clock::time_point at)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->entries.find(id);
    if (it == m_state->entries.end())
        return;
    Entry& entry = it->second;
    if (!entry.task)
        entry.earliest = std::min(entry.earliest.value_or(at), at);
    else if (at < entry.at)
        entry.at = at;
    m_state->wake.notify_all();
}

void TimerThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
        return;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->abandoned = true;
    if (t_ownerGone)
        *t_ownerGone = true;
    m_thread.detach();
}

bool TimerThread::ownerGone()
{
    return t_ownerGone && *t_ownerGone;
}

void TimerThread::runOne(State& state, std::unique_lock<std::mutex>& lock, std::map<Id, Entry>::iterator it,
                         bool last)
{
    const Id id = it->first;
    Task task = std::move(it->second.task);
    it->second.task = nullptr;
    lock.unlock();
    bool gone = false;
    t_ownerGone = &gone;
    const std::optional<Clock::time_point> next = task();
    t_ownerGone = nullptr;
    lock.lock();
    if (gone || state.abandoned)
        return;
    const auto entry = state.entries.find(id);
    if (entry == state.entries.end())
        return;
    const std::optional<Clock::time_point> earliest = entry->second.earliest;
    if (last || (!next && !earliest)) {
        state.entries.erase(entry);
        return;
    }
    entry->second.task = std::move(task);
    entry->second.at = next && earliest ? std::min(*next, *earliest) : next ? *next : *earliest;
    entry->second.earliest.reset();
}

void TimerThread::run(const std::shared_ptr<State>& state)
{
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->stopping) {
        auto due = state->entries.end();
        for (auto it = state->entries.begin(); it != state->entries.end(); ++it) {
            if (it->second.task && (due == state->entries.end() || it->second.at < due->second.at))
                due = it;
        }
        if (due == state->entries.end()) {
            state->wake.wait(lock);
            continue;
        }
        if (due->second.at > Clock::now()) {
            state->wake.wait_until(lock, due->second.at);
            continue;
        }
        runOne(*state, lock, due, false);
        if (state->abandoned)
            return;
    }
    // A stop: the tasks that are due (those told to end) run once more, so that they can say so.
    for (auto it = state->entries.begin(); it != state->entries.end() && !state->abandoned;) {
        const auto next = std::next(it);
        if (it->second.task && it->second.at <= Clock::now())
            runOne(*state, lock, it, true);
        it = next;
    }
}

} // namespace tamo::detail
