// SPDX-License-Identifier: MIT
#include "endpoint/KernelReceiptTime.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tamo::detail {

#ifdef Q_OS_LINUX

bool enableKernelReceiptTimes(qintptr fd)
{
    const int on = 1;
    return setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

NextDatagram peekNextDatagram(qintptr fd)
{
    // No payload bytes are copied: only whether a datagram is queued, and its control messages.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) * 4];
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    NextDatagram next;
    if (recvmsg(static_cast<int>(fd), &message, MSG_PEEK | MSG_DONTWAIT) < 0) {
        // A pending socket error is left for the socket layer to report.
        next.queue = errno == EAGAIN || errno == EWOULDBLOCK ? NextDatagram::Queue::Empty : NextDatagram::Queue::Unknown;
        return next;
    }
    next.queue = NextDatagram::Queue::HasDatagram;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        next.receiptNs = static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    }
    return next;
}

std::int64_t systemClockNs()
{
    // Read straight from the kernel, as the receipt time was: a library that warps this process's clocks
    // (a drift simulated from outside) would otherwise make the time since the receipt wrong by the warp,
    // and the stamp with it. The host clock, read through the host, stays whatever the process sees.
    timespec now{};
    syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

#else

bool enableKernelReceiptTimes(qintptr)
{
    return false;
}

NextDatagram peekNextDatagram(qintptr)
{
    return {};
}

std::int64_t systemClockNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

#endif

} // namespace tamo::detail
