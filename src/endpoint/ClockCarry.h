// SPDX-License-Identifier: MIT
// Carrying a moment taken on a system clock (the kernel's receipt time of a datagram, or the instant right
// before a send) over to the host clock, which the library may only read through the host's callback.
//
// The host clock and the system clock are read back to back; the moment is then the host clock's value
// less the system time that has passed since it (or plus the time still to come). Two guards keep this
// from producing a wild value:
// - A host clock that stands still (a test double, or a clock coarser than a microsecond) gets exactly
//   its own value: it is read before and after at least kStillTestNs of system time; when both readings
//   are equal it stands still, because a running microsecond clock must have moved in that span.
// - The system clock may step (NTP). When the distance between the moment and the reading is negative or
//   more than kMaxCarryNs, the host clock's own value is taken, as if no earlier moment were known.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <optional>

namespace tamo::detail {

constexpr std::int64_t kMaxCarryNs = 1000000000;  // one second
constexpr std::int64_t kStillTestNs = 2000;

// One reading of both clocks, taken back to back.
struct ClockPair
{
    qint64 hostUs = 0;
    std::int64_t systemNs = 0;
    bool hostStandsStill = false;
};

// Reads the host clock, the system clock and the host clock again. When the two host readings differ the
// clock runs; when they are equal, waits (at most a bounded number of system-clock reads) until the
// system clock shows kStillTestNs more and reads both once more.
ClockPair readClockPair(const std::function<qint64()>& hostClockUs, const std::function<std::int64_t()>& systemClockNs);

// The host clock at system time `momentNs`, judged from `now`. A missing moment, a host clock that
// stands still, and a distance outside 0..kMaxCarryNs in the expected `direction` all give now.hostUs.
enum class MomentIs { Before, After };
qint64 hostTimeAt(std::optional<std::int64_t> momentNs, MomentIs direction, const ClockPair& now);

} // namespace tamo::detail
