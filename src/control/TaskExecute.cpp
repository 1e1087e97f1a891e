// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"
#include "control/TaskExecutePrivate.h"

#include "common/LogLine.h"

#include <future>
#include <system_error>

using namespace tamo::detail;

namespace {
constexpr int kQuitMessageType = -1;
}

TaskExecute::TaskExecute() : m_task(std::make_unique<tamo::detail::TaskExecutePrivate>())
{
    // The constructor returns once the worker runs, so that even an executor stopped at once ends its
    // worker the usual way (through the quit message, with the exit line). std::thread reports a thread
    // that cannot be created as std::system_error (resource_unavailable_try_again).
    std::promise<void> started;
    m_task->m_thread = std::make_unique<std::thread>([this, &started] {
        started.set_value();
        run();
    });
    started.get_future().wait();
}

TaskExecute::~TaskExecute() = default;

bool TaskExecute::postMessage(ControlMessage msg)
{
    const std::size_t bytes = msg.data.size();
    bool accepted = true;
    bool floodBegins = false;
    std::size_t droppedBefore = 0;
    std::size_t queued = 0;
    {
        std::lock_guard<std::mutex> lock(m_task->m_mutex);
        queued = m_task->m_queue.size();
        if (queued >= kMaxQueuedMessages || m_task->m_queuedBytes + bytes > kMaxQueuedBytes) {
            accepted = false;
            floodBegins = !m_task->m_dropping;
            m_task->m_dropping = true;
            ++m_task->m_droppedCount;
        } else {
            if (m_task->m_dropping) {
                droppedBefore = m_task->m_droppedCount;
                m_task->m_dropping = false;
                m_task->m_droppedCount = 0;
            }
            m_task->m_queuedBytes += bytes;
            m_task->m_queue.push_back(std::move(msg));
        }
    }
    if (accepted) {
        m_task->m_cond.notify_all();
        if (droppedBefore > 0)
            logLine(LineRate::FloodLimited, "TaskExecute::postMessage queue has room again: %zu messages were dropped\n", droppedBefore);
    } else if (floodBegins) {
        logLine(LineRate::FloodLimited, "TaskExecute::postMessage WARING queue full (%zu messages): dropping received messages\n", queued);
    }
    return accepted;
}

void TaskExecute::takeMessage(ControlMessage& out)
{
    std::unique_lock<std::mutex> lock(m_task->m_mutex);
    m_task->m_cond.wait(lock, [this] { return !m_task->m_queue.empty(); });
    out = std::move(m_task->m_queue.front());
    m_task->m_queue.pop_front();
    m_task->m_queuedBytes -= out.data.size();
}

void TaskExecute::run()
{
    for (;;) {
        ControlMessage msg(0, 0, 0, 0);
        takeMessage(msg);
        if (msg.msgType == kQuitMessageType) {
            logLine("TaskExecute::run thread exit!\n");
            return;
        }
        handle_message(std::move(msg));
        if (!m_task->m_running)
            return;
    }
}

void TaskExecute::stop()
{
    m_task->m_running = false;
    {
        // The quit message bypasses the queue's bound: stopping must always be possible.
        std::lock_guard<std::mutex> lock(m_task->m_mutex);
        m_task->m_queue.emplace_back(kQuitMessageType, 0, 0, 0);
    }
    m_task->m_cond.notify_all();
    if (m_task->m_thread && m_task->m_thread->joinable()) {
        if (m_task->m_thread->get_id() == std::this_thread::get_id())
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
        m_task->m_thread->join();
        m_task->m_thread.reset();
    }
}

bool TaskExecute::onWorkerThread() const
{
    return m_task->m_thread && m_task->m_thread->get_id() == std::this_thread::get_id();
}
