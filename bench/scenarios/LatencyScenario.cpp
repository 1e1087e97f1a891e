// SPDX-License-Identifier: MIT
// Delivery latency, fan-out: a master and N slaves as processes of their own; each command's time from
// the master's notifySlaveStart call to each slave's callback. Baseline: a raw socket on 127.0.0.1
// broadcasting the same datagrams to N raw receivers (wildcard bind, blocking read). The sending call is
// also measured against that raw socket broadcasting to the library's slaves, so that only the sender differs.
// What keys cost: each process of a paired run holds an unkeyed and a keyed control object (every datagram
// signed and checked), and the master's commands take turns between the two groups, so that both kinds
// meet the same processes, placed on the same cores, at the same moments.
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/ChildProcess.h"
#include "support/DeliveryRecords.h"
#include "support/PortPicker.h"

#include <QJsonArray>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <optional>

namespace {

constexpr int kSlaveCounts[] = {1, 4, 16};
constexpr std::int64_t kIntervalUs = 2000;
constexpr int kDrainMs = 300;
constexpr int kCollectTimeoutMs = 20000;

// The samples of one or more runs, pooled.
struct FanoutSamples
{
    std::vector<double> latencies;  // every (command, receiver) pair that arrived
    std::vector<double> roundP50s;  // the latency p50 of each run on its own
    std::vector<double> skews;      // last minus first receiver, over commands that reached every receiver
    std::vector<double> sendCalls;  // how long the sending call took
    std::vector<double> sendCpu;    // how much CPU time the calling thread spent in it
    std::size_t lost = 0;
};

struct FanoutResult
{
    Summary latencyUs;
    std::vector<double> roundP50s;
    Summary skewUs;
    Summary sendCallUs;
    Summary sendCpuUs;
    std::size_t lost = 0;
};

double usBetween(std::int64_t fromNs, std::int64_t toNs)
{
    return static_cast<double>(toNs - fromNs) / 1000.0;
}

// The commands of a run, or those of one group of a run that alternates two (groupOfCommand).
void addRun(FanoutSamples& samples, const Sends& sends, const std::vector<Arrivals>& receivers,
            std::optional<int> group = std::nullopt)
{
    const std::size_t before = samples.latencies.size();
    for (std::size_t i = 0; i < sends.beforeNs.size(); ++i) {
        if (sends.beforeNs[i] < 0 || (group && groupOfCommand(i) != *group))
            continue;
        samples.sendCalls.push_back(usBetween(sends.beforeNs[i], sends.afterNs[i]));
        samples.sendCpu.push_back(static_cast<double>(sends.cpuNs[i]) / 1000.0);
        std::int64_t first = INT64_MAX;
        std::int64_t last = INT64_MIN;
        std::size_t reached = 0;
        for (const Arrivals& receiver : receivers) {
            const std::int64_t at = receiver.timeNs[i];
            if (at < 0) {
                ++samples.lost;
                continue;
            }
            ++reached;
            samples.latencies.push_back(usBetween(sends.beforeNs[i], at));
            first = std::min(first, at);
            last = std::max(last, at);
        }
        if (reached == receivers.size())
            samples.skews.push_back(usBetween(first, last));
    }
    samples.roundP50s.push_back(
        summarize(std::vector<double>(samples.latencies.begin() + std::ptrdiff_t(before), samples.latencies.end())).p50);
}

FanoutResult summarizeFanout(const FanoutSamples& samples)
{
    return FanoutResult{summarize(samples.latencies), samples.roundP50s, summarize(samples.skews), summarize(samples.sendCalls),
                        summarize(samples.sendCpu), samples.lost};
}

struct FanoutRecords
{
    Sends sends;
    std::vector<Arrivals> arrivals;
};

FanoutRecords runFanout(ChildProcess& sender, const std::vector<std::unique_ptr<ChildProcess>>& receivers,
                        std::size_t commands)
{
    std::vector<ChildProcess*> all{&sender};
    for (const auto& receiver : receivers)
        all.push_back(receiver.get());
    waitUntilReady(all);
    sender.send("go");
    sender.waitFor("actions-done", static_cast<int>(static_cast<std::int64_t>(commands) * kIntervalUs / 1000) + 20000);
    sleepForMs(kDrainMs);
    FanoutRecords records{Sends::parse(sender.stopAndCollect(kCollectTimeoutMs), commands), {}};
    for (const auto& receiver : receivers)
        records.arrivals.push_back(Arrivals::parse(receiver->stopAndCollect(kCollectTimeoutMs), commands));
    return records;
}

enum class Side
{
    Library,  // the library's master or slaves
    Paired,   // the same, each process with a keyed group beside the unkeyed one
    Raw,      // plain sockets
};

// A run's group port, and the keyed group's of a paired run.
struct Ports
{
    Ports()
    {
        while (keyedGroup == group)
            keyedGroup = str(pickFreeGroupPort());
    }
    std::string group = str(pickFreeGroupPort());
    std::string keyedGroup = group;
};

std::vector<std::string> libraryArgs(std::vector<std::string> args, Side side, const Ports& ports)
{
    args.insert(args.end(), {"--port", ports.group});
    if (side == Side::Paired)
        args.insert(args.end(), {"--keyed-port", ports.keyedGroup});
    return args;
}

std::unique_ptr<ChildProcess> startSender(Side side, const Ports& ports, std::size_t commands)
{
    if (side != Side::Raw) {
        return std::make_unique<ChildProcess>(
            "library-node", libraryArgs({"--master", "--ip", "127.0.0.1", "--commands", str(commands),
                                         "--interval-us", str(kIntervalUs)},
                                        side, ports));
    }
    return std::make_unique<ChildProcess>(
        "raw-sender", std::vector<std::string>{"--bind-ip", "127.0.0.1", "--to-ip", "255.255.255.255", "--port",
                                               ports.group, "--commands", str(commands), "--interval-us",
                                               str(kIntervalUs)});
}

std::unique_ptr<ChildProcess> startReceiver(Side side, int index, const Ports& ports, std::size_t commands)
{
    if (side != Side::Raw) {
        return std::make_unique<ChildProcess>(
            "library-node", libraryArgs({"--slave", "--ip", "127.0.0." + str(2 + index), "--master-ip", "127.0.0.1",
                                         "--commands", str(commands)},
                                        side, ports));
    }
    return std::make_unique<ChildProcess>("raw-receiver", std::vector<std::string>{"--ip", "0.0.0.0", "--port", ports.group,
                                                                                   "--share", "--commands", str(commands)});
}

FanoutRecords runFanout(Side sender, Side receivers, int receiverCount, std::size_t commands)
{
    const Ports ports;
    std::vector<std::unique_ptr<ChildProcess>> started;
    for (int i = 0; i < receiverCount; ++i)
        started.push_back(startReceiver(receivers, i, ports, commands));
    return runFanout(*startSender(sender, ports, commands), started, commands);
}

void runFanout(FanoutSamples& samples, Side sender, Side receivers, int receiverCount, std::size_t commands)
{
    const FanoutRecords records = runFanout(sender, receivers, receiverCount, commands);
    addRun(samples, records.sends, records.arrivals);
}

QJsonObject toJson(const FanoutResult& result)
{
    QJsonArray roundP50s;
    for (double p50 : result.roundP50s)
        roundP50s.append(p50);
    return QJsonObject{{"latency_us", toJson(result.latencyUs)},
                       {"round_latency_p50_us", roundP50s},
                       {"skew_us", toJson(result.skewUs)},
                       {"send_call_us", toJson(result.sendCallUs)},
                       {"send_cpu_us", toJson(result.sendCpuUs)},
                       {"lost", static_cast<double>(result.lost)}};
}

std::string withLoss(const std::string& text, std::size_t lost)
{
    return lost == 0 ? text : text + " (" + str(static_cast<std::int64_t>(lost)) + " lost)";
}

} // namespace

