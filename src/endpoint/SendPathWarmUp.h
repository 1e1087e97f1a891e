// SPDX-License-Identifier: MIT
// Brings the kernel's send path for one destination into the CPU's caches right before a time-stamped
// send. A thread that has slept (the clock-sync thread between its requests) otherwise spends tens of
// microseconds in cache misses between its stamp and the datagram's departure, and the other side,
// which sends from a thread that has just run, much less: the difference shows up as clock offset.
#pragma once

#include <QtGlobal>

namespace tamo::detail {

class PreparedDestination;

// A send of zero bytes with MSG_PROBE to `to` on socket `fd`: the route lookup runs and nothing is sent.
// Linux only; elsewhere, and for a destination that is not IPv4, it does nothing.
void warmUpSendPath(qintptr fd, const PreparedDestination& to);

} // namespace tamo::detail
