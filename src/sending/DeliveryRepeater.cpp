// SPDX-License-Identifier: MIT
#include "sending/DeliveryRepeater.h"

#include <algorithm>
#include <iterator>

namespace tamo::detail {

DeliveryRepeater::DeliveryRepeater(TimerThread& timer, Send send, GiveUp giveUp)
    : m_timer(timer), m_send(std::move(send)), m_giveUp(std::move(giveUp))
{
}

void DeliveryRepeater::track(std::vector<char> datagram, std::uint16_t code, std::uint16_t seq, std::vector<Peer> peers)
{
    if (peers.empty())
        return;
    const Clock::time_point now = Clock::now();
    std::vector<Expired> expired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        takeEarlyAcks(code, seq, peers, now);
        if (peers.empty())
            return;
        if (m_deliveries.size() >= kMaxPending) {
            expired.push_back(Expired{m_deliveries.front().code, m_deliveries.front().seq, m_deliveries.front().waiting});
            m_deliveries.erase(m_deliveries.begin());
        }
        m_deliveries.push_back(Delivery{std::move(datagram), code, seq, std::move(peers), now + kDeadline,
                                        now + kPauses[0], 0});
        if (m_task)
            m_timer.runNoLaterThan(*m_task, now + kPauses[0]);
        else
            m_task = m_timer.add([this] { return repeatDue(); }, now + kPauses[0]);
    }
    for (const Expired& e : expired)
        m_giveUp(e.code, e.seq, e.silent);
}

void DeliveryRepeater::acknowledged(std::uint16_t code, std::uint16_t seq, const Peer& from)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_deliveries.begin(); it != m_deliveries.end(); ++it) {
        if (it->code != code || it->seq != seq)
            continue;
        it->waiting.erase(std::remove(it->waiting.begin(), it->waiting.end(), from), it->waiting.end());
        if (it->waiting.empty())
            m_deliveries.erase(it);
        return;
    }
    // Not tracked (yet): it may have overtaken its datagram's track().
    if (m_early.size() >= kMaxEarly)
        m_early.erase(m_early.begin());
    m_early.push_back(EarlyAck{code, seq, from, Clock::now()});
}

void DeliveryRepeater::takeEarlyAcks(std::uint16_t code, std::uint16_t seq, std::vector<Peer>& peers, Clock::time_point now)
{
    m_early.erase(m_early.begin(), std::find_if(m_early.begin(), m_early.end(), [&](const EarlyAck& early) {
                      return now - early.at <= kEarlyFor;
                  }));
    for (auto it = m_early.begin(); it != m_early.end();) {
        if (it->code == code && it->seq == seq) {
            peers.erase(std::remove(peers.begin(), peers.end(), it->from), peers.end());
            it = m_early.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t DeliveryRepeater::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deliveries.size();
}

std::optional<DeliveryRepeater::Clock::time_point> DeliveryRepeater::repeatDue()
{
    std::vector<Due> due;
    std::vector<Expired> expired;
    std::optional<Clock::time_point> next;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        collect(Clock::now(), due, expired);
        for (const Delivery& d : m_deliveries)
            next = std::min(next.value_or(d.nextRepeat), std::min(d.nextRepeat, d.deadline));
        if (!next)
            m_task.reset();
    }
    // Sent and reported without the lock: the host's threads track while the repeats go out.
    for (const Due& d : due) {
        for (const Peer& peer : d.to)
            m_send(d.datagram, peer);
    }
    for (const Expired& e : expired)
        m_giveUp(e.code, e.seq, e.silent);
    return next;
}

void DeliveryRepeater::collect(Clock::time_point now, std::vector<Due>& due, std::vector<Expired>& expired)
{
    for (auto it = m_deliveries.begin(); it != m_deliveries.end();) {
        if (now >= it->deadline) {
            expired.push_back(Expired{it->code, it->seq, it->waiting});
            it = m_deliveries.erase(it);
            continue;
        }
        if (now >= it->nextRepeat) {
            due.push_back(Due{it->datagram, it->waiting});
            ++it->repeats;
            const std::chrono::milliseconds pause =
                it->repeats < std::size(kPauses) ? kPauses[it->repeats] : kLongestPause;
            it->nextRepeat = now + pause;
        }
        ++it;
    }
}

} // namespace tamo::detail
