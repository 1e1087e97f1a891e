// SPDX-License-Identifier: MIT
// Real media in step: multinet-player's run (a master on 127.0.0.1 and slaves on 127.0.0.2 onwards,
// their host clocks a few milliseconds off) plays a clip through its session, with 2 and 4 slaves, idle
// and under a CPU load on every core. Each run plays the session twice: on the library's clock offset and,
// beside it in the same run and under the same load, on GStreamer's network clock. The figure is the
// presentation skew of every slave's frames against the master's, read on the monotonic clock that all
// processes share. A control run with the slaves ignoring the offset must show the injected offsets.
#include "scenarios/Scenarios.h"

#include "support/BusyLoops.h"
#include "support/PlayerBinary.h"
#include "support/PlayerRunJson.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kRunTimeoutMs = 240000;

struct Condition
{
    int slaves;
    bool loaded;
};

std::string conditionName(const Condition& condition)
{
    return str(condition.slaves) + " slaves, " + (condition.loaded ? "loaded" : "idle");
}

} // namespace

QJsonValue runPlaybackScenario(const ScenarioSettings& settings, ResultTable& table)
{
    if (!playerBuilt()) {
        table.add("playback", "skew (us)", kPlayerNotBuilt);
        return QJsonValue(QJsonValue::Null);
    }
    QTemporaryDir workDir;
    if (!workDir.isValid())
        throw std::runtime_error("no temporary directory for the playback scenario");
    const QStringList clip{QStringLiteral("--clip-seconds"), settings.quick ? QStringLiteral("3") : QStringLiteral("6")};
    const std::vector<Condition> conditions = settings.quick ? std::vector<Condition>{{2, false}}
                                                             : std::vector<Condition>{{2, false}, {2, true}, {4, false}, {4, true}};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    QJsonArray results;
    for (const Condition& condition : conditions) {
        progress("playback: " + conditionName(condition) + ", library clock and GStreamer's net clock");
        QJsonObject figures;
        {
            const BusyLoops load(condition.loaded ? cores : 0);
            figures = runPlayer(QStringList{QStringLiteral("--slaves"), QString::number(condition.slaves),
                                            QStringLiteral("--anchor")} + clip,
                                workDir.path(), kRunTimeoutMs);
        }
        const QJsonArray sessions = figures.value(QStringLiteral("sessions")).toArray();
        const QJsonObject ours = sessions.at(0).toObject();
        const QJsonObject anchor = sessions.at(1).toObject();
        const double oursP99 = skewOf(ours).value(QStringLiteral("p99")).toDouble();
        const double anchorP99 = skewOf(anchor).value(QStringLiteral("p99")).toDouble();
        table.add("playback", "skew p50 / p99 / max (us), " + conditionName(condition), skewText(skewOf(ours)),
                  skewText(skewOf(anchor)), ratioOf(oursP99, anchorP99));
        results.append(QJsonObject{{"slaves", condition.slaves},
                                   {"loaded", condition.loaded},
                                   {"library", ours},
                                   {"gstreamer", anchor},
                                   {"p99_ratio", ratioJson(oursP99, anchorP99)}});
    }

    progress("playback: control run, the slaves ignoring the clock offset");
    const int controlSlaves = settings.quick ? 2 : 4;
    const QJsonObject control = runPlayer(
        QStringList{QStringLiteral("--slaves"), QString::number(controlSlaves), QStringLiteral("--control")} + clip, workDir.path(), kRunTimeoutMs);
    std::string shown;
    for (const QJsonValue& player : control.value(QStringLiteral("per_player")).toArray()) {
        const QJsonObject row = player.toObject();
        if (!row.contains(QStringLiteral("skew_us")))
            continue;
        // A slave that ignores its offset shows each frame early by the offset: the skew's sign is the opposite.
        const QJsonObject skew = row.value(QStringLiteral("skew_us")).toObject();
        shown += (shown.empty() ? "" : ", ") + str(-integer(skew.value(QStringLiteral("signed_median")))) + " / " +
                 str(integer(row.value(QStringLiteral("injected_offset_us"))));
    }
    table.add("playback", "control: skew against the injected offset (us), per slave", shown);
    return QJsonObject{{"conditions", results}, {"control", control}};
}
