// SPDX-License-Identifier: MIT
// The baselines of the delivery scenarios: plain sockets doing what the library does, without it.
//   raw-sender   --bind-ip IP --to-ip IP --port P, and either --commands C --interval-us I (paced,
//                numbered start commands) or --flood-ms D (as many start commands as it can for D ms)
//   raw-receiver --ip IP --port P [--share] [--batch B] [--commands C]: blocking reads of up to B
//                datagrams at a time (recvmmsg), recording the arrival of each numbered command
#include "roles/Roles.h"

#include "support/BenchClock.h"
#include "support/ChildControl.h"
#include "support/DeliveryRecords.h"
#include "support/RawSocket.h"

#include <sys/socket.h>

#include <cerrno>
#include <vector>

namespace {

constexpr int kReadTimeoutMs = 100;
constexpr std::size_t kDatagramCapacity = 2048;

} // namespace

int runRawSenderRole(const Args& args)
{
    RawSocket socket;
    socket.bind(args.text("bind-ip", "127.0.0.1"), 0);
    socket.allowBroadcast();
    const std::string to = args.text("to-ip", "255.255.255.255");
    const auto port = static_cast<std::uint16_t>(args.number("port"));

    ChildControl control(args.text("log"));
    control.start();
    Sends sends(static_cast<std::size_t>(args.number("commands")));
    if (control.waitForGo()) {
        if (args.has("flood-ms")) {
            const std::int64_t endNs = monotonicNs() + args.number("flood-ms") * 1000000;
            std::size_t sent = 0;
            for (double index = 0; monotonicNs() < endNs; ++index) {
                const std::vector<char> bytes = wirebytes::startCommand(index);
                if (socket.sendTo(bytes.data(), bytes.size(), to, port) > 0)
                    ++sent;
            }
            control.send("actions-done " + std::to_string(sent));
        } else {
            const std::int64_t intervalNs = args.number("interval-us") * 1000;
            const std::int64_t firstNs = monotonicNs();
            for (std::size_t i = 0; i < sends.beforeNs.size() && !control.stopRequested(); ++i) {
                sleepUntilNs(firstNs + static_cast<std::int64_t>(i) * intervalNs);
                const std::vector<char> bytes = wirebytes::startCommand(static_cast<double>(i));
                sends.time(i, [&] { socket.sendTo(bytes.data(), bytes.size(), to, port); });
            }
            control.send("actions-done");
        }
    }
    control.waitForStop();
    sends.report(control);
    control.send("done");
    return 0;
}

int runRawReceiverRole(const Args& args)
{
    RawSocket socket;
    socket.bind(args.text("ip", "0.0.0.0"), static_cast<std::uint16_t>(args.number("port")), args.has("share"));
    socket.setReceiveTimeoutMs(kReadTimeoutMs);
    const auto batch = static_cast<unsigned>(args.number("batch", 1));

    std::vector<std::vector<char>> buffers(batch, std::vector<char>(kDatagramCapacity));
    std::vector<iovec> vectors(batch);
    std::vector<mmsghdr> messages(batch);
    for (unsigned i = 0; i < batch; ++i) {
        vectors[i] = {buffers[i].data(), buffers[i].size()};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    ChildControl control(args.text("log"));
    Arrivals arrivals(static_cast<std::size_t>(args.number("commands")));
    control.start();
    while (!control.stopRequested()) {
        // Blocks until the first datagram, then takes whatever else is already queued, up to the batch.
        const int received = recvmmsg(socket.fd(), messages.data(), batch, MSG_WAITFORONE, nullptr);
        const std::int64_t now = monotonicNs();
        for (int i = 0; i < received; ++i)
            arrivals.record(wirebytes::startIndex(buffers[i].data(), messages[i].msg_len), now);
    }
    arrivals.report(control);
    control.send("done");
    return 0;
}
