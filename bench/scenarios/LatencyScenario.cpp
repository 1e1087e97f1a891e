// SPDX-License-Identifier: MIT
// Delivery latency, fan-out: a master and N slaves as processes of their own; each command's time from
// the master's notifySlaveStart call to each slave's callback. Baseline: a raw socket on 127.0.0.1
// broadcasting the same datagrams to N raw receivers (wildcard bind, blocking read).
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/ChildProcess.h"
#include "support/DeliveryRecords.h"
#include "support/PortPicker.h"

#include <QJsonArray>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

constexpr int kSlaveCounts[] = {1, 4, 16};
constexpr std::int64_t kIntervalUs = 2000;
constexpr int kDrainMs = 300;
constexpr int kCollectTimeoutMs = 20000;

struct FanoutResult
{
    Summary latencyUs;   // every (command, receiver) pair that arrived
    Summary skewUs;      // last minus first receiver, over commands that reached every receiver
    Summary sendCallUs;  // how long the sending call took
    std::size_t lost = 0;
};

FanoutResult measure(const Sends& sends, const std::vector<Arrivals>& receivers)
{
    FanoutResult result;
    std::vector<double> latencies;
    std::vector<double> skews;
    std::vector<double> sendCalls;
    for (std::size_t i = 0; i < sends.beforeNs.size(); ++i) {
        if (sends.beforeNs[i] < 0)
            continue;
        sendCalls.push_back(static_cast<double>(sends.afterNs[i] - sends.beforeNs[i]) / 1000.0);
        std::int64_t first = INT64_MAX;
        std::int64_t last = INT64_MIN;
        std::size_t reached = 0;
        for (const Arrivals& receiver : receivers) {
            const std::int64_t at = receiver.timeNs[i];
            if (at < 0) {
                ++result.lost;
                continue;
            }
            ++reached;
            latencies.push_back(static_cast<double>(at - sends.beforeNs[i]) / 1000.0);
            first = std::min(first, at);
            last = std::max(last, at);
        }
        if (reached == receivers.size())
            skews.push_back(static_cast<double>(last - first) / 1000.0);
    }
    result.latencyUs = summarize(latencies);
    result.skewUs = summarize(skews);
    result.sendCallUs = summarize(sendCalls);
    return result;
}

FanoutResult runFanout(ChildProcess& sender, const std::vector<std::unique_ptr<ChildProcess>>& receivers,
                       std::size_t commands)
{
    std::vector<ChildProcess*> all{&sender};
    for (const auto& receiver : receivers)
        all.push_back(receiver.get());
    waitUntilReady(all);
    sender.send("go");
    sender.waitFor("actions-done", static_cast<int>(static_cast<std::int64_t>(commands) * kIntervalUs / 1000) + 20000);
    sleepForMs(kDrainMs);
    const Sends sends = Sends::parse(sender.stopAndCollect(kCollectTimeoutMs), commands);
    std::vector<Arrivals> arrivals;
    for (const auto& receiver : receivers)
        arrivals.push_back(Arrivals::parse(receiver->stopAndCollect(kCollectTimeoutMs), commands));
    return measure(sends, arrivals);
}

FanoutResult runLibraryFanout(int slaves, std::size_t commands)
{
    const std::string port = str(pickFreeGroupPort());
    std::vector<std::unique_ptr<ChildProcess>> receivers;
    for (int i = 0; i < slaves; ++i) {
        receivers.push_back(std::make_unique<ChildProcess>(
            "library-node", std::vector<std::string>{"--slave", "--ip", "127.0.0." + str(2 + i), "--port", port,
                                                     "--master-ip", "127.0.0.1", "--commands", str(commands)}));
    }
    ChildProcess master("library-node", {"--master", "--ip", "127.0.0.1", "--port", port, "--commands",
                                         str(commands), "--interval-us", str(kIntervalUs)});
    return runFanout(master, receivers, commands);
}

FanoutResult runRawFanout(int receiverCount, std::size_t commands)
{
    const std::string port = str(pickFreeGroupPort());
    std::vector<std::unique_ptr<ChildProcess>> receivers;
    for (int i = 0; i < receiverCount; ++i) {
        receivers.push_back(std::make_unique<ChildProcess>(
            "raw-receiver",
            std::vector<std::string>{"--ip", "0.0.0.0", "--port", port, "--share", "--commands", str(commands)}));
    }
    ChildProcess sender("raw-sender", {"--bind-ip", "127.0.0.1", "--to-ip", "255.255.255.255", "--port", port,
                                       "--commands", str(commands), "--interval-us", str(kIntervalUs)});
    return runFanout(sender, receivers, commands);
}

QJsonObject toJson(const FanoutResult& result)
{
    return QJsonObject{{"latency_us", toJson(result.latencyUs)},
                       {"skew_us", toJson(result.skewUs)},
                       {"send_call_us", toJson(result.sendCallUs)},
                       {"lost", static_cast<double>(result.lost)}};
}

std::string withLoss(const std::string& text, std::size_t lost)
{
    return lost == 0 ? text : text + " (" + str(static_cast<std::int64_t>(lost)) + " lost)";
}

} // namespace

QJsonValue runLatencyScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const std::size_t commands = settings.quick ? 200 : 3000;
    QJsonArray runs;
    for (int slaves : kSlaveCounts) {
        progress("latency: library, " + str(slaves) + " slaves");
        const FanoutResult library = runLibraryFanout(slaves, commands);
        progress("latency: raw sockets, " + str(slaves) + " receivers");
        const FanoutResult raw = runRawFanout(slaves, commands);

        const std::string scenario = "delivery latency, " + str(slaves) + (slaves == 1 ? " slave" : " slaves");
        table.add(scenario, "p50 / p99 / max (us)", withLoss(percentiles(library.latencyUs, true), library.lost),
                  withLoss(percentiles(raw.latencyUs, true), raw.lost), ratioOf(library.latencyUs.p99, raw.latencyUs.p99));
        if (slaves > 1) {
            table.add(scenario, "skew first-last p50 / p99 (us)", percentiles(library.skewUs, false),
                      percentiles(raw.skewUs, false), ratioOf(library.skewUs.p99, raw.skewUs.p99));
        }
        table.add(scenario, "sending call p50 / p99 (us)", percentiles(library.sendCallUs, false),
                  percentiles(raw.sendCallUs, false), ratioOf(library.sendCallUs.p99, raw.sendCallUs.p99));
        runs.append(QJsonObject{{"slaves", slaves},
                                {"commands", static_cast<double>(commands)},
                                {"library", toJson(library)},
                                {"raw", toJson(raw)},
                                {"p99_ratio", ratioJson(library.latencyUs.p99, raw.latencyUs.p99)}});
    }
    return runs;
}
