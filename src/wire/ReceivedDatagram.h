// SPDX-License-Identifier: MIT
// A received datagram that passed the completeness test, as the slave and master handlers see it.
#pragma once

#include "MultiNetControl.h"
#include "wire/DatagramCodec.h"

namespace tamo::detail {

struct ReceivedDatagram
{
    char* bytes;                       // the queued message's own copy; valid while it is handled
    DecodedDatagram decoded;
    NetControlNS::struAddress sender;  // source ip and port; processId from the header

    std::uint16_t code() const { return decoded.header.code; }
    int seq() const { return decoded.header.seq; }
    int layerId() const { return decoded.header.layerId; }  // sign-extended: 0xFFFF is -1
    const char* payload() const { return bytes + decoded.payloadOffset(); }
    std::size_t payloadLength() const { return static_cast<std::size_t>(decoded.payloadLength()); }
    // Null when the master attached no user data.
    char* userData() const { return decoded.userDataLength() > 0 ? bytes + decoded.userDataOffset() : nullptr; }
    int userDataLength() const { return decoded.userDataLength(); }
};

} // namespace tamo::detail
