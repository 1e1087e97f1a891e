// SPDX-License-Identifier: MIT
#include "sending/RecentDatagrams.h"

#include <algorithm>

namespace tamo::detail {

bool RecentDatagrams::seenBefore(const std::string& ip, int processId, std::uint16_t code, std::uint16_t seq,
                                 qint64 nowMs)
{
    while (!m_seen.empty() && (nowMs - m_seen.front().atMs >= kRememberMs || m_seen.size() >= kMaxRemembered))
        m_seen.pop_front();
    const bool seen = std::any_of(m_seen.begin(), m_seen.end(), [&](const Seen& s) {
        return s.seq == seq && s.code == code && s.processId == processId && s.ip == ip;
    });
    if (!seen)
        m_seen.push_back(Seen{ip, processId, code, seq, nowMs});
    return seen;
}

} // namespace tamo::detail
