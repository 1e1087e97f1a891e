// SPDX-License-Identifier: MIT
#include "sending/DeliveryRepeater.h"

#include <algorithm>
#include <iterator>

namespace tamo::detail {

DeliveryRepeater::DeliveryRepeater(Send send, GiveUp giveUp) : m_send(std::move(send)), m_giveUp(std::move(giveUp)) {}

DeliveryRepeater::~DeliveryRepeater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
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
        if (m_stopping || peers.empty())
            return;
        if (m_deliveries.size() >= kMaxPending) {
            expired.push_back(Expired{m_deliveries.front().code, m_deliveries.front().seq, m_deliveries.front().waiting});
            m_deliveries.pop_front();
        }
        m_deliveries.push_back(Delivery{std::move(datagram), code, seq, std::move(peers), now + kDeadline,
                                        now + kPauses[0], 0});
        if (!m_thread.joinable())
            m_thread = std::thread(&DeliveryRepeater::run, this);
    }
    m_wake.notify_all();
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
        m_early.pop_front();
    m_early.push_back(EarlyAck{code, seq, from, Clock::now()});
}

void DeliveryRepeater::takeEarlyAcks(std::uint16_t code, std::uint16_t seq, std::vector<Peer>& peers, Clock::time_point now)
{
    while (!m_early.empty() && now - m_early.front().at > kEarlyFor)
        m_early.pop_front();
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

void DeliveryRepeater::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_deliveries.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const auto next = std::min_element(m_deliveries.begin(), m_deliveries.end(), [](const Delivery& a, const Delivery& b) {
            return std::min(a.nextRepeat, a.deadline) < std::min(b.nextRepeat, b.deadline);
        });
        // A copy: the delivery may be acknowledged, and erased, while this thread waits.
        const Clock::time_point wakeAt = std::min(next->nextRepeat, next->deadline);
        if (m_wake.wait_until(lock, wakeAt) == std::cv_status::no_timeout)
            continue;  // woken early: a new delivery, an acknowledgement or the end
        std::vector<Due> due;
        std::vector<Expired> expired;
        collect(Clock::now(), due, expired);
        // Sent and reported without the lock: the host's threads track while the repeats go out.
        lock.unlock();
        for (const Due& d : due) {
            for (const Peer& peer : d.to)
                m_send(d.datagram, peer);
        }
        for (const Expired& e : expired)
            m_giveUp(e.code, e.seq, e.silent);
        lock.lock();
    }
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
