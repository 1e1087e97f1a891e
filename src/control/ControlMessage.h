// SPDX-License-Identifier: MIT
// One received datagram with its sender, as queued for the worker thread.
#pragma once

#include "MultiNetControl.h"

#include <vector>

class ControlMessage
{
public:
    // A message without data; TaskExecute's quit message is (-1, 0, 0, 0).
    ControlMessage(int msgType, int arg1, int arg2, long long arg3);
    // A received datagram: copies `len` bytes of `data`; with `len` below 1 both data and sender stay empty.
    ControlMessage(const char* data, int len, NetControlNS::struAddress sender);

    int msgType = 0;         // -1 = quit message, 0 = datagram
    int arg1 = 0;            // carried, read by nobody
    int arg2 = 0;            // carried, read by nobody
    long long arg3 = 0;      // carried, read by nobody
    std::vector<char> data;  // the datagram's bytes
    NetControlNS::struAddress sender;  // where the datagram came from (IP text and port)
};
