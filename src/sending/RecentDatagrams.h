// SPDX-License-Identifier: MIT
// What acknowledged delivery needs on the receiving side: a datagram repeated because its acknowledgement
// was lost must be acknowledged again but handled only once. A datagram is known again by its sender's
// address and process id, its code and its sequence number, for a while: long after its repeats have
// ended, long before the sender's sequence numbers come round again. A repeat is byte for byte its first
// copy: one that differs under the same numbers (a forged first copy, or a sender that started again) is
// no repeat, and is handled.
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

    enum class Seen { New, Repeat, Conflict };

    // Repeat when the same datagram, `bytes` for `len`, arrived within kRememberMs before `nowMs` (a
    // monotonic time); Conflict when another one with the same sender, code and sequence number did (it
    // is remembered instead); New otherwise (remembered).
    Seen seenBefore(const std::string& ip, int processId, std::uint16_t code, std::uint16_t seq, const char* bytes,
                    int len, qint64 nowMs);

private:
    struct Remembered
    {
        std::string ip;
        int processId;
        std::uint16_t code;
        std::uint16_t seq;
        std::uint64_t digest;  // of the bytes: a repeat has the same
        qint64 atMs;
    };
    std::deque<Remembered> m_seen;  // oldest first
};

} // namespace tamo::detail
