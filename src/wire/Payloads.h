// SPDX-License-Identifier: MIT
// The fixed payloads that follow the header, and where the clock-sync time stamps lie in a datagram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tamo::detail {

constexpr int kOneDoubleSize = 8;
constexpr int kTwoDoublesSize = 16;
constexpr int kSeekRecordSize = 24;
constexpr int kClockSyncStampsSize = 32;
constexpr int kAcknowledgementSize = 4;
constexpr int kMaxPayloadSize = kClockSyncStampsSize;

// A payload as it is built for sending: up to kMaxPayloadSize bytes.
struct Payload
{
    std::array<char, kMaxPayloadSize> bytes{};
    int size = 0;

    const char* data() const { return bytes.data(); }
};

Payload encodeDoubles(double first);
Payload encodeDoubles(double first, double second);

// Payload of a seek: int64 at 0, bool at 8, seven zero bytes, double at 16.
struct SeekRecord
{
    std::int64_t position = 0;
    bool flag = false;
    double value = 0;
};
Payload encodeSeekRecord(const SeekRecord& seek);

// Payload of an acknowledgement (207, 313): the sequence number (uint16 at 0) and the code (uint16 at 2)
// of the datagram it acknowledges.
struct Acknowledgement
{
    std::uint16_t seq = 0;
    std::uint16_t code = 0;
};
Payload encodeAcknowledgement(const Acknowledgement& ack);
std::optional<Acknowledgement> decodeAcknowledgement(const char* payload, std::size_t len);
std::optional<SeekRecord> decodeSeekRecord(const char* payload, std::size_t len);

// What a slave supports, in its partner report (201) when it has an opt-in on: a version (uint16 at 0) and
// bits (uint16 at 2). A partner report without it comes from a slave that says nothing (an older one, or
// one without opt-ins).
constexpr int kCapabilitiesSize = 4;
struct Capabilities
{
    enum Bit : std::uint16_t {
        AcknowledgedDelivery = 1,
        HealthReports = 2,
        Keyed = 4,
    };
    std::uint16_t bits = 0;
};
Payload encodeCapabilities(const Capabilities& capabilities);
std::optional<Capabilities> decodeCapabilities(const char* payload, std::size_t len);

// The four host-clock readings of a clock-sync exchange, in microseconds:
// s0 master receives the request, s1 master sends the reply, s2 slave sends the request, s3 slave receives the reply.
struct ClockSyncStamps
{
    std::array<std::int64_t, 4> slot{};
};
Payload encodeClockSyncStamps(const ClockSyncStamps& stamps);
std::optional<ClockSyncStamps> decodeClockSyncStamps(const char* payload, std::size_t len);

// The double at `offset` of a payload of `len` bytes, when it lies inside.
std::optional<double> decodeDouble(const char* payload, std::size_t len, std::size_t offset);

// Offset, within the whole datagram, of a clock-sync slot; the datagram must be at least
// clockSyncSlotOffset(slot) + 8 bytes long for the slot to be stamped.
constexpr int clockSyncSlotOffset(int slot) { return 24 + 8 * slot; }

} // namespace tamo::detail
