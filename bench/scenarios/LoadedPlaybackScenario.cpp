// SPDX-License-Identifier: MIT
// Real media in step on a busy PC, run after run: multinet-player's run with 2 and 4 slaves beside one
// busy-loop thread per core, every run reported, not the best. Each run plays the session on the
// library's clock offset and, in the same run and under the same load, on GStreamer's network clock. Beside
// each run a real-time thread on every core measures how late it wakes, and /proc/stat how much CPU time
// the hypervisor took: a frame that is late while the machine itself stalled says nothing of the player.
#include "scenarios/Scenarios.h"

#include "support/BusyLoops.h"
#include "support/MachineTime.h"
#include "support/PlayerBinary.h"
#include "support/PlayerRunJson.h"
#include "support/WakeUpProbe.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kRunTimeoutMs = 240000;
constexpr int kDefaultRuns = 8;
// What a run must hold: a skew p99 of 1 ms, and no frame further off than one frame at 30 frames a second.
constexpr double kP99TargetUs = 1000;
constexpr double kMaxTargetUs = 33333;

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string machineText(const WakeUpProbe::Figures& wakeUps, double stolenPercent)
{
    if (!wakeUps.measured)
        return "not measured; CPU stolen " + fixed(stolenPercent, 2) + " %";
    return fixed(wakeUps.p99Us, 0) + " / " + fixed(wakeUps.maxUs, 0) + " us, " + str(wakeUps.over5Ms) +
           " over 5 ms" + (wakeUps.realtime ? "" : " (no real-time priority)") + "; CPU stolen " +
           fixed(stolenPercent, 2) + " %";
}

bool withinTarget(const QJsonObject& skew)
{
    return skew.value(QStringLiteral("p99")).toDouble() <= kP99TargetUs &&
           skew.value(QStringLiteral("max")).toDouble() <= kMaxTargetUs;
}

} // namespace

QJsonValue runLoadedPlaybackScenario(const ScenarioSettings& settings, ResultTable& table)
{
    if (!playerBuilt()) {
        table.add("playback under load", "skew (us)", kPlayerNotBuilt);
        return QJsonValue(QJsonValue::Null);
    }
    QTemporaryDir workDir;
    if (!workDir.isValid())
        throw std::runtime_error("no temporary directory for the loaded playback scenario");
    const int runs = settings.quick ? 1 : (settings.programmes > 0 ? settings.programmes : kDefaultRuns);
    const QStringList clip{QStringLiteral("--clip-seconds"), settings.quick ? QStringLiteral("3") : QStringLiteral("6")};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    QJsonArray results;
    int met = 0;
    int total = 0;
    for (int run = 1; run <= runs; ++run) {
        for (const int slaves : {2, 4}) {
            const std::string name = "run " + str(run) + ", " + str(slaves) + " slaves";
            progress("playback under load: " + name);
            QJsonObject figures;
            WakeUpProbe::Figures wakeUps;
            const MachineTime before = MachineTime::now();
            {
                WakeUpProbe probe;
                const BusyLoops load(cores);
                figures = runPlayer(QStringList{QStringLiteral("--slaves"), QString::number(slaves), QStringLiteral("--anchor")} + clip,
                                    workDir.path(), kRunTimeoutMs);
                wakeUps = probe.stop();
            }
            const double stolen = stolenPercent(before, MachineTime::now());
            const QJsonArray sessions = figures.value(QStringLiteral("sessions")).toArray();
            const QJsonObject ours = skewOf(sessions.at(0).toObject());
            const QJsonObject anchor = skewOf(sessions.at(1).toObject());
            const bool held = withinTarget(ours);
            met += held ? 1 : 0;
            ++total;
            table.add("playback under load", "skew p50 / p99 / max (us), " + name + (held ? "" : " (beyond target)"),
                      skewText(ours), skewText(anchor),
                      ratioOf(ours.value(QStringLiteral("p99")).toDouble(), anchor.value(QStringLiteral("p99")).toDouble()));
            table.add("playback under load", "machine: real-time wake-up p99 / max, " + name, machineText(wakeUps, stolen));
            results.append(QJsonObject{{"run", run},
                                       {"slaves", slaves},
                                       {"library", ours},
                                       {"gstreamer", anchor},
                                       {"within_target", held},
                                       {"wake_up_p99_us", wakeUps.p99Us},
                                       {"wake_up_max_us", wakeUps.maxUs},
                                       {"wake_ups_over_5ms", double(wakeUps.over5Ms)},
                                       {"cpu_stolen_percent", stolen}});
        }
    }
    table.add("playback under load", "runs with skew p99 <= 1 ms and max <= 33 ms", str(met) + " of " + str(total));
    return QJsonObject{{"runs", results}, {"within_target", met}, {"of", total}};
}
