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

#include <QByteArray>

#include <array>
#include <cstdint>

namespace tamo::detail {

constexpr std::uint16_t kSignedTag = 0x0200;
constexpr int kMacSize = 16;
constexpr int kSignatureSize = 1 + 8 + kMacSize;
constexpr int kGroupKeySize = 32;

using Mac = std::array<char, kMacSize>;

Mac computeMac(const QByteArray& secret, const char* datagram, int datagramLen, std::uint16_t senderPort,
               std::uint8_t keyId, std::uint64_t counter);
// Compares two MACs in a time that does not depend on where they differ.
bool sameMac(const char* a, const char* b);

} // namespace tamo::detail
