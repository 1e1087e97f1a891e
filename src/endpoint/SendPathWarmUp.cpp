// SPDX-License-Identifier: MIT
#include "endpoint/SendPathWarmUp.h"

#include "endpoint/PreparedDestination.h"

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace tamo::detail {

#ifdef Q_OS_LINUX

namespace {

// The kernel's flag; not every C library names it.
constexpr int kProbeOnly = 0x10;

// An administratively scoped group: with a time to live of 0 its datagrams never leave the host anyway.
sockaddr_in rehearsalGroup()
{
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(9);                   // discard
    group.sin_addr.s_addr = htonl(0xEFFFFE09u);  // 239.255.254.9
    return group;
}

} // namespace

void SendPathWarmUp::prepare(qintptr fd)
{
    const int socket = static_cast<int>(fd);
    sockaddr_in bound{};
    socklen_t boundLen = sizeof bound;
    if (socket < 0 || getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &boundLen) != 0
        || bound.sin_family != AF_INET || bound.sin_addr.s_addr == htonl(INADDR_ANY))
        return;
    // The interface must be the bound address's: without it the kernel picks the default route's device.
    const unsigned char noTimeToLive = 0;
    const unsigned char noLoopback = 0;
    m_rehearses = setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &noTimeToLive, sizeof noTimeToLive) == 0
                  && setsockopt(socket, IPPROTO_IP, IP_MULTICAST_LOOP, &noLoopback, sizeof noLoopback) == 0
                  && setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &bound.sin_addr, sizeof bound.sin_addr) == 0;
}

void SendPathWarmUp::warmUp(qintptr fd, const PreparedDestination& to, const char* data, int len, std::int64_t nowNs)
{
    const int socket = static_cast<int>(fd);
    const bool cold = nowNs - m_lastStampedSendNs >= kWarmForNs;
    m_lastStampedSendNs = nowNs;
    if (socket < 0 || !to.native() || !cold)
        return;
    // With zero bytes, MSG_PROBE|MSG_CONFIRM returns once the route is found; MSG_PROBE alone would send
    // an empty datagram.
    ::sendto(socket, nullptr, 0, kProbeOnly | MSG_CONFIRM, reinterpret_cast<const sockaddr*>(to.native()),
             sizeof(sockaddr_in));
    if (!m_rehearses)
        return;
    static const sockaddr_in kGroup = rehearsalGroup();
    ::sendto(socket, data, static_cast<std::size_t>(len), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&kGroup),
             sizeof kGroup);
}

#else

void SendPathWarmUp::prepare(qintptr) {}

void SendPathWarmUp::warmUp(qintptr, const PreparedDestination&, const char*, int, std::int64_t) {}

#endif

} // namespace tamo::detail