QJsonValue runLatencyScenario(const ScenarioSettings& settings, ResultTable& table)
{
    // The library and the raw sockets take turns, so that whatever else the machine does meanwhile falls
    // on both alike. Many short rounds rather than a few long ones: each new set of processes sets its
    // round's level (31 to 89 us p50 with one slave in one run), and many rounds average that out. Keys
    // cost less than that, so keyed and unkeyed share their processes (the paired runs).
    const int rounds = settings.quick ? 1 : 10;
    const std::size_t commandsPerRound = settings.quick ? 200 : 300;
    const std::size_t commands = commandsPerRound * static_cast<std::size_t>(rounds);
    QJsonArray runs;
    for (int slaves : kSlaveCounts) {
        FanoutSamples librarySamples;
        FanoutSamples keyedSamples;
        FanoutSamples pairedUnkeyedSamples;  // the unkeyed half of the paired runs
        FanoutSamples rawSamples;
        FanoutSamples rawSenderSamples;
        for (int round = 1; round <= rounds; ++round) {
            const std::string of = " (round " + str(round) + " of " + str(rounds) + ")";
            progress("latency: library, " + str(slaves) + " slaves" + of);
            runFanout(librarySamples, Side::Library, Side::Library, slaves, commandsPerRound);
            progress("latency: library, keyed and unkeyed groups taking turns, " + str(slaves) + " slaves" + of);
            const FanoutRecords paired = runFanout(Side::Paired, Side::Paired, slaves, 2 * commandsPerRound);
            addRun(pairedUnkeyedSamples, paired.sends, paired.arrivals, 0);
            addRun(keyedSamples, paired.sends, paired.arrivals, 1);
            progress("latency: raw sockets, " + str(slaves) + " receivers" + of);
            runFanout(rawSamples, Side::Raw, Side::Raw, slaves, commandsPerRound);
            progress("latency: raw sender, " + str(slaves) + " library slaves" + of);
            runFanout(rawSenderSamples, Side::Raw, Side::Library, slaves, commandsPerRound);
        }
        const FanoutResult library = summarizeFanout(librarySamples);
        const FanoutResult keyed = summarizeFanout(keyedSamples);
        const FanoutResult pairedUnkeyed = summarizeFanout(pairedUnkeyedSamples);
        const FanoutResult raw = summarizeFanout(rawSamples);
        // On loopback the kernel hands a broadcast to every receiver inside the sender's system call, so
        // the kind of receiver weighs on the sending call: its baseline sends to the library's slaves too.
        const FanoutResult rawSender = summarizeFanout(rawSenderSamples);

        const std::string scenario = "delivery latency, " + str(slaves) + (slaves == 1 ? " slave" : " slaves");
        table.add(scenario, "p50 / p99 / max (us)", withLoss(percentiles(library.latencyUs, true), library.lost),
                  withLoss(percentiles(raw.latencyUs, true), raw.lost), ratioOf(library.latencyUs.p99, raw.latencyUs.p99));
        if (slaves > 1) {
            table.add(scenario, "skew first-last p50 / p99 (us)", percentiles(library.skewUs, false),
                      percentiles(raw.skewUs, false), ratioOf(library.skewUs.p99, raw.skewUs.p99));
        }
        // The baseline of a keyed group is the unkeyed group of the same processes.
        table.add(scenario, "keyed group: p50 (us), against unkeyed", fixed(keyed.latencyUs.p50),
                  fixed(pairedUnkeyed.latencyUs.p50), ratioOf(keyed.latencyUs.p50, pairedUnkeyed.latencyUs.p50));
        table.add(scenario, "keyed group: p99 (us), against unkeyed", withLoss(fixed(keyed.latencyUs.p99), keyed.lost),
                  withLoss(fixed(pairedUnkeyed.latencyUs.p99), pairedUnkeyed.lost),
                  ratioOf(keyed.latencyUs.p99, pairedUnkeyed.latencyUs.p99));
        table.add(scenario, "sending call p50 / p99 (us), raw sender to the same slaves", percentiles(library.sendCallUs, false),
                  percentiles(rawSender.sendCallUs, false), ratioOf(library.sendCallUs.p99, rawSender.sendCallUs.p99));
        table.add(scenario, "sending call, CPU time of the caller p50 / p99 (us), as above",
                  percentiles(library.sendCpuUs, false), percentiles(rawSender.sendCpuUs, false),
                  ratioOf(library.sendCpuUs.p99, rawSender.sendCpuUs.p99));
        table.add(scenario, "sending call p50 / p99 (us), raw sender to raw receivers", percentiles(library.sendCallUs, false),
                  percentiles(raw.sendCallUs, false), ratioOf(library.sendCallUs.p99, raw.sendCallUs.p99));
        runs.append(QJsonObject{{"slaves", slaves},
                                {"commands", static_cast<double>(commands)},
                                {"library", toJson(library)},
                                {"keyed", toJson(keyed)},
                                {"unkeyed_beside_keyed", toJson(pairedUnkeyed)},
                                {"keyed_p50_ratio", ratioJson(keyed.latencyUs.p50, pairedUnkeyed.latencyUs.p50)},
                                {"keyed_p99_ratio", ratioJson(keyed.latencyUs.p99, pairedUnkeyed.latencyUs.p99)},
                                {"raw", toJson(raw)},
                                {"raw_sender_to_library_slaves", toJson(rawSender)},
                                {"p99_ratio", ratioJson(library.latencyUs.p99, raw.latencyUs.p99)}});
    }
    return runs;
}
