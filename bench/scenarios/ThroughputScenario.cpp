// SPDX-License-Identifier: MIT
// Receive throughput: a raw sender on 127.0.0.1 floods one slave (127.0.0.2) with valid start commands;
// callbacks per second over the span from the first to the last callback, and how many of the sent
// commands never reached the host. Baseline: a raw receiver on the same address and port reading with
// recvmmsg.
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/ChildProcess.h"
#include "support/DeliveryRecords.h"
#include "support/PortPicker.h"

namespace {

constexpr int kDrainMs = 500;
constexpr int kCollectTimeoutMs = 60000;
constexpr int kRecvBatch = 64;

struct FloodResult
{
    std::size_t sent = 0;
    std::size_t received = 0;
    double perSecond = 0;

    std::size_t lost() const { return sent > received ? sent - received : 0; }
};

FloodResult flood(ChildProcess& receiver, const std::string& port, int floodMs)
{
    ChildProcess sender("raw-sender", {"--bind-ip", "127.0.0.1", "--to-ip", "127.0.0.2", "--port", port,
                                       "--flood-ms", str(floodMs)});
    waitUntilReady({&receiver, &sender});
    sender.send("go");
    const std::vector<std::string> done = sender.waitFor("actions-done", floodMs + 20000);
    sleepForMs(kDrainMs);
    const Arrivals arrivals = Arrivals::parse(receiver.stopAndCollect(kCollectTimeoutMs), 0);
    sender.stopAndCollect(kCollectTimeoutMs);

    FloodResult result;
    result.sent = done.size() > 1 ? std::stoul(done[1]) : 0;
    result.received = arrivals.count;
    const double spanSeconds = static_cast<double>(arrivals.lastNs - arrivals.firstNs) / 1e9;
    result.perSecond = spanSeconds > 0 ? static_cast<double>(arrivals.count) / spanSeconds : 0;
    return result;
}

QJsonObject toJson(const FloodResult& result)
{
    return QJsonObject{{"sent", static_cast<double>(result.sent)},
                       {"received", static_cast<double>(result.received)},
                       {"lost", static_cast<double>(result.lost())},
                       {"per_second", result.perSecond}};
}

std::string describe(const FloodResult& result)
{
    const double lostShare = result.sent ? 100.0 * static_cast<double>(result.lost()) / static_cast<double>(result.sent) : 0;
    return fixed(result.perSecond / 1000.0) + "k/s, " + fixed(lostShare) + "% of " + str(static_cast<std::int64_t>(result.sent))
           + " lost";
}

} // namespace

QJsonValue runThroughputScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const int floodMs = settings.quick ? 500 : 3000;

    progress("throughput: library slave");
    const std::string libraryPort = str(pickFreeGroupPort());
    ChildProcess slave("library-node",
                       {"--slave", "--ip", "127.0.0.2", "--port", libraryPort, "--master-ip", "127.0.0.1"});
    const FloodResult library = flood(slave, libraryPort, floodMs);

    progress("throughput: raw recvmmsg receiver");
    const std::string rawPort = str(pickFreeGroupPort());
    ChildProcess receiver("raw-receiver", {"--ip", "127.0.0.2", "--port", rawPort, "--batch", str(kRecvBatch)});
    const FloodResult raw = flood(receiver, rawPort, floodMs);

    table.add("receive throughput, 1 slave", "callbacks per second (loss)", describe(library), describe(raw),
              ratioOf(library.perSecond, raw.perSecond));
    return QJsonObject{{"flood_ms", floodMs},
                       {"library", toJson(library)},
                       {"raw", toJson(raw)},
                       {"ratio", ratioJson(library.perSecond, raw.perSecond)}};
}
