// SPDX-License-Identifier: MIT
// Whether the object's sockets are bound: the endpoints record their bind at construction and keep it.
#include "MultiNetControl.h"

#include "control/MultiNetControlPrivate.h"

using namespace tamo::detail;

namespace {

bool endpointBound(const std::unique_ptr<UdpClient>& endpoint)
{
    return endpoint && endpoint->isBound();
}

void appendBindError(std::string& text, const std::unique_ptr<UdpClient>& endpoint, const std::string& ip, int port)
{
    if (!endpoint || endpoint->isBound())
        return;
    if (!text.empty())
        text += "; ";
    text += ip + " port " + std::to_string(port) + ": " + endpoint->bindError();
}

} // namespace

bool MultiNetControl::isListening() const
{
    return endpointBound(m_impl->m_broadcastClient) && endpointBound(m_impl->m_unicastClient);
}

std::string MultiNetControl::errorString() const
{
    std::string text;
    appendBindError(text, m_impl->m_broadcastClient, m_impl->m_localIp, static_cast<int>(m_impl->m_port & 0xFFFF));
    appendBindError(text, m_impl->m_unicastClient, m_impl->m_localIp, 0);
    return text;
}

quint16 MultiNetControl::unicastPort() const
{
    return m_impl->m_unicastClient ? m_impl->m_unicastClient->boundPort() : 0;
}
