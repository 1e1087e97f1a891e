// SPDX-License-Identifier: MIT
// Cost inside the host. An idle slave whose clock synchronisation runs at its 3000 ms period (a master
// started it, then sent one start command): its CPU use over a window, against a bare Qt process
// running its event loop in the same window. Then the resident memory per MultiNetControl object, with
// one and with ten objects in one process.
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/ChildProcess.h"
#include "support/PortPicker.h"

namespace {

constexpr int kStartAfterMs = 300;
constexpr int kSettleMs = 1500;
constexpr int kCollectTimeoutMs = 20000;

double cpuPercent(const std::pair<std::int64_t, std::int64_t>& before, const std::pair<std::int64_t, std::int64_t>& after)
{
    const double wallUs = static_cast<double>(after.second - before.second) / 1000.0;
    return wallUs > 0 ? 100.0 * static_cast<double>(after.first - before.first) / wallUs : 0;
}

} // namespace

QJsonValue runHostCostScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const int windowMs = settings.quick ? 2000 : 10000;
    progress("host cost: idle slave with clock sync every 3 s, " + str(windowMs) + " ms");
    const std::string port = str(pickFreeGroupPort());
    ChildProcess master("library-node", {"--master", "--ip", "127.0.0.1", "--port", port, "--clock-sync",
                                         "--start-after-ms", str(kStartAfterMs)});
    ChildProcess slave("library-node", {"--slave", "--ip", "127.0.0.2", "--port", port, "--master-ip", "127.0.0.1"});
    ChildProcess bare("library-node", {"--bare"});
    waitUntilReady({&master, &slave, &bare});
    master.send("go");
    master.waitFor("actions-done", kCollectTimeoutMs);
    sleepForMs(kSettleMs);
    const auto slaveBefore = slave.cpuMark();
    const auto bareBefore = bare.cpuMark();
    sleepForMs(windowMs);
    const double slaveCpu = cpuPercent(slaveBefore, slave.cpuMark());
    const double bareCpu = cpuPercent(bareBefore, bare.cpuMark());
    const Lines slaveLines = slave.stopAndCollect(kCollectTimeoutMs);
    master.stopAndCollect(kCollectTimeoutMs);
    bare.stopAndCollect(kCollectTimeoutMs);
    std::size_t clockValues = 0;
    for (const auto& fields : slaveLines)
        clockValues += !fields.empty() && fields[0] == "offset" ? 1 : 0;

    progress("host cost: resident memory per object");
    ChildProcess probe("memory-probe", {"--port", str(pickFreeGroupPort())});
    waitUntilReady({&probe});
    double baseKiB = 0;
    double oneKiB = 0;
    double tenKiB = 0;
    for (const auto& fields : probe.stopAndCollect(kCollectTimeoutMs)) {
        if (fields.size() == 4 && fields[0] == "memory") {
            baseKiB = std::stod(fields[1]);
            oneKiB = std::stod(fields[2]);
            tenKiB = std::stod(fields[3]);
        }
    }
    const double perObjectOfOne = oneKiB - baseKiB;
    const double perObjectOfTen = (tenKiB - baseKiB) / 10.0;

    table.add("idle slave, clock sync every 3 s", "CPU (% of one core)", fixed(slaveCpu, 3),
              fixed(bareCpu, 3) + " (bare Qt process)", ratioOf(slaveCpu, bareCpu));
    table.add("memory per MultiNetControl", "RSS KiB: 1 object / each of 10",
              fixed(perObjectOfOne, 0) + " / " + fixed(perObjectOfTen, 0),
              fixed(baseKiB, 0) + " (process before any)");
    return QJsonObject{{"window_ms", windowMs},
                       {"idle_slave_cpu_percent", slaveCpu},
                       {"bare_qt_process_cpu_percent", bareCpu},
                       {"cpu_ratio", ratioJson(slaveCpu, bareCpu)},
                       {"clock_values_during_run", static_cast<double>(clockValues)},
                       {"rss_kib", QJsonObject{{"process_before_objects", baseKiB},
                                               {"one_object", perObjectOfOne},
                                               {"per_object_of_ten", perObjectOfTen}}}};
}
