// SPDX-License-Identifier: MIT
// SHA-256 whose running state can be copied. A keyed group's MAC hashes the same key block in front of
// every datagram; with the state after that block kept, each datagram costs its own blocks only, and
// nothing is allocated on the way.
#pragma once

#include <array>
#include <cstdint>

namespace tamo::detail {

class Sha256
{
public:
    static constexpr int kBlockSize = 64;
    static constexpr int kDigestSize = 32;
    using Digest = std::array<unsigned char, kDigestSize>;

    void add(const void* data, std::size_t len);
    Digest finish();  // the digest of what was added; the state is spent

private:
    void compress(const unsigned char* block);

    std::array<std::uint32_t, 8> m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, kBlockSize> m_pending{};
    std::size_t m_pendingLen = 0;
    std::uint64_t m_totalLen = 0;
};

} // namespace tamo::detail
