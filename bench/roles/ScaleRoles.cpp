// SPDX-License-Identifier: MIT
// The master-scale scenario's processes.
//   scale-peers      --count K --master-ip IP --port P --duration-ms D: K simulated slaves, each a socket
//                    of its own on 127.1.x.y, sending a clock-sync request every 100 ms and a heartbeat
//                    every 2 s (spread evenly over the period) and counting the answers
//   raw-scale-master --ip IP --port P: the baseline master, a blocking loop that answers the same
//                    requests with the same time stamps and nothing else
#include "roles/Roles.h"

#include "support/BenchClock.h"
#include "support/ChildControl.h"
#include "support/RawSocket.h"
#include "support/Stats.h"

#include <unistd.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kRequestPeriodNs = 100000000;
constexpr int kRoundsPerHeartbeat = 20;  // 2 s in rounds of 100 ms
constexpr int kGraceMs = 500;
constexpr int kEpollTimeoutMs = 50;
constexpr int kReadTimeoutMs = 100;

std::string peerIp(int index)
{
    return "127.1." + std::to_string(index / 200) + "." + std::to_string(index % 200 + 1);
}

void allowOpenFiles(rlim_t needed)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < needed) {
        limit.rlim_cur = std::min(needed, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// What the answer reader has counted; written by the reader thread, read after it is joined.
struct AnswerCounts
{
    std::size_t requestsAnswered = 0;
    std::size_t heartbeatsAnswered = 0;
    std::vector<double> turnaroundUs;  // master's slot 1 minus slot 0
    std::vector<double> roundTripUs;   // peer's receipt minus its send
};

void readAnswers(const std::vector<RawSocket>& sockets, const std::atomic<bool>& stop, AnswerCounts& counts)
{
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, sockets[i].fd(), &event);
    }
    std::vector<epoll_event> ready(256);
    char buffer[256];
    while (!stop) {
        const int n = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), kEpollTimeoutMs);
        for (int e = 0; e < n; ++e) {
            const int fd = sockets[ready[static_cast<std::size_t>(e)].data.u64].fd();
            for (ssize_t len; (len = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
                const std::int64_t nowUs = monotonicUs();
                const std::uint16_t code = wirebytes::code(buffer, static_cast<std::size_t>(len));
                if (code == wirebytes::kHeartbeatReplyCode) {
                    ++counts.heartbeatsAnswered;
                } else if (code == wirebytes::kClockSyncReplyCode && len >= wirebytes::kClockSyncDatagramSize) {
                    ++counts.requestsAnswered;
                    counts.turnaroundUs.push_back(
                        static_cast<double>(wirebytes::slot(buffer, 1) - wirebytes::slot(buffer, 0)));
                    counts.roundTripUs.push_back(static_cast<double>(nowUs - wirebytes::slot(buffer, 2)));
                }
            }
        }
    }
    ::close(epoll);
}

} // namespace

int runScalePeersRole(const Args& args)
{
    const int count = static_cast<int>(args.number("count", 10));
    const std::string masterIp = args.text("master-ip", "127.0.0.1");
    const auto port = static_cast<std::uint16_t>(args.number("port"));
    allowOpenFiles(static_cast<rlim_t>(count) + 64);
    std::vector<RawSocket> sockets;
    sockets.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        sockets.emplace_back();
        sockets.back().bind(peerIp(i), 0);
    }

    ChildControl control(args.text("log"));
    control.start();
    std::atomic<bool> stopReading{false};  // written by the main thread, read by the answer reader
    AnswerCounts counts;
    std::thread reader(readAnswers, std::cref(sockets), std::cref(stopReading), std::ref(counts));

    std::size_t requestsSent = 0;
    std::size_t heartbeatsSent = 0;
    if (control.waitForGo()) {
        std::vector<char> request = wirebytes::datagram(wirebytes::kClockSyncRequestCode, 32);
        const std::vector<char> heartbeat = wirebytes::datagram(wirebytes::kHeartbeatCode, 0);
        const std::int64_t tickNs = kRequestPeriodNs / count;
        const std::int64_t startNs = monotonicNs();
        const std::int64_t endNs = startNs + args.number("duration-ms") * 1000000;
        for (std::int64_t tick = 0;; ++tick) {
            const std::int64_t dueNs = startNs + tick * tickNs;
            if (dueNs >= endNs || control.stopRequested())
                break;
            sleepUntilNs(dueNs);
            const auto peer = static_cast<std::size_t>(tick % count);
            const std::int64_t round = tick / count;
            wirebytes::setSlot(request.data(), 2, monotonicUs());
            wirebytes::setSlot(request.data(), 3, tick);
            if (sockets[peer].sendTo(request.data(), request.size(), masterIp, port) > 0)
                ++requestsSent;
            if (round % kRoundsPerHeartbeat == static_cast<std::int64_t>(peer) % kRoundsPerHeartbeat
                && sockets[peer].sendTo(heartbeat.data(), heartbeat.size(), masterIp, port) > 0)
                ++heartbeatsSent;
        }
        control.send("actions-done");
        sleepForMs(kGraceMs);
    }
    stopReading = true;
    reader.join();
    control.waitForStop();
    control.send("requests " + std::to_string(requestsSent) + " " + std::to_string(counts.requestsAnswered));
    control.send("heartbeats " + std::to_string(heartbeatsSent) + " " + std::to_string(counts.heartbeatsAnswered));
    control.send("turnaround " + formatSummary(summarize(counts.turnaroundUs)));
    control.send("roundtrip " + formatSummary(summarize(counts.roundTripUs)));
    control.send("done");
    return 0;
}

int runRawScaleMasterRole(const Args& args)
{
    RawSocket socket;
    socket.bind(args.text("ip", "127.0.0.1"), static_cast<std::uint16_t>(args.number("port")));
    socket.setReceiveTimeoutMs(kReadTimeoutMs);
    ChildControl control(args.text("log"));
    control.start();
    char buffer[2048];
    while (!control.stopRequested()) {
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t len = recvfrom(socket.fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (len <= 0)
            continue;
        const std::int64_t receivedUs = monotonicUs();
        const std::uint16_t code = wirebytes::code(buffer, static_cast<std::size_t>(len));
        if (code == wirebytes::kClockSyncRequestCode && len >= wirebytes::kClockSyncDatagramSize) {
            wirebytes::setCode(buffer, wirebytes::kClockSyncReplyCode);
            wirebytes::setSlot(buffer, 0, receivedUs);
            wirebytes::setSlot(buffer, 1, monotonicUs());
        } else if (code == wirebytes::kHeartbeatCode) {
            wirebytes::setCode(buffer, wirebytes::kHeartbeatReplyCode);
        } else {
            continue;
        }
        sendto(socket.fd(), buffer, static_cast<std::size_t>(len), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
    control.send("done");
    return 0;
}
