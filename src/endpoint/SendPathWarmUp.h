// SPDX-License-Identifier: MIT
// Brings the kernel's send path into the CPU's caches right before a time-stamped send. A thread that has
// slept (the clock-sync requests leave every 100 ms, or every 3 s once playback runs) otherwise spends
// 10 to 20 us more between its stamp and the datagram's arrival than the other side, whose send follows
// a datagram that has just passed the same code: half the difference shows up as clock offset.
//
// Two steps: a route probe to the destination (the lookup only, nothing is built), and a rehearsal, the
// same bytes sent as a multicast datagram with a time to live of 0 and no loopback, which the kernel
// builds like any datagram (buffer, headers, output hooks) and then drops before a network device: nothing
// reaches a network. The loopback device is the exception: there the copy passes the device, and a socket
// that joined 239.255.254.9 on it receives it. The rehearsal costs 3 to 7 us, so neither step is made
// while the path is still warm from the previous stamped send (a master answering many slaves).
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <limits>

namespace tamo::detail {

class PreparedDestination;

class SendPathWarmUp
{
public:
    // On this machine a send 1 ms after the previous one took 2 to 3 us longer than a warmed one, 15 us after
    // 100 ms; a master serving a thousand slaves sends an answer every 100 us.
    static constexpr std::int64_t kWarmForNs = 1000000;

    // Readies socket `fd` for rehearsals: multicast with a time to live of 0, not looped back, out of the
    // interface of the address the socket is bound to. Without it (another platform, a socket bound to no
    // particular address, an option refused) only the probe is made. Call once, before any send.
    void prepare(qintptr fd);
    // When the previous call was kWarmForNs or more before `nowNs` (steady clock): the probe to `to` on
    // socket `fd`, and the rehearsal of `data`. Call with the endpoint's lock held, right before the stamp.
    void warmUp(qintptr fd, const PreparedDestination& to, const char* data, int len, std::int64_t nowNs);

private:
    bool m_rehearses = false;  // written by prepare, then read-only
    std::int64_t m_lastStampedSendNs = std::numeric_limits<std::int64_t>::min() / 2;  // guarded by the endpoint's lock
};

} // namespace tamo::detail
