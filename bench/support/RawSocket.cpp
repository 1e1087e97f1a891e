// SPDX-License-Identifier: MIT
#include "support/RawSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

sockaddr_in toSockaddr(const std::string& ip, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1)
        throw std::system_error(EINVAL, std::generic_category(), "not an IPv4 address: " + ip);
    return address;
}

void setIntOption(int fd, int level, int name, int value, const char* what)
{
    if (setsockopt(fd, level, name, &value, sizeof value) != 0)
        throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

RawSocket::RawSocket() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
}

RawSocket::~RawSocket()
{
    if (m_fd >= 0)
        close(m_fd);
}

RawSocket::RawSocket(RawSocket&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

void RawSocket::bind(const std::string& ip, std::uint16_t port, bool shareAddress)
{
    if (shareAddress)
        setIntOption(m_fd, SOL_SOCKET, SO_REUSEADDR, 1, "SO_REUSEADDR");
    const sockaddr_in address = toSockaddr(ip, port);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::system_error(errno, std::generic_category(), "bind " + ip + ":" + std::to_string(port));
}

void RawSocket::allowBroadcast()
{
    setIntOption(m_fd, SOL_SOCKET, SO_BROADCAST, 1, "SO_BROADCAST");
}

void RawSocket::setReceiveTimeoutMs(int ms)
{
    timeval timeout{};
    timeout.tv_sec = ms / 1000;
    timeout.tv_usec = (ms % 1000) * 1000;
    if (setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        throw std::system_error(errno, std::generic_category(), "SO_RCVTIMEO");
}

ssize_t RawSocket::sendTo(const void* data, std::size_t len, const std::string& ip, std::uint16_t port) const
{
    const sockaddr_in address = toSockaddr(ip, port);
    return sendto(m_fd, data, len, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}
