// SPDX-License-Identifier: MIT
// The sound of real players in step, as a venue's speakers hear it: multinet-lab runs a master and two
// slaves on loopback that loop a clip with a tick at every second, each sending its sound to a null sink
// of a private sound server that a recorder hears (SoundRig: one server for all, or one per player). The
// slaves run under multinet-timewarp, fast and slow by 150 ppm (every clock and wait of the process,
// GStreamer's included), so each slave's sound sink must make up its drift against its server's clock.
// Figures, from the third second of the programme to its last: each slave's ticks against the master's,
// and each player's ticks against the instants its frame log says it showed the frame of the same
// second (RecordingClock puts a recording on the frame logs' clock).
#include "scenarios/Scenarios.h"

#include "support/PlayerBinary.h"
#include "support/PlayerRunJson.h"
#include "support/SecondFrames.h"
#include "support/SoundRig.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

namespace {

constexpr double kDriftPpm[] = {150, -150};  // one slave each
constexpr int kSlaves = int(std::size(kDriftPpm));
constexpr std::int64_t kSettleNs = 2000000000LL;  // the skew slaving's first moves after a start
constexpr double kMatchUs = 500000;               // ticks are a second apart: the nearest within half of it
// Long enough for a p99 of each slave's skew that is not its largest: some 100 ticks.
constexpr double kFullSeconds = 110;

// For each of `times` from `fromUs` to before `toUs`, its difference to the nearest of `reference` (in
// order), where that is within half a second (us).
std::vector<double> nearestDifferencesUs(const std::vector<double>& times, const std::vector<double>& reference, double fromUs,
                                         double toUs)
{
    std::vector<double> differences;
    for (const double time : times) {
        const auto after = std::lower_bound(reference.begin(), reference.end(), time);
        const bool takeBefore = after != reference.begin() && (after == reference.end() || time - *(after - 1) < *after - time);
        const auto nearest = takeBefore ? after - 1 : after;
        if (time >= fromUs && time < toUs && nearest != reference.end() && std::abs(time - *nearest) < kMatchUs)
            differences.push_back(time - *nearest);
    }
    return differences;
}

// Whole microseconds, in order: a series to read tick by tick.
QJsonArray series(const std::vector<double>& valuesUs)
{
    QJsonArray rounded;
    for (const double value : valuesUs)
        rounded.append(std::round(value));
    return rounded;
}

std::vector<double> absolute(std::vector<double> values)
{
    for (double& value : values)
        value = std::abs(value);
    return values;
}

} // namespace

