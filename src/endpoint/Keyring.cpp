// SPDX-License-Identifier: MIT
#include "endpoint/Keyring.h"

#include "common/LogLine.h"
#include "wire/ByteOrder.h"
#include "wire/DatagramHeader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tamo::detail {

namespace {

constexpr std::size_t kMaxToldSenders = 256;

std::uint64_t wallClockUs()
{
    using namespace std::chrono;
    return std::uint64_t(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace

bool Keyring::setKeys(const std::vector<NetControlNS::struGroupKey>& keys, std::string& why)
{
    if (keys.size() > 2) {
        why = "at most two keys";
        return false;
    }
    std::vector<Key> checked;
    for (const NetControlNS::struGroupKey& key : keys) {
        if (key.id < 1 || key.id > 255) {
            why = "key id " + std::to_string(key.id) + " is outside 1 to 255";
            return false;
        }
        if (key.secret.size() != std::size_t(kGroupKeySize)) {
            why = "key " + std::to_string(key.id) + " is not " + std::to_string(kGroupKeySize) + " bytes";
            return false;
        }
        if (std::any_of(checked.begin(), checked.end(), [&](const Key& k) { return k.id == key.id; })) {
            why = "key id " + std::to_string(key.id) + " twice";
            return false;
        }
        checked.push_back(Key{std::uint8_t(key.id), QByteArray(key.secret.data(), int(key.secret.size()))});
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keys = std::move(checked);
    m_keyed = !m_keys.empty();
    return true;
}

int Keyring::sign(const char* datagram, int len, std::uint16_t ownPort, char* out)
{
    std::memcpy(out, datagram, std::size_t(len));
    if (!m_keyed || len < DatagramHeader::kSize)
        return len;
    Key key;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keys.empty())
            return len;
        key = m_keys.front();
    }
    // Never the same counter twice, and near the wall clock, so that a recording is old after a restart.
    std::uint64_t counter = m_counter.load();
    std::uint64_t next;
    do {
        next = std::max(counter + 1, wallClockUs());
    } while (!m_counter.compare_exchange_weak(counter, next));
    wire::putU16(out + 10, kSignedTag);
    out[len] = static_cast<char>(key.id);
    wire::putU64(out + len + 1, next);
    const Mac mac = computeMac(key.secret, out, len, ownPort, key.id, next);
    std::memcpy(out + len + 9, mac.data(), kMacSize);
    return len + kSignatureSize;
}

void Keyring::rehearseSigning(const char* datagram, int len, std::uint16_t ownPort) const
{
    Key key;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keys.empty())
            return;
        key = m_keys.front();
    }
    (void)computeMac(key.secret, datagram, len, ownPort, key.id, m_counter.load());
}

Keyring::Verdict Keyring::verify(const char* datagram, int& len, const std::string& ip, std::uint16_t port)
{
    const Verdict verdict = check(datagram, len, ip, port);
    if (verdict != Verdict::Accepted)
        drop(verdict, ip, port);
    return verdict;
}

Keyring::Verdict Keyring::check(const char* datagram, int& len, const std::string& ip, std::uint16_t port)
{
    const bool signedOne = len >= DatagramHeader::kSize && wire::getU16(datagram + 10) == kSignedTag;
    if (!m_keyed)
        return signedOne ? Verdict::SignedWithoutKey : Verdict::Accepted;
    if (!signedOne)
        return Verdict::Unsigned;
    const int body = DatagramHeader::kSize + wire::getU16(datagram + 18) + wire::getU16(datagram + 20);
    if (len != body + kSignatureSize)
        return Verdict::BadSignature;
    const std::uint8_t keyId = static_cast<std::uint8_t>(datagram[body]);
    const std::uint64_t counter = wire::getU64(datagram + body + 1);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto key = std::find_if(m_keys.begin(), m_keys.end(), [&](const Key& k) { return k.id == keyId; });
    if (key == m_keys.end())
        return Verdict::UnknownKey;
    const Mac mac = computeMac(key->secret, datagram, body, port, keyId, counter);
    if (!sameMac(mac.data(), datagram + body + 9))
        return Verdict::BadSignature;
    if (!takeCounter(SenderKey{ip, port, wire::getU32(datagram + 4)}, counter))
        return Verdict::Replayed;
    len = body;
    return Verdict::Accepted;
}

bool Keyring::takeCounter(const SenderKey& senderKey, std::uint64_t counter)
{
    const auto it = m_senders.find(senderKey);
    if (it == m_senders.end()) {
        // A sender not seen before: only a counter of about now, so that a recording replayed after a
        // restart of either end is too old.
        const std::uint64_t now = wallClockUs();
        const std::uint64_t distance = counter > now ? counter - now : now - counter;
        if (distance > std::uint64_t(MultiNetControl::kSignatureWindowUs))
            return false;
        if (m_senders.size() >= kMaxSenders) {
            const auto oldest = std::min_element(m_senders.begin(), m_senders.end(), [](const auto& a, const auto& b) {
                return a.second.order < b.second.order;
            });
            m_senders.erase(oldest);
        }
        // Nothing older than the first counter heard: a node that has just started takes no recording
        // of what was sent before it heard the sender (a later one may still come first, reordered).
        m_senders.emplace(senderKey, Sender{counter, {counter}, counter - 1, m_sendersSeen++});
        return true;
    }
    Sender& sender = it->second;
    if (counter <= sender.forgotten || counter + kReorderWindowUs <= sender.highest)
        return false;
    if (counter > sender.highest) {
        sender.seen.push_back(counter);
        sender.highest = counter;
    } else {
        const auto place = std::lower_bound(sender.seen.begin(), sender.seen.end(), counter);
        if (place != sender.seen.end() && *place == counter)
            return false;
        sender.seen.insert(place, counter);
    }
    // Beyond the window a counter is refused by its age; the bound keeps what a flood leaves small.
    while (sender.seen.front() + kReorderWindowUs <= sender.highest || sender.seen.size() > kMaxRememberedCounters) {
        sender.forgotten = std::max(sender.forgotten, sender.seen.front());
        sender.seen.pop_front();
    }
    return true;
}

void Keyring::drop(Verdict verdict, const std::string& ip, std::uint16_t port)
{
    bool tell = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        switch (verdict) {
        case Verdict::Unsigned: ++m_counts.unsignedDatagrams; break;
        case Verdict::UnknownKey: ++m_counts.unknownKey; break;
        case Verdict::BadSignature: ++m_counts.badSignature; break;
        case Verdict::Replayed: ++m_counts.replayed; break;
        case Verdict::SignedWithoutKey: ++m_counts.signedWithoutKey; break;
        case Verdict::Accepted: return;
        }
        if (m_told.size() < kMaxToldSenders)
            tell = m_told.emplace(verdict, ip).second;
    }
    if (!tell)
        return;
    static const char* const kWhat[] = {"", "an unsigned datagram", "a datagram signed with a key it does not hold",
                                        "a datagram whose signature does not verify",
                                        "a replayed or too old datagram", "a signed datagram"};
    const char* const why = verdict == Verdict::SignedWithoutKey ? "this object has no group key"
                                                                 : "this object takes only its group's";
    logLine("MultiNetControl WARING dropped %s from %s:%d: %s; more of the kind from there are only counted\n",
            kWhat[int(verdict)], ip.c_str(), int(port), why);
}

NetControlNS::struDropCounts Keyring::counts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

} // namespace tamo::detail
