// SPDX-License-Identifier: MIT
#include "endpoint/PreparedDestination.h"

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#endif

namespace tamo::detail {

PreparedDestination::PreparedDestination(const std::string& ip, int port) : m_port(static_cast<quint16>(port))
{
#ifdef Q_OS_LINUX
    m_native.sin_family = AF_INET;
    m_native.sin_port = htons(m_port);
    m_hasNative = inet_pton(AF_INET, ip.c_str(), &m_native.sin_addr) == 1;
    if (m_hasNative)
        return;
#endif
    m_parsed.emplace(QString::fromLatin1(ip.c_str()));
}

QHostAddress PreparedDestination::address() const
{
#ifdef Q_OS_LINUX
    if (m_hasNative)
        return QHostAddress(ntohl(m_native.sin_addr.s_addr));
#endif
    return *m_parsed;
}

} // namespace tamo::detail
