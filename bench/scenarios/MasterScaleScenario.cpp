// SPDX-License-Identifier: MIT
// Master scale: one master answering K simulated slaves (raw sockets on 127.1.x.y), each sending a
// clock-sync request every 100 ms and a heartbeat every 2 s: the share of requests answered, the
// answer's turnaround inside the master (slot 1 minus slot 0) and the master's CPU use. Baseline: a
// blocking raw-socket loop that answers the same datagrams with the same time stamps. Its turnaround is
// two clock readings apart, about 0 us, so the turnaround has no ratio: the library's figure stands alone.
#include "scenarios/Scenarios.h"

#include "support/ChildProcess.h"
#include "support/PortPicker.h"

#include <QJsonArray>

namespace {

constexpr int kPeerCounts[] = {10, 100, 1000};
constexpr int kCollectTimeoutMs = 20000;

struct ScaleResult
{
    std::size_t requestsSent = 0;
    std::size_t requestsAnswered = 0;
    std::size_t heartbeatsSent = 0;
    std::size_t heartbeatsAnswered = 0;
    Summary turnaroundUs;
    Summary roundTripUs;
    double cpuPercent = 0;  // of one core

    double answeredShare() const
    {
        return requestsSent ? static_cast<double>(requestsAnswered) / static_cast<double>(requestsSent) : 0;
    }
};

ScaleResult runScale(ChildProcess& master, const std::string& port, int peerCount, int durationMs)
{
    ChildProcess peers("scale-peers", {"--count", str(peerCount), "--master-ip", "127.0.0.1", "--port", port,
                                       "--duration-ms", str(durationMs)});
    waitUntilReady({&master, &peers});
    const auto before = master.cpuMark();
    peers.send("go");
    peers.waitFor("actions-done", durationMs + kCollectTimeoutMs);
    const auto after = master.cpuMark();
    const Lines lines = peers.stopAndCollect(kCollectTimeoutMs);
    master.stopAndCollect(kCollectTimeoutMs);

    ScaleResult result;
    const double wallUs = static_cast<double>(after.second - before.second) / 1000.0;
    result.cpuPercent = wallUs > 0 ? 100.0 * static_cast<double>(after.first - before.first) / wallUs : 0;
    for (const auto& fields : lines) {
        if (fields.size() == 3 && fields[0] == "requests") {
            result.requestsSent = std::stoul(fields[1]);
            result.requestsAnswered = std::stoul(fields[2]);
        } else if (fields.size() == 3 && fields[0] == "heartbeats") {
            result.heartbeatsSent = std::stoul(fields[1]);
            result.heartbeatsAnswered = std::stoul(fields[2]);
        } else if (!fields.empty() && fields[0] == "turnaround") {
            result.turnaroundUs = parseSummary(fields, 1);
        } else if (!fields.empty() && fields[0] == "roundtrip") {
            result.roundTripUs = parseSummary(fields, 1);
        }
    }
    return result;
}

QJsonObject toJson(const ScaleResult& result)
{
    return QJsonObject{{"requests_sent", static_cast<double>(result.requestsSent)},
                       {"requests_answered", static_cast<double>(result.requestsAnswered)},
                       {"answered_share", result.answeredShare()},
                       {"heartbeats_sent", static_cast<double>(result.heartbeatsSent)},
                       {"heartbeats_answered", static_cast<double>(result.heartbeatsAnswered)},
                       {"turnaround_us", toJson(result.turnaroundUs)},
                       {"round_trip_us", toJson(result.roundTripUs)},
                       {"cpu_percent", result.cpuPercent}};
}

} // namespace

QJsonValue runMasterScaleScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const int durationMs = settings.quick ? 1000 : 5000;
    QJsonArray runs;
    for (int peerCount : kPeerCounts) {
        progress("master scale: library master, " + str(peerCount) + " simulated slaves");
        const std::string libraryPort = str(pickFreeGroupPort());
        ChildProcess libraryMaster("library-node", {"--master", "--ip", "127.0.0.1", "--port", libraryPort});
        const ScaleResult library = runScale(libraryMaster, libraryPort, peerCount, durationMs);

        progress("master scale: raw master, " + str(peerCount) + " simulated slaves");
        const std::string rawPort = str(pickFreeGroupPort());
        ChildProcess rawMaster("raw-scale-master", {"--ip", "127.0.0.1", "--port", rawPort});
        const ScaleResult raw = runScale(rawMaster, rawPort, peerCount, durationMs);

        const std::string scenario = "master scale, " + str(peerCount) + " slaves";
        table.add(scenario, "requests answered (%)", fixed(100.0 * library.answeredShare()),
                  fixed(100.0 * raw.answeredShare()), ratioOf(library.answeredShare(), raw.answeredShare()));
        table.add(scenario, "turnaround in master p50 / p99 (us)", percentiles(library.turnaroundUs, false),
                  percentiles(raw.turnaroundUs, false));
        table.add(scenario, "master CPU (% of one core)", fixed(library.cpuPercent), fixed(raw.cpuPercent),
                  ratioOf(library.cpuPercent, raw.cpuPercent));
        runs.append(QJsonObject{{"slaves", peerCount},
                                {"duration_ms", durationMs},
                                {"library", toJson(library)},
                                {"raw", toJson(raw)},
                                {"cpu_ratio", ratioJson(library.cpuPercent, raw.cpuPercent)}});
    }
    return runs;
}
