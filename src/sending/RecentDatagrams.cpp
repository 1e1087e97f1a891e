// SPDX-License-Identifier: MIT
#include "sending/RecentDatagrams.h"

#include <algorithm>

namespace tamo::detail {

namespace {

// FNV-1a: to tell a repeat from another datagram under the same numbers, not against a forger, who can
// send any bytes first anyway.
std::uint64_t digestOf(const char* bytes, int len)
{
    std::uint64_t digest = 14695981039346656037ull;
    for (int i = 0; i < len; ++i) {
        digest ^= static_cast<unsigned char>(bytes[i]);
        digest *= 1099511628211ull;
    }
    return digest;
}

} // namespace

RecentDatagrams::Seen RecentDatagrams::seenBefore(const std::string& ip, int processId, std::uint16_t code,
                                                  std::uint16_t seq, const char* bytes, int len, qint64 nowMs)
{
    while (!m_seen.empty() && (nowMs - m_seen.front().atMs >= kRememberMs || m_seen.size() >= kMaxRemembered))
        m_seen.pop_front();
    const std::uint64_t digest = digestOf(bytes, len);
    const auto it = std::find_if(m_seen.begin(), m_seen.end(), [&](const Remembered& s) {
        return s.seq == seq && s.code == code && s.processId == processId && s.ip == ip;
    });
    if (it == m_seen.end()) {
        m_seen.push_back(Remembered{ip, processId, code, seq, digest, nowMs});
        return Seen::New;
    }
    if (it->digest == digest)
        return Seen::Repeat;
    it->digest = digest;
    return Seen::Conflict;
}

} // namespace tamo::detail
