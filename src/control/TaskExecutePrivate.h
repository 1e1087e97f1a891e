// SPDX-License-Identifier: MIT
// The task executor's queue and worker thread, behind TaskExecute.
#pragma once

#include "control/ControlMessage.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace tamo::detail {

class TaskExecutePrivate
{
public:
    std::deque<ControlMessage> m_queue;  // guarded by m_mutex; producers and the worker
    std::size_t m_queuedBytes = 0;       // guarded by m_mutex
    bool m_dropping = false;             // guarded by m_mutex; true while a flood is being dropped
    std::size_t m_droppedCount = 0;      // guarded by m_mutex
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::unique_ptr<std::thread> m_thread;   // created by the constructor, joined and released by stop()
    std::atomic<bool> m_running{true};       // written by stop(), read by the worker
};

} // namespace tamo::detail
