// SPDX-License-Identifier: MIT
// Little-endian reading and writing, byte by byte, whatever the host's byte order or alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace tamo::detail {

namespace wire {

inline void putU16(char* out, std::uint16_t v)
{
    out[0] = static_cast<char>(v & 0xFF);
    out[1] = static_cast<char>(v >> 8);
}

inline void putU32(char* out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void putU64(char* out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void putI64(char* out, std::int64_t v) { putU64(out, static_cast<std::uint64_t>(v)); }

inline void putDouble(char* out, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putU64(out, bits);
}

inline std::uint16_t getU16(const char* in)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(in[0])
                                      | (static_cast<unsigned char>(in[1]) << 8));
}

inline std::uint32_t getU32(const char* in)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(in[i]);
    return v;
}

inline std::uint64_t getU64(const char* in)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(in[i]);
    return v;
}

inline std::int64_t getI64(const char* in) { return static_cast<std::int64_t>(getU64(in)); }

inline double getDouble(const char* in)
{
    const std::uint64_t bits = getU64(in);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace wire

} // namespace tamo::detail
