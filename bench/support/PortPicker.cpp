// SPDX-License-Identifier: MIT
#include "support/PortPicker.h"

#include "support/RawSocket.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace {

constexpr std::uint16_t kFirstPort = 47000;
constexpr std::uint16_t kPortCount = 1000;
constexpr int kAttempts = 200;

} // namespace

std::uint16_t pickFreeGroupPort()
{
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> offset(0, kPortCount - 1);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const auto port = static_cast<std::uint16_t>(kFirstPort + offset(random));
        try {
            // Without address sharing, a wildcard bind fails while any socket holds the port.
            RawSocket probe;
            probe.bind("0.0.0.0", port);
            return port;
        } catch (const std::system_error&) {
        }
    }
    throw std::runtime_error("no free port in 47000-47999");
}
