// SPDX-License-Identifier: MIT
// What acknowledged delivery needs on the receiving side: a datagram repeated because its acknowledgement
// was lost must be acknowledged again but handled only once. A datagram is known again by its sender's
// address and process id, its code and its sequence number, for a while: long after its repeats have
// ended, long before the sender's sequence numbers come round again.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <string>

namespace tamo::detail {

class RecentDatagrams
{
public:
    static constexpr qint64 kRememberMs = 10000;
    // A bound against forged floods; far above what a master sends in kRememberMs.
    static constexpr std::size_t kMaxRemembered = 1024;

    // True when the same datagram arrived within kRememberMs before `nowMs` (a monotonic time);
    // otherwise remembers it and returns false.
    bool seenBefore(const std::string& ip, int processId, std::uint16_t code, std::uint16_t seq, qint64 nowMs);

private:
    struct Seen
    {
        std::string ip;
        int processId;
        std::uint16_t code;
        std::uint16_t seq;
        qint64 atMs;
    };
    std::deque<Seen> m_seen;  // oldest first
};

} // namespace tamo::detail
