// SPDX-License-Identifier: MIT
// The signature of a keyed group's datagram. It follows the user data, outside both lengths of the header,
// whose tag says it is there:
//
//   the datagram (header with tag kSignedTag, payload, user data) | u8 key id | u64 counter | 16-byte MAC
//
// The MAC is HMAC-SHA256, cut to 16 bytes, over the datagram, the sender's UDP port (u16), the key id and
// the counter: so a copy sent from another port, or with another counter, does not verify. The counter
// never repeats for its sender and follows its wall clock (see Keyring).
#pragma once

#include "wire/Sha256.h"

#include <QByteArray>

#include <array>
#include <cstdint>

namespace tamo::detail {

constexpr std::uint16_t kSignedTag = 0x0200;
constexpr int kMacSize = 16;
constexpr int kSignatureSize = 1 + 8 + kMacSize;
constexpr int kGroupKeySize = 32;

using Mac = std::array<char, kMacSize>;

// A key made ready for HMAC: the hash states after its inner and its outer block, so that a datagram's
// MAC hashes only the datagram and one block of the outer hash.
class MacKey
{
public:
    MacKey(const QByteArray& secret);  // implicit: a key's bytes (at most a block) are all it takes
    Sha256 inner() const { return m_inner; }
    Sha256 outer() const { return m_outer; }

private:
    Sha256 m_inner;
    Sha256 m_outer;
};

Mac computeMac(const MacKey& key, const char* datagram, int datagramLen, std::uint16_t senderPort,
               std::uint8_t keyId, std::uint64_t counter);
// Compares two MACs in a time that does not depend on where they differ.
bool sameMac(const char* a, const char* b);

} // namespace tamo::detail
