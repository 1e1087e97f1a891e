// SPDX-License-Identifier: MIT
// Datagrams of the library's protocol as a raw peer builds and reads them, without the library: the
// 24-byte little-endian header (magic, process id, code, tag, group, layer, seq, payload and user-data
// lengths), then the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::uint16_t kBenchGroupId = 47;

namespace wirebytes {

constexpr int kHeaderSize = 24;
constexpr std::uint16_t kStartCode = 301;
constexpr std::uint16_t kClockSyncRequestCode = 202;
constexpr std::uint16_t kClockSyncReplyCode = 307;
constexpr std::uint16_t kHeartbeatCode = 205;
constexpr std::uint16_t kHeartbeatReplyCode = 206;
constexpr int kClockSyncDatagramSize = kHeaderSize + 32;

std::vector<char> datagram(std::uint16_t code, std::size_t payloadSize);
// A start command whose first value is `index` (the second is 0): what notifySlaveStart sends.
std::vector<char> startCommand(double index);
// The first value of a start command, or -1 when the datagram is too short.
double startIndex(const char* data, std::size_t len);

std::uint16_t code(const char* data, std::size_t len);
void setCode(char* data, std::uint16_t code);
// Clock-sync slot `slot` (0 to 3) of a clock-sync request or reply.
std::int64_t slot(const char* data, int slot);
void setSlot(char* data, int slot, std::int64_t value);

} // namespace wirebytes
