// SPDX-License-Identifier: MIT
// Brings the kernel's send path into the CPU's caches right before a time-stamped send. A thread that has
// slept (the clock-sync requests leave every 100 ms, or every 3 s once playback runs) otherwise spends
// 10 to 20 us more between its stamp and the datagram's arrival than the other side, whose send follows
// a datagram that has just passed the same code: half the difference shows up as clock offset.
//
// Two steps: a route probe to the destination (the lookup only, nothing is built), and a rehearsal, the
// same bytes sent as a multicast datagram with a time to live of 0 and no loopback, which the kernel
// builds like any datagram (buffer, headers, output hooks) and then drops before any device. Nothing of
// either reaches a network or another socket.
#pragma once

#include <QtGlobal>

namespace tamo::detail {

class PreparedDestination;

// Readies socket `fd` for rehearsals: multicast with a time to live of 0, not looped back, out of the
// interface of the address the socket is bound to. False (no rehearsals then) where the platform has no
// such path, for a socket bound to no particular address, or when the kernel refuses an option.
bool prepareSendPathRehearsal(qintptr fd);

// The probe to `to` on socket `fd`, and, when `rehearse`, the rehearsal of `data`. Linux only; elsewhere,
// and for a destination that is not IPv4, it does nothing.
void warmUpSendPath(qintptr fd, const PreparedDestination& to, const char* data, int len, bool rehearse);

} // namespace tamo::detail
