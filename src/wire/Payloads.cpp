// SPDX-License-Identifier: MIT
#include "wire/Payloads.h"

#include "wire/ByteOrder.h"

namespace tamo::detail {

Payload encodeDoubles(double first)
{
    Payload p;
    wire::putDouble(p.bytes.data(), first);
    p.size = kOneDoubleSize;
    return p;
}

Payload encodeDoubles(double first, double second)
{
    Payload p;
    wire::putDouble(p.bytes.data(), first);
    wire::putDouble(p.bytes.data() + 8, second);
    p.size = kTwoDoublesSize;
    return p;
}

Payload encodeSeekRecord(const SeekRecord& seek)
{
    Payload p;
    wire::putI64(p.bytes.data(), seek.position);
    p.bytes[8] = seek.flag ? 1 : 0;
    wire::putDouble(p.bytes.data() + 16, seek.value);
    p.size = kSeekRecordSize;
    return p;
}

Payload encodeCapabilities(const Capabilities& capabilities)
{
    Payload p;
    wire::putU16(p.bytes.data(), 1);
    wire::putU16(p.bytes.data() + 2, capabilities.bits);
    p.size = kCapabilitiesSize;
    return p;
}

std::optional<Capabilities> decodeCapabilities(const char* payload, std::size_t len)
{
    if (len < std::size_t(kCapabilitiesSize) || wire::getU16(payload) < 1)
        return std::nullopt;
    return Capabilities{wire::getU16(payload + 2)};
}

std::optional<SeekRecord> decodeSeekRecord(const char* payload, std::size_t len)
{
    if (len < static_cast<std::size_t>(kSeekRecordSize))
        return std::nullopt;
    SeekRecord seek;
    seek.position = wire::getI64(payload);
    seek.flag = payload[8] != 0;
    seek.value = wire::getDouble(payload + 16);
    return seek;
}

Payload encodeAcknowledgement(const Acknowledgement& ack)
{
    Payload p;
    wire::putU16(p.bytes.data(), ack.seq);
    wire::putU16(p.bytes.data() + 2, ack.code);
    p.size = kAcknowledgementSize;
    return p;
}

std::optional<Acknowledgement> decodeAcknowledgement(const char* payload, std::size_t len)
{
    if (len < static_cast<std::size_t>(kAcknowledgementSize))
        return std::nullopt;
    return Acknowledgement{wire::getU16(payload), wire::getU16(payload + 2)};
}

Payload encodeClockSyncStamps(const ClockSyncStamps& stamps)
{
    Payload p;
    for (std::size_t i = 0; i < stamps.slot.size(); ++i)
        wire::putI64(p.bytes.data() + 8 * i, stamps.slot[i]);
    p.size = kClockSyncStampsSize;
    return p;
}

std::optional<ClockSyncStamps> decodeClockSyncStamps(const char* payload, std::size_t len)
{
    if (len < static_cast<std::size_t>(kClockSyncStampsSize))
        return std::nullopt;
    ClockSyncStamps stamps;
    for (std::size_t i = 0; i < stamps.slot.size(); ++i)
        stamps.slot[i] = wire::getI64(payload + 8 * i);
    return stamps;
}

std::optional<double> decodeDouble(const char* payload, std::size_t len, std::size_t offset)
{
    if (len < offset + 8)
        return std::nullopt;
    return wire::getDouble(payload + offset);
}

} // namespace tamo::detail
