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

// What the queue of socket `fd` holds next, seen without taking anything off it (MSG_PEEK).
struct NextDatagram
{
    enum class Queue { HasDatagram, Empty, Unknown } queue = Queue::Unknown;  // Unknown: ask the socket layer
    std::optional<std::int64_t> receiptNs;  // the datagram's receipt time, when the kernel kept one
};
NextDatagram peekNextDatagram(qintptr fd);

// The system clock that receipt times are taken on, in ns.
std::int64_t systemClockNs();

} // namespace tamo::detail
