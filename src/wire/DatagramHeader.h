// SPDX-License-Identifier: MIT
// The 24-byte header at the start of every datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tamo::detail {

struct DatagramHeader
{
    static constexpr int kSize = 24;
    static constexpr std::uint32_t kMagic = 0x55CC55CC;
    static constexpr std::uint16_t kTag = 0x0100;
    static constexpr int kCodeOffset = 8;

    std::uint32_t magic = kMagic;
    std::uint32_t processId = 0;
    std::uint16_t code = 0;
    std::uint16_t tag = kTag;      // constant; no receiver reads it
    std::uint16_t groupId = 0;     // low 16 bits of the sender's group id
    std::int16_t layerId = -1;
    std::uint16_t seq = 0;
    std::uint16_t dataLen = 0;     // payload bytes after the header
    std::uint16_t userDataLen = 0; // user-data bytes after the payload
    std::uint16_t padding = 0;

    // Length of the whole datagram that this header describes.
    int datagramLength() const { return kSize + dataLen + userDataLen; }

    void writeTo(char* out) const;
    // Reads a header from `len` bytes; nothing when they are fewer than kSize. The magic is not checked.
    static std::optional<DatagramHeader> read(const char* in, std::size_t len);
};

// The message code at bytes 8-9 of a datagram, when the datagram is long enough to hold it.
std::optional<std::uint16_t> peekMessageCode(const char* data, std::size_t len);

} // namespace tamo::detail
