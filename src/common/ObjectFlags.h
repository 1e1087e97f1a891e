// SPDX-License-Identifier: MIT
// A control object's switches: its roles and the opt-ins the host chose (NetControlNS::Option), each one
// behaviour. The host writes them on its threads and every thread of the object reads them.
#pragma once

#include "MultiNetControl.h"

#include <atomic>

namespace tamo::detail {

struct ObjectFlags
{
    bool has(NetControlNS::Option option) const { return (m_options.load() & option) != 0; }
    void set(NetControlNS::Option option, bool on)
    {
        if (on)
            m_options.fetch_or(option);
        else
            m_options.fetch_and(~unsigned(option));
    }

    std::atomic<bool> m_isMaster{false};
    std::atomic<bool> m_isSlave{false};
    std::atomic<unsigned> m_options{0};
    // Every datagram taken was signed with the group's key: a sender is who it says it is.
    std::atomic<bool> m_keyed{false};
};

} // namespace tamo::detail
