// SPDX-License-Identifier: MIT
#include "endpoint/SendPathWarmUp.h"

#include "endpoint/PreparedDestination.h"

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace tamo::detail {

#ifdef Q_OS_LINUX

namespace {
// The kernel's flag; not every C library names it.
constexpr int kProbeOnly = 0x10;
} // namespace

void warmUpSendPath(qintptr fd, const PreparedDestination& to)
{
    // With zero bytes, MSG_PROBE|MSG_CONFIRM returns once the route is found; MSG_PROBE alone would send
    // an empty datagram.
    if (fd >= 0 && to.native())
        ::sendto(static_cast<int>(fd), nullptr, 0, kProbeOnly | MSG_CONFIRM, reinterpret_cast<const sockaddr*>(to.native()),
                 sizeof(sockaddr_in));
}

#else

void warmUpSendPath(qintptr, const PreparedDestination&) {}

#endif

} // namespace tamo::detail
