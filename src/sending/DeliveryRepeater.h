// SPDX-License-Identifier: MIT
// Acknowledged delivery: a datagram sent once is repeated, byte for byte (its sequence number included),
// to each peer that has not acknowledged it yet, sooner at first and then less often, until every peer
// has or the deadline has passed. The receivers know a repeat by its sender, process id, code and
// sequence number: they acknowledge it again and handle it once.
//
// The object's timer thread repeats (a task from the first tracked datagram until none is left); any thread
// may track and acknowledge.
#pragma once

#include "common/TimerThread.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tamo::detail {

// Where a datagram goes, and who acknowledges it.
struct DeliveryPeer
{
    std::string ip;
    int port = 0;
    bool operator==(const DeliveryPeer& other) const { return port == other.port && ip == other.ip; }
};

class DeliveryRepeater
{
public:
    using Peer = DeliveryPeer;
    using Send = std::function<void(const std::vector<char>& datagram, const Peer& to)>;
    // Called on the timer thread for a datagram that some peers never acknowledged.
    using GiveUp = std::function<void(std::uint16_t code, std::uint16_t seq, const std::vector<Peer>& silent)>;

    // How long a datagram is repeated, and the pauses before the repeats: short ones first, so that a
    // command whose instant lies 200 ms ahead mostly still arrives in time, then longer ones.
    static constexpr std::chrono::milliseconds kDeadline{3000};
    static constexpr std::chrono::milliseconds kPauses[] = {std::chrono::milliseconds(20),
                                                            std::chrono::milliseconds(40),
                                                            std::chrono::milliseconds(80),
                                                            std::chrono::milliseconds(160),
                                                            std::chrono::milliseconds(320)};
    static constexpr std::chrono::milliseconds kLongestPause{500};
    // Datagrams repeated at once; a host that sends faster than they are acknowledged gives up the oldest.
    static constexpr std::size_t kMaxPending = 1024;
    // A datagram is tracked just after its send, and a peer on a fast link may acknowledge it in between:
    // an acknowledgement that matches nothing tracked is kept this long (at most kMaxEarly of them), so
    // that the datagram is not repeated to that peer.
    static constexpr std::chrono::milliseconds kEarlyFor{1000};
    static constexpr std::size_t kMaxEarly = 256;

    DeliveryRepeater(TimerThread& timer, Send send, GiveUp giveUp);

    DeliveryRepeater(const DeliveryRepeater&) = delete;
    DeliveryRepeater& operator=(const DeliveryRepeater&) = delete;

    // `datagram`, with `code` and `seq`, was sent once to `peers`: repeat it to those that do not acknowledge
    // (and have not acknowledged it already).
    void track(std::vector<char> datagram, std::uint16_t code, std::uint16_t seq, std::vector<Peer> peers);
    void acknowledged(std::uint16_t code, std::uint16_t seq, const Peer& from);
    // Datagrams still repeated.
    std::size_t pending() const;

private:
    using Clock = TimerThread::Clock;
    struct Delivery
    {
        std::vector<char> datagram;
        std::uint16_t code;
        std::uint16_t seq;
        std::vector<Peer> waiting;  // peers that have not acknowledged yet
        Clock::time_point deadline;
        Clock::time_point nextRepeat;
        std::size_t repeats = 0;
    };
    struct Due
    {
        std::vector<char> datagram;
        std::vector<Peer> to;
    };
    struct Expired
    {
        std::uint16_t code;
        std::uint16_t seq;
        std::vector<Peer> silent;
    };
    struct EarlyAck
    {
        std::uint16_t code;
        std::uint16_t seq;
        Peer from;
        Clock::time_point at;
    };

    // The timer's task: sends the repeats that are due, reports the deliveries that expired, and answers
    // when the next repeat is due (nothing when none is left).
    std::optional<Clock::time_point> repeatDue();
    // Takes the repeats that are due and the deliveries that expired; with m_mutex held.
    void collect(Clock::time_point now, std::vector<Due>& due, std::vector<Expired>& expired);
    // Leaves out of `peers` those that acknowledged `code` and `seq` before it was tracked; with m_mutex held.
    void takeEarlyAcks(std::uint16_t code, std::uint16_t seq, std::vector<Peer>& peers, Clock::time_point now);

    TimerThread& m_timer;
    const Send m_send;
    const GiveUp m_giveUp;
    mutable std::mutex m_mutex;            // the host's threads and the worker track and acknowledge; the timer repeats
    // Vectors, not deques: a deque allocates on construction, and most objects never repeat anything.
    std::vector<Delivery> m_deliveries;    // guarded by m_mutex; oldest first
    std::vector<EarlyAck> m_early;         // guarded by m_mutex; oldest first
    std::optional<TimerThread::Id> m_task; // guarded by m_mutex; the timer's task while deliveries are pending
};

} // namespace tamo::detail