QJsonValue runSoundScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const QString timewarp = QFileInfo(playerPath()).absolutePath() + QStringLiteral("/multinet-timewarp");
    QString why = playerBuilt() ? whySoundRigUnavailable(settings.soundServer) : QString::fromLatin1(kPlayerNotBuilt);
    if (why.isEmpty() && !QFileInfo(timewarp).isExecutable())
        why = timewarp + QStringLiteral(" is missing (Linux only)");
    if (!why.isEmpty()) {
        table.add("playback-sound", "sound skew (us)", "n/a (" + why.toStdString() + ")");
        return QJsonValue(QJsonValue::Null);
    }
    QTemporaryDir workDir;
    if (!workDir.isValid())
        throw std::runtime_error("no temporary directory for the sound scenario");
    const QString clip = workDir.path() + QStringLiteral("/ticks.avi");
    const QString seconds = settings.quick ? QStringLiteral("4") : QStringLiteral("10");
    if (QProcess::execute(playerPath(), {QStringLiteral("make-clip"), clip, QStringLiteral("--audio"), QStringLiteral("--seconds"), seconds}) != 0)
        throw std::runtime_error("multinet-player make-clip --audio failed");

    QStringList drifts;
    for (const double ppm : kDriftPpm)
        drifts << QString::number(ppm);
    const std::unique_ptr<SoundRig> rig =
        startSoundRig(settings.soundServer, workDir.path(), timewarp, std::vector<double>(std::begin(kDriftPpm), std::end(kDriftPpm)));
    const double playSeconds = settings.quick ? 8 : kFullSeconds;
    progress("playback-sound: a master and " + str(kSlaves) + " slaves at +-150 ppm (whole process), " +
             str(std::int64_t(playSeconds)) + " s of a looped clip at a null sink of " + settings.soundServer.toStdString());
    const QJsonObject run =
        runPlayer({QStringLiteral("--slaves"), QString::number(kSlaves), QStringLiteral("--clip"), clip, QStringLiteral("--loop"),
                   QStringLiteral("--for"), QString::number(playSeconds), QStringLiteral("--drift-ppm"), drifts.join(QLatin1Char(',')),
                   QStringLiteral("--slave-prefix"), rig->slavePrefix()},
                  workDir.path(), int(playSeconds * 1000) + 120000, QStringLiteral("sound"));
    const HeardTicks heard = rig->stop();
    const std::vector<std::vector<double>>& ticksUs = heard.ticksUs;

    QStringList logs{workDir.path() + QStringLiteral("/library-master.frames")};
    for (int i = 0; i < kSlaves; ++i)
        logs << workDir.path() + QStringLiteral("/library-slave%1.frames").arg(i + 1);
    std::vector<std::vector<double>> secondsUs;
    for (int player = 0; player <= kSlaves; ++player) {
        std::vector<double> shown;
        for (const std::int64_t ns : wholeSecondFramesNs(logs[player]))
            shown.push_back(double(ns) / 1000.0);
        secondsUs.push_back(shown);
    }
    // A player whose sound stopped would leave too few ticks to compare, and its skew would read as none.
    for (int player = 0; player <= kSlaves; ++player) {
        if (secondsUs[player].empty() || double(ticksUs[player].size()) < playSeconds / 2) {
            workDir.setAutoRemove(false);
            throw std::runtime_error((player == 0 ? std::string("the master") : "slave " + str(player)) + " showed " +
                                     str(std::int64_t(secondsUs[player].size())) + " whole seconds and played " +
                                     str(std::int64_t(ticksUs[player].size())) + " ticks in " + str(std::int64_t(playSeconds)) +
                                     " s; the run's files are kept in " + workDir.path().toStdString());
        }
    }
    const double fromUs = secondsUs.front().front() + double(kSettleNs) / 1000.0;
    // The master's last whole second is left out: the players end within it, and with a PipeWire per player
    // its tick came 0.6 to 2.7 ms off the run's others (the others' within 0.4 ms).
    const double toUs = secondsUs.front().back() - double(kMatchUs);

    QJsonArray players;
    for (int player = 0; player <= kSlaves; ++player) {
        const std::vector<double> againstPicture = nearestDifferencesUs(ticksUs[player], secondsUs[player], fromUs, toUs);
        const Summary lipSync = summarize(absolute(againstPicture));
        const double meanUs = summarize(againstPicture).mean;
        const std::string name = player == 0 ? "master" : "slave " + str(player) + " (" + drifts[player - 1].toStdString() + " ppm)";
        table.add("playback-sound", "sound - picture mean, |.| p50 / p99 / max (us), " + name,
                  fixed(meanUs, 0) + ", " + percentiles(lipSync, true));
        QJsonObject row{{"name", QString::fromStdString(name)}, {"ticks", double(ticksUs[player].size())},
                        {"sound_minus_picture_mean_us", meanUs}, {"sound_to_picture_abs_us", toJson(lipSync)},
                        {"sound_minus_picture_us", series(againstPicture)}};
        if (player > 0) {
            const std::vector<double> againstMaster = nearestDifferencesUs(ticksUs[player], ticksUs.front(), fromUs, toUs);
            const Summary skew = summarize(absolute(againstMaster));
            table.add("playback-sound", "sound skew to the master p50 / p99 / max (us), " + name, percentiles(skew, true));
            row.insert("drift_ppm", kDriftPpm[player - 1]);
            row.insert("sound_skew_abs_us", toJson(skew));
            row.insert("sound_minus_master_us", series(againstMaster));
        }
        players.append(row);
    }
    const QJsonObject session = run.value(QStringLiteral("sessions")).toArray().at(0).toObject();
    table.add("playback-sound", "picture skew p50 / p99 / max (us), same run", skewText(skewOf(session)));
    table.add("playback-sound", "recording on the frame logs' clock: scatter (us); longest gap (ms)",
              fixed(heard.scatterUs, 0) + "; " + fixed(heard.longestGapMs, 1));
    return QJsonObject{{"seconds", playSeconds},
                       {"sound_server", settings.soundServer},
                       {"sink_latency_us", double(heard.sinkLatencyUs)},
                       {"clock_scatter_us", heard.scatterUs},
                       {"recording_longest_gap_ms", heard.longestGapMs},
                       {"players", players},
                       {"picture_skew_us", skewOf(session)}};
}
