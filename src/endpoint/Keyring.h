// SPDX-License-Identifier: MIT
// The keys of an authenticated group, and the door of its endpoints: signs what leaves, verifies what
// arrives, keeps out copies and old recordings, counts what it drops. Without keys it signs nothing and
// drops only signed datagrams, which it cannot check.
#pragma once

#include "MultiNetControl.h"
#include "wire/Signature.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tamo::detail {

class Keyring
{
public:
    enum class Verdict { Accepted, Unsigned, UnknownKey, BadSignature, Replayed, SignedWithoutKey };
    // Senders whose counters are remembered; the oldest one is forgotten beyond.
    static constexpr std::size_t kMaxSenders = 4096;
    // A counter up to this far below a sender's highest (microseconds of its wall clock) may still arrive
    // once: a node reads its two sockets in turn, so a broadcast command may come after a unicast answer
    // sent later, and a slow event loop widens the gap.
    static constexpr std::uint64_t kReorderWindowUs = 2000000;
    // Counters remembered per sender within that window; an older one is taken as seen.
    static constexpr std::size_t kMaxRememberedCounters = 512;

    // False, with the reason in `why`, when the keys are not acceptable; the keys in force then stay.
    bool setKeys(const std::vector<NetControlNS::struGroupKey>& keys, std::string& why);
    bool keyed() const { return m_keyed; }

    // Copies `len` bytes of `datagram` to `out`, signed when keyed; returns the length written. `out` holds
    // `len` + kSignatureSize bytes. Any thread.
    int sign(const char* datagram, int len, std::uint16_t ownPort, char* out);
    // Computes a signature of `datagram` and throws it away, using no counter. A stamped send signs
    // between its stamp and sendto; rehearsed before the stamp, that signing runs warm on a thread that
    // has slept (a slave's clock-sync requests) as on one that has just answered, and half the difference
    // no longer shows as clock offset. Any thread.
    void rehearseSigning(const char* datagram, int len, std::uint16_t ownPort) const;
    // The door for a received datagram from `ip`:`port`; on Accepted `len` no longer counts the signature.
    // The first drop of each kind from each sender prints a line. The receiving thread.
    Verdict verify(const char* datagram, int& len, const std::string& ip, std::uint16_t port);
    NetControlNS::struDropCounts counts() const;

private:
    struct Key
    {
        std::uint8_t id;
        QByteArray secret;
    };
    struct Sender
    {
        std::uint64_t highest;
        // The counters taken within kReorderWindowUs of the highest, ascending: most come in order and
        // go on the back, and the oldest leave at the front, touching a line or two where a tree's
        // nodes took a cache miss each on a slave that wakes with cold caches.
        std::deque<std::uint64_t> seen;
        std::uint64_t forgotten;       // the highest counter no longer in `seen`: none up to it is taken
        std::uint64_t order;           // when it was first seen, for forgetting the oldest
    };
    using SenderKey = std::tuple<std::string, std::uint16_t, std::uint32_t>;  // ip, port, process id

    Verdict check(const char* datagram, int& len, const std::string& ip, std::uint16_t port);
    // With m_mutex held: whether `counter` of `sender` is new, and notes it.
    bool takeCounter(const SenderKey& sender, std::uint64_t counter);
    void drop(Verdict verdict, const std::string& ip, std::uint16_t port);

    std::atomic<bool> m_keyed{false};
    std::atomic<std::uint64_t> m_counter{0};  // the last counter signed; any sending thread
    mutable std::mutex m_mutex;               // everything below: the host sets keys, senders and the receiver read
    std::vector<Key> m_keys;                  // the first signs
    std::map<SenderKey, Sender> m_senders;
    std::uint64_t m_sendersSeen = 0;
    NetControlNS::struDropCounts m_counts;
    std::set<std::pair<Verdict, std::string>> m_told;  // senders whose drops of a kind were told
};

} // namespace tamo::detail
