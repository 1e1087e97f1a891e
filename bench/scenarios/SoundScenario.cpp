// SPDX-License-Identifier: MIT
// The sound of real players in step, as a venue's speakers hear it: multinet-lab runs a master and two
// slaves on loopback that loop a clip with a tick at every second, each sending its sound to its own
// channel of a null sink of a private sound server (PulseAudio, or PipeWire's PulseAudio server), which
// one recorder hears whole. The slaves run under
// multinet-timewarp, fast and slow by 150 ppm (every clock and wait of the process, GStreamer's included),
// while the server plays on the real clock: the sound sink's slaving must make up the difference.
// Figures, from the third second of the programme on: each slave's ticks against the master's on the
// one recording, and each player's ticks against the instants its frame log says it showed the frame of
// the same second (RecordingClock puts the recording on the frame logs' clock).
#include "scenarios/Scenarios.h"

#include "support/PlayerBinary.h"
#include "support/PlayerRunJson.h"
#include "support/PrivatePulse.h"
#include "support/RecordingClock.h"
#include "support/SecondFrames.h"
#include "support/SoundRecorder.h"
#include "support/TickOnsets.h"

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

// PULSE_SERVER and the master's PULSE_SINK for the run's processes, while it runs.
class SoundEnvironment
{
public:
    SoundEnvironment(const QString& server, const QString& masterSink)
    {
        qputenv("PULSE_SERVER", server.toLocal8Bit());
        qputenv("PULSE_SINK", masterSink.toLocal8Bit());
    }
    ~SoundEnvironment()
    {
        qunsetenv("PULSE_SERVER");
        qunsetenv("PULSE_SINK");
    }
};

// A slave's sink is named after its drift: the slave prefix knows nothing else of the slave.
constexpr char kSlaveSinkPrefix[] = "drift";

QString slaveSink(double ppm)
{
    return QLatin1String(kSlaveSinkPrefix) + QString::number(ppm);
}

// For each of `times` after `fromUs`, its difference to the nearest of `reference` (in order), where that
// is within half a second (us).
std::vector<double> nearestDifferencesUs(const std::vector<double>& times, const std::vector<double>& reference, double fromUs)
{
    std::vector<double> differences;
    for (const double time : times) {
        const auto after = std::lower_bound(reference.begin(), reference.end(), time);
        const bool takeBefore = after != reference.begin() && (after == reference.end() || time - *(after - 1) < *after - time);
        const auto nearest = takeBefore ? after - 1 : after;
        if (time >= fromUs && nearest != reference.end() && std::abs(time - *nearest) < kMatchUs)
            differences.push_back(time - *nearest);
    }
    return differences;
}

// The longest time without a block from the recorder (ms): the server or the recorder stalled for as
// long, and a tick of that stretch says more of the machine than of the players.
double longestGapMs(const Recording& recording)
{
    std::int64_t longest = 0;
    for (std::size_t i = 1; i < recording.blocks.size(); ++i)
        longest = std::max(longest, recording.blocks[i].arrivedNs - recording.blocks[i - 1].arrivedNs);
    return double(longest) / 1e6;
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
    const SoundServer server = settings.soundServer == QLatin1String("pipewire") ? SoundServer::PipeWire : SoundServer::PulseAudio;
    QString why = playerBuilt() ? PrivatePulse::whyUnavailable(server) : QString::fromLatin1(kPlayerNotBuilt);
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

    QStringList sinks{QStringLiteral("master")};
    QStringList drifts;
    for (const double ppm : kDriftPpm) {
        sinks << slaveSink(ppm);
        drifts << QString::number(ppm);
    }
    const PrivatePulse pulse(workDir.path(), sinks, server);
    SoundRecorder recorder(pulse.address(), PrivatePulse::monitor(), PrivatePulse::kRate, pulse.channels());
    const double playSeconds = settings.quick ? 8 : 35;
    progress("playback-sound: a master and " + str(kSlaves) + " slaves at +-150 ppm (whole process), " +
             str(std::int64_t(playSeconds)) + " s of a looped clip at a null sink of " + settings.soundServer.toStdString());
    QJsonObject run;
    {
        const SoundEnvironment environment(pulse.address(), sinks.front());
        run = runPlayer({QStringLiteral("--slaves"), QString::number(kSlaves), QStringLiteral("--clip"), clip, QStringLiteral("--loop"),
                         QStringLiteral("--for"), QString::number(playSeconds), QStringLiteral("--drift-ppm"), drifts.join(QLatin1Char(',')),
                         QStringLiteral("--slave-prefix"),
                         QStringLiteral("env PULSE_SINK=%1{ppm} %2 {ppm}").arg(QLatin1String(kSlaveSinkPrefix), timewarp)},
                        workDir.path(), int(playSeconds * 1000) + 120000, QStringLiteral("sound"));
    }
    const std::int64_t sinkLatencyUs = pulse.sinkLatencyUs();
    const Recording recording = recorder.stop();
    const RecordingClock clock(recording, sinkLatencyUs);

    QStringList logs{workDir.path() + QStringLiteral("/library-master.frames")};
    for (int i = 0; i < kSlaves; ++i)
        logs << workDir.path() + QStringLiteral("/library-slave%1.frames").arg(i + 1);
    std::vector<std::vector<double>> ticksUs;  // per player, on the monotonic clock
    std::vector<std::vector<double>> secondsUs;
    for (int player = 0; player <= kSlaves; ++player) {
        std::vector<double> ticks;
        for (const std::int64_t frame : tickOnsets(recording, player))
            ticks.push_back(clock.monoNsOf(frame) / 1000.0);
        ticksUs.push_back(ticks);
        std::vector<double> shown;
        for (const std::int64_t ns : wholeSecondFramesNs(logs[player]))
            shown.push_back(double(ns) / 1000.0);
        secondsUs.push_back(shown);
    }
    if (secondsUs.front().empty() || ticksUs.front().empty())
        throw std::runtime_error("the master showed no frames or played no ticks; see " + workDir.path().toStdString());
    const double fromUs = secondsUs.front().front() + double(kSettleNs) / 1000.0;

    QJsonArray players;
    for (int player = 0; player <= kSlaves; ++player) {
        const std::vector<double> againstPicture = nearestDifferencesUs(ticksUs[player], secondsUs[player], fromUs);
        const Summary lipSync = summarize(absolute(againstPicture));
        const double meanUs = summarize(againstPicture).mean;
        const std::string name = player == 0 ? "master" : "slave " + str(player) + " (" + drifts[player - 1].toStdString() + " ppm)";
        table.add("playback-sound", "sound - picture mean, |.| p50 / p99 / max (us), " + name,
                  fixed(meanUs, 0) + ", " + percentiles(lipSync, true));
        QJsonObject row{{"name", QString::fromStdString(name)}, {"ticks", double(ticksUs[player].size())},
                        {"sound_minus_picture_mean_us", meanUs}, {"sound_to_picture_abs_us", toJson(lipSync)},
                        {"sound_minus_picture_us", series(againstPicture)}};
        if (player > 0) {
            const std::vector<double> againstMaster = nearestDifferencesUs(ticksUs[player], ticksUs.front(), fromUs);
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
              fixed(clock.scatterUs(), 0) + "; " + fixed(longestGapMs(recording), 1));
    return QJsonObject{{"seconds", playSeconds},
                       {"sound_server", settings.soundServer},
                       {"sink_latency_us", double(sinkLatencyUs)},
                       {"clock_scatter_us", clock.scatterUs()},
                       {"recording_longest_gap_ms", longestGapMs(recording)},
                       {"players", players},
                       {"picture_skew_us", skewOf(session)}};
}
