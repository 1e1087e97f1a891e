// SPDX-License-Identifier: MIT
#include "wire/DatagramCodec.h"

#include "wire/MessageCode.h"

#include <cstring>

namespace tamo::detail {

int encodeDatagram(const DatagramHeader& header, const void* payload, const char* userData, char* out,
                   int capacity)
{
    const int length = header.datagramLength();
    if (length > capacity)
        return -1;
    header.writeTo(out);
    char* body = out + DatagramHeader::kSize;
    if (payload)
        std::memcpy(body, payload, header.dataLen);
    else
        std::memset(body, 0, header.dataLen);
    char* user = body + header.dataLen;
    if (userData)
        std::memcpy(user, userData, header.userDataLen);
    else
        std::memset(user, 0, header.userDataLen);
    return length;
}

std::optional<DecodedDatagram> decodeDatagram(const char* data, std::size_t len)
{
    const std::optional<DatagramHeader> header = DatagramHeader::read(data, len);
    if (!header || header->magic != DatagramHeader::kMagic)
        return std::nullopt;
    // Both lengths are 16-bit, so their sum with the header cannot overflow an int.
    if (len < static_cast<std::size_t>(header->datagramLength()))
        return std::nullopt;
    if (header->dataLen < requiredPayloadSize(header->code))
        return std::nullopt;
    return DecodedDatagram{*header};
}

} // namespace tamo::detail
