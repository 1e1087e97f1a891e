// SPDX-License-Identifier: MIT
// A plain blocking IPv4 UDP socket of the operating system, for the baselines and the simulated peers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

class RawSocket
{
public:
    // Throws std::system_error when no socket can be made.
    RawSocket();
    ~RawSocket();

    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    RawSocket(RawSocket&& other) noexcept;

    // Throws std::system_error naming the address when the bind fails.
    void bind(const std::string& ip, std::uint16_t port, bool shareAddress = false);
    void allowBroadcast();
    // A blocking read gives up after `ms`, so that its loop can look at a stop flag.
    void setReceiveTimeoutMs(int ms);

    ssize_t sendTo(const void* data, std::size_t len, const std::string& ip, std::uint16_t port) const;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};
