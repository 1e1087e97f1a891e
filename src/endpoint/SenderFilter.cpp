// SPDX-License-Identifier: MIT
#include "endpoint/SenderFilter.h"

#include <iterator>

#ifdef Q_OS_LINUX
#include <linux/filter.h>
#include <sys/socket.h>
#endif

namespace tamo::detail {

#ifdef Q_OS_LINUX

bool filterSender(qintptr fd, const std::optional<DroppedSender>& sender)
{
    if (fd < 0)
        return false;
    if (!sender) {
        int unused = 0;
        return ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_DETACH_FILTER, &unused, sizeof unused) == 0;
    }
    // On a UDP socket the filter sees the datagram from its UDP header on; the IP header lies before it.
    constexpr quint32 kDrop = 0;
    constexpr quint32 kAccept = 0xFFFFFFFFu;
    sock_filter anyAddress[] = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 0),                    // the UDP source port
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sender->port, 0, 1),  // another port: accept
        BPF_STMT(BPF_RET | BPF_K, kDrop),
        BPF_STMT(BPF_RET | BPF_K, kAccept),
    };
    sock_filter oneAddress[] = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sender->port, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<quint32>(SKF_NET_OFF + 12)),  // the IPv4 source address
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sender->ipv4.value_or(0), 0, 1),        // another address: accept
        BPF_STMT(BPF_RET | BPF_K, kDrop),
        BPF_STMT(BPF_RET | BPF_K, kAccept),
    };
    sock_fprog program = sender->ipv4 ? sock_fprog{static_cast<unsigned short>(std::size(oneAddress)), oneAddress}
                                      : sock_fprog{static_cast<unsigned short>(std::size(anyAddress)), anyAddress};
    return ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

#else

bool filterSender(qintptr, const std::optional<DroppedSender>&)
{
    return false;
}

#endif

} // namespace tamo::detail
