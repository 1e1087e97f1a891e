// SPDX-License-Identifier: MIT
// A control object's switches: its roles and the opt-ins the host chose. Each is one behaviour; the host
// writes them on its threads and every thread of the object reads them, so each is atomic.
#pragma once

#include <atomic>

namespace tamo::detail {

struct ObjectFlags
{
    std::atomic<bool> m_isMaster{false};
    std::atomic<bool> m_isSlave{false};
    // Under recovery: a master takes a silent slave back on line at its next heartbeat; a slave follows a
    // master that started again, and counts a silent master from its first heartbeat.
    std::atomic<bool> m_recovery{false};
    // A master admits a restarted slave of an admitted PC in place of its silent earlier process.
    std::atomic<bool> m_admitRestartedSlaves{false};
};

} // namespace tamo::detail
