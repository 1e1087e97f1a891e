// SPDX-License-Identifier: MIT
// The library's datagram endpoint: one local address, one receive callback.
#pragma once

#include "MultiNetControl.h"

#include <functional>

namespace tamo::detail {

// Receives a pointer to the bytes (valid during the call only), their count (at least 1) and the sender.
using RecvCallback = std::function<void(const char*, int, NetControlNS::struAddress)>;

class SockBase
{
public:
    explicit SockBase(NetControlNS::struAddress localAddress);
    virtual ~SockBase();

    SockBase(const SockBase&) = delete;
    SockBase& operator=(const SockBase&) = delete;

    // Sends `len` bytes of `data` as one datagram; may first write a time stamp into `data`.
    // Returns the bytes written, or -1.
    virtual int sendData(char* data, int len, NetControlNS::struAddress dest, bool broadcast) = 0;
    virtual bool init(NetControlNS::slaveControlCbk* callbacks) = 0;
    virtual void close() = 0;
    virtual bool setRecvCallback(RecvCallback cb) = 0;

protected:
    RecvCallback m_recvCallback;           // set before reception starts, then read on the socket's thread
    NetControlNS::struAddress m_localAddress;  // only ip and port are used
};

} // namespace tamo::detail
