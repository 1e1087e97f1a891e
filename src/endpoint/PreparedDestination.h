// SPDX-License-Identifier: MIT
// A datagram's destination, resolved from its IP text before the send begins, so that nothing is parsed
// or allocated between a send time stamp and the system call that sends.
#pragma once

#include <QHostAddress>

#include <optional>
#include <string>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#endif

namespace tamo::detail {

class PreparedDestination
{
public:
    PreparedDestination(const std::string& ip, int port);

    // For Qt's send path. Where the native form exists it is made from that form when asked, so that a
    // send on the native path never allocates one.
    QHostAddress address() const;
    quint16 port() const { return m_port; }

#ifdef Q_OS_LINUX
    // The IPv4 address for sendto; null when the text is not a dotted IPv4 address.
    const sockaddr_in* native() const { return m_hasNative ? &m_native : nullptr; }
#endif

private:
    std::optional<QHostAddress> m_parsed;  // only where there is no native form
    quint16 m_port;
#ifdef Q_OS_LINUX
    sockaddr_in m_native{};
    bool m_hasNative = false;
#endif
};

} // namespace tamo::detail
