// SPDX-License-Identifier: MIT
// The kernel's receipt time of datagrams (SO_TIMESTAMPNS, on the system clock CLOCK_REALTIME). Linux
// only; elsewhere the functions do nothing and there is never a receipt time.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace tamo::detail {

// Asks the kernel to keep each datagram's receipt time on socket `fd`. False when the option is refused
// or does not exist.
bool enableKernelReceiptTimes(qintptr fd);

// The receipt time, in ns of the system clock, of the next datagram queued on `fd`, without taking the
// datagram off the queue (MSG_PEEK). Nothing when no datagram is queued or it carries no time.
std::optional<std::int64_t> peekKernelReceiptTimeNs(qintptr fd);

// The system clock that receipt times are taken on, in ns.
std::int64_t systemClockNs();

} // namespace tamo::detail
