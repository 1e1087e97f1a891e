// SPDX-License-Identifier: MIT
#include "wire/DatagramHeader.h"

#include "wire/ByteOrder.h"

namespace tamo::detail {

void DatagramHeader::writeTo(char* out) const
{
    wire::putU32(out + 0, magic);
    wire::putU32(out + 4, processId);
    wire::putU16(out + 8, code);
    wire::putU16(out + 10, tag);
    wire::putU16(out + 12, groupId);
    wire::putU16(out + 14, static_cast<std::uint16_t>(layerId));
    wire::putU16(out + 16, seq);
    wire::putU16(out + 18, dataLen);
    wire::putU16(out + 20, userDataLen);
    wire::putU16(out + 22, padding);
}

std::optional<DatagramHeader> DatagramHeader::read(const char* in, std::size_t len)
{
    if (len < static_cast<std::size_t>(kSize))
        return std::nullopt;
    DatagramHeader h;
    h.magic = wire::getU32(in + 0);
    h.processId = wire::getU32(in + 4);
    h.code = wire::getU16(in + 8);
    h.tag = wire::getU16(in + 10);
    h.groupId = wire::getU16(in + 12);
    h.layerId = static_cast<std::int16_t>(wire::getU16(in + 14));
    h.seq = wire::getU16(in + 16);
    h.dataLen = wire::getU16(in + 18);
    h.userDataLen = wire::getU16(in + 20);
    h.padding = wire::getU16(in + 22);
    return h;
}

std::optional<std::uint16_t> peekMessageCode(const char* data, std::size_t len)
{
    if (len < static_cast<std::size_t>(DatagramHeader::kCodeOffset + 2))
        return std::nullopt;
    return wire::getU16(data + DatagramHeader::kCodeOffset);
}

} // namespace tamo::detail
