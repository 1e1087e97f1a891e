// SPDX-License-Identifier: MIT
// Building a whole datagram into a buffer, and taking a received one apart, without sockets.
#pragma once

#include "wire/DatagramHeader.h"

#include <cstddef>
#include <optional>

namespace tamo::detail {

// Writes `header`, then header.dataLen bytes of `payload`, then header.userDataLen bytes of `userData`.
// A null `payload` or `userData` leaves zero bytes in its place. Returns the datagram's length, or -1
// (nothing written) when it does not fit in `capacity` bytes.
int encodeDatagram(const DatagramHeader& header, const void* payload, const char* userData, char* out,
                   int capacity);

// A datagram that has passed the completeness test: offsets are from the start of the datagram.
struct DecodedDatagram
{
    DatagramHeader header;

    int payloadOffset() const { return DatagramHeader::kSize; }
    int payloadLength() const { return header.dataLen; }
    int userDataOffset() const { return DatagramHeader::kSize + header.dataLen; }
    int userDataLength() const { return header.userDataLen; }
};

// The completeness test of a received datagram: at least a header, the magic, a length that covers the
// payload and the user data that the header announces, and a payload as long as the code needs. Bytes
// after the user data are ignored. Nothing when the test fails.
std::optional<DecodedDatagram> decodeDatagram(const char* data, std::size_t len);

} // namespace tamo::detail
