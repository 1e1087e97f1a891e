// SPDX-License-Identifier: MIT
#include "support/WireBytes.h"

#include <cstring>

namespace wirebytes {
namespace {

constexpr std::uint32_t kMagic = 0x55CC55CC;
constexpr std::uint16_t kTag = 0x0100;
constexpr std::uint32_t kPeerProcessId = 4747;

template <typename T>
void putLittleEndian(char* out, T value)
{
    auto bits = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        out[i] = static_cast<char>(bits & 0xFF);
}

template <typename T>
T getLittleEndian(const char* in)
{
    std::uint64_t bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = (bits << 8) | static_cast<unsigned char>(in[i]);
    return static_cast<T>(bits);
}

int slotOffset(int slot)
{
    return kHeaderSize + 8 * slot;
}

} // namespace

std::vector<char> datagram(std::uint16_t code, std::size_t payloadSize)
{
    std::vector<char> bytes(kHeaderSize + payloadSize, 0);
    putLittleEndian<std::uint32_t>(&bytes[0], kMagic);
    putLittleEndian<std::uint32_t>(&bytes[4], kPeerProcessId);
    putLittleEndian<std::uint16_t>(&bytes[8], code);
    putLittleEndian<std::uint16_t>(&bytes[10], kTag);
    putLittleEndian<std::uint16_t>(&bytes[12], kBenchGroupId);
    putLittleEndian<std::int16_t>(&bytes[14], -1);
    putLittleEndian<std::uint16_t>(&bytes[18], static_cast<std::uint16_t>(payloadSize));
    return bytes;
}

std::vector<char> startCommand(double index)
{
    std::vector<char> bytes = datagram(kStartCode, 16);
    putLittleEndian<std::int16_t>(&bytes[14], 0);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &index, sizeof bits);
    putLittleEndian<std::uint64_t>(&bytes[kHeaderSize], bits);
    return bytes;
}

double startIndex(const char* data, std::size_t len)
{
    if (len < static_cast<std::size_t>(kHeaderSize) + 8)
        return -1;
    const auto bits = getLittleEndian<std::uint64_t>(data + kHeaderSize);
    double index = 0;
    std::memcpy(&index, &bits, sizeof index);
    return index;
}

std::uint16_t code(const char* data, std::size_t len)
{
    return len < 10 ? 0 : getLittleEndian<std::uint16_t>(data + 8);
}

void setCode(char* data, std::uint16_t code)
{
    putLittleEndian<std::uint16_t>(data + 8, code);
}

std::int64_t slot(const char* data, int slot)
{
    return getLittleEndian<std::int64_t>(data + slotOffset(slot));
}

void setSlot(char* data, int slot, std::int64_t value)
{
    putLittleEndian<std::int64_t>(data + slotOffset(slot), value);
}

} // namespace wirebytes
