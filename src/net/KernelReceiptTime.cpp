// SPDX-License-Identifier: MIT
#include "net/KernelReceiptTime.h"

#include <chrono>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <time.h>
#endif

namespace tamo::detail {

#ifdef Q_OS_LINUX

bool enableKernelReceiptTimes(qintptr fd)
{
    const int on = 1;
    return setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

std::optional<std::int64_t> peekKernelReceiptTimeNs(qintptr fd)
{
    // No payload bytes are copied: only the control message is wanted.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (recvmsg(static_cast<int>(fd), &message, MSG_PEEK | MSG_DONTWAIT) < 0)
        return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        return static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    }
    return std::nullopt;
}

std::int64_t systemClockNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

#else

bool enableKernelReceiptTimes(qintptr)
{
    return false;
}

std::optional<std::int64_t> peekKernelReceiptTimeNs(qintptr)
{
    return std::nullopt;
}

std::int64_t systemClockNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

#endif

} // namespace tamo::detail
