// SPDX-License-Identifier: MIT
// A filter in the kernel that drops, on one socket, the datagrams of one sender. A master hears its own
// broadcasts on its group port; dropping them there saves waking its reader and worker for every command
// it sends, on the thread that sends it as well.
#pragma once

#include <QtGlobal>

#include <optional>

namespace tamo::detail {

struct DroppedSender
{
    std::optional<quint32> ipv4;  // in host byte order; nothing: the sender's port on any address
    quint16 port = 0;
};

// Installs the filter on socket `fd`, replacing any earlier one; nothing: removes it. Linux only: false
// where the platform has no socket filters or refuses this one, and the socket then keeps whatever filter it
// had.
bool filterSender(qintptr fd, const std::optional<DroppedSender>& sender);

} // namespace tamo::detail
