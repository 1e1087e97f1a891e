// SPDX-License-Identifier: MIT
#include "control/ControlMessage.h"

ControlMessage::ControlMessage(int type, int first, int second, long long third)
    : msgType(type), arg1(first), arg2(second), arg3(third)
{
}

ControlMessage::ControlMessage(const char* bytes, int len, NetControlNS::struAddress from)
{
    if (len > 0) {
        data.assign(bytes, bytes + len);
        sender = std::move(from);
    }
}
