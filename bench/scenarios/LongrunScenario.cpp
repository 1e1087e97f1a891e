// SPDX-License-Identifier: MIT
// Ten minutes of real time: multinet-player's run plays a 20 s clip in a loop (headless) on a master at
// 0 ppm and three slaves whose oscillators run +100, -100 and +50 ppm, each keeping its pipeline on the
// master's time line (the rate correction). Then, each on its own after the other:
//   - the control: the same for two minutes without the rate correction, whose skew must grow at the
//     injected rates (each slave's slope against its drift);
//   - GStreamer's network clock under the same drift for ten minutes: its client clock reads
//     CLOCK_MONOTONIC itself, which the player's own --drift-ppm cannot move, so the slave processes run
//     whole under multinet-timewarp (libfaketime and the preload that fills its gaps);
//   - the cross-check: the library's run for two minutes with the slaves drifted that same way, as an
//     outside check drifts them, rather than by --drift-ppm;
//   - the noise floor: two minutes with steady clocks (0 ppm), whose tails are the machine's wake-ups.
// Every frame time is the real CLOCK_MONOTONIC (the frame logs read it by a raw system call). The
// figures: the skew per 10 s bin and over the run, each bin's signed median, the same-frame share, the
// loop points, the master's own frame spacing (the same noise without any network or clock in it), the
// CPU time the hypervisor took from this virtual machine meanwhile (steal), a plot of each slave's skew
// against time (gnuplot), and what the correction costs from the micro-benchmarks. Not in the default
// set: scripts/bench --scenario longrun.
#include "scenarios/Scenarios.h"

#include "support/MachineTime.h"
#include "support/MicroBench.h"
#include "support/PlayerBinary.h"
#include "support/PlayerRunJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

constexpr int kSlaves = 3;
constexpr double kDriftPpm[kSlaves] = {100, -100, 50};
constexpr int kClipSeconds = 20;
constexpr double kP99TargetUs = 500;
constexpr double kMedianTargetUs = 100;
constexpr double kSameFrameTarget = 0.99;
constexpr double kSlopeTolerance = 0.10;
// Beyond the time it plays, a run makes its clip, finds and synchronises its players and stops them.
constexpr int kRunOverheadMs = 300000;

struct Durations
{
    int longS;   // the library's run and GStreamer's
    int shortS;  // the control, the cross-check and the noise floor
};

struct Run
{
    const char* key;    // in the JSON
    const char* title;  // in the table
    QJsonObject figures;
    bool ran = false;
    double busyPercent = 0;    // of all CPU time while it ran
    double stolenPercent = 0;  // taken by the hypervisor while it ran
};

// "100,-100,50", as --drift-ppm takes it.
QString driftList()
{
    QStringList words;
    for (double drift : kDriftPpm)
        words << QString::number(drift);
    return words.join(QLatin1Char(','));
}

// "+100 ppm": a slave's name in the plot.
QString driftLabel(int slave)
{
    return (kDriftPpm[slave] > 0 ? QStringLiteral("+") : QString()) + QString::number(kDriftPpm[slave]) + QStringLiteral(" ppm");
}

QString timewarpPath()
{
    return QFileInfo(playerPath()).absolutePath() + QStringLiteral("/multinet-timewarp");
}

bool haveLibfaketime()
{
    QStringList candidates{QStringLiteral("/usr/lib/faketime/libfaketime.so.1"), QStringLiteral("/usr/local/lib/faketime/libfaketime.so.1")};
    for (const QString& triplet : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates.append(QStringLiteral("/usr/lib/%1/faketime/libfaketime.so.1").arg(triplet));
    return std::any_of(candidates.begin(), candidates.end(), [](const QString& path) { return QFileInfo::exists(path); });
}

QJsonObject firstSession(const QJsonObject& figures)
{
    return figures.value(QStringLiteral("sessions")).toArray().at(0).toObject();
}

QJsonArray binsOf(const QJsonObject& session)
{
    return session.value(QStringLiteral("bins")).toArray();
}

// The bins that hold most of 10 s of frames: the last bin of a run holds only the frames up to its stop,
// and is drawn nowhere near the middle of its 10 s.
QJsonArray fullBins(const QJsonObject& session)
{
    const QJsonArray bins = binsOf(session);
    int most = 0;
    for (const QJsonValue& bin : bins)
        most = std::max(most, bin.toObject().value(QStringLiteral("frames_matched")).toInt());
    QJsonArray full;
    for (const QJsonValue& bin : bins) {
        if (bin.toObject().value(QStringLiteral("frames_matched")).toInt() * 2 >= most)
            full.append(bin);
    }
    return full;
}

double worstOf(const QJsonArray& bins, const char* field, bool magnitude)
{
    double worst = 0;
    for (const QJsonValue& bin : bins) {
        const double value = bin.toObject().value(QLatin1String(field)).toDouble();
        if (magnitude ? std::abs(value) > std::abs(worst) : value > worst)
            worst = value;
    }
    return worst;
}

int countBeyond(const QJsonArray& bins, const char* field, double bound, bool magnitude)
{
    int count = 0;
    for (const QJsonValue& bin : bins) {
        const double value = bin.toObject().value(QLatin1String(field)).toDouble();
        count += (magnitude ? std::abs(value) : value) > bound ? 1 : 0;
    }
    return count;
}

double lowestShare(const QJsonArray& bins)
{
    double lowest = 1;
    for (const QJsonValue& bin : bins)
        lowest = std::min(lowest, bin.toObject().value(QStringLiteral("same_frame_share")).toDouble());
    return lowest;
}

std::string percentText(double share)
{
    return fixed(share * 100, 2) + "%";
}

// Each slave's skew slope against its injected drift: a slave without the correction shows each frame
// early by what its fast clock gained, so its skew's slope is the drift with the sign turned.
struct SlopeCheck
{
    std::string text;
    bool withinTolerance = true;
    QJsonArray rows;
};

SlopeCheck slopes(const QJsonObject& session)
{
    SlopeCheck check;
    for (const QJsonValue& value : session.value(QStringLiteral("per_player")).toArray()) {
        const QJsonObject player = value.toObject();
        if (!player.contains(QStringLiteral("skew_us")))
            continue;
        const double drift = player.value(QStringLiteral("drift_ppm")).toDouble();
        const double slope = player.value(QStringLiteral("skew_us")).toObject().value(QStringLiteral("slope_ppm")).toDouble();
        const double shown = -slope;
        const double error = drift != 0 ? std::abs(shown - drift) / std::abs(drift) : std::abs(shown);
        check.withinTolerance = check.withinTolerance && drift != 0 && error <= kSlopeTolerance;
        check.text += (check.text.empty() ? "" : ", ") + fixed(shown, 1) + " / " + fixed(drift, 0) + " (" +
                      fixed(error * 100, 1) + "% off)";
        check.rows.append(QJsonObject{{"player", player.value(QStringLiteral("name"))},
                                      {"drift_ppm", drift},
                                      {"shown_ppm", shown},
                                      {"relative_error", error}});
    }
    return check;
}

// The skew of every 10 s bin of the library's run, as a Markdown table (for the README).
QString binTable(const QJsonObject& ours, const QJsonObject& gstreamer)
{
    QString text;
    QTextStream out(&text);
    out << "| from (s) | library p50 / p99 / max (us) | each slave's signed median (us) | same frame | master's spacing p99 (us) "
           "| GStreamer p50 / p99 / max (us) | its signed medians (us) |\n";
    out << "|---|---|---|---|---|---|---|\n";
    const QJsonArray bins = binsOf(ours);
    const QJsonArray theirs = binsOf(gstreamer);
    auto medians = [](const QJsonObject& bin) {
        QStringList words;
        for (const QJsonValue& median : bin.value(QStringLiteral("slaves_signed_median")).toArray())
            words << QString::number(integer(median));
        return words.join(QStringLiteral(" / "));
    };
    for (int i = 0; i < bins.size(); ++i) {
        const QJsonObject bin = bins.at(i).toObject();
        const QJsonObject other = i < theirs.size() ? theirs.at(i).toObject() : QJsonObject();
        out << "| " << integer(bin.value(QStringLiteral("start_s"))) << " | " << QString::fromStdString(skewText(bin)) << " | "
            << medians(bin) << " | " << QString::fromStdString(percentText(bin.value(QStringLiteral("same_frame_share")).toDouble()))
            << " | " << integer(bin.value(QStringLiteral("master_spacing_p99"))) << " | "
            << (other.isEmpty() ? QStringLiteral("-") : QString::fromStdString(skewText(other))) << " | "
            << (other.isEmpty() ? QStringLiteral("-") : medians(other)) << " |\n";
    }
    return text;
}

// Each slave's signed median per bin, one line per bin: "start_s median1 median2 ... p99".
bool writeSeries(const QString& path, const QJsonObject& session)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    for (const QJsonValue& value : fullBins(session)) {
        const QJsonObject bin = value.toObject();
        out << bin.value(QStringLiteral("start_s")).toDouble() + 5;  // the middle of the bin
        const QJsonArray medians = bin.value(QStringLiteral("slaves_signed_median")).toArray();
        for (int i = 0; i < kSlaves; ++i)
            out << ' ' << (i < medians.size() ? integer(medians.at(i)) : 0);
        out << ' ' << integer(bin.value(QStringLiteral("p99"))) << '\n';
    }
    return true;
}

// Where the control's line of slope -drift through slave `slave`'s points crosses t = 0 (us): the mean
// of median + drift * t over its full bins.
double controlIntercept(const QJsonObject& session, int slave, double driftPpm)
{
    double sum = 0;
    int count = 0;
    for (const QJsonValue& value : fullBins(session)) {
        const QJsonObject bin = value.toObject();
        const double t = bin.value(QStringLiteral("start_s")).toDouble() + 5;
        sum += bin.value(QStringLiteral("slaves_signed_median")).toArray().at(slave).toDouble() + driftPpm * t;
        ++count;
    }
    return count ? sum / count : 0;
}

// The plot of each slave's skew against time: the library's run, GStreamer's, and the control. Returns
// the PNG's path, or an empty string (with the reason in `why`) when gnuplot is missing or fails.
QString plot(const QString& outputDir, const Run& ours, const Run& gstreamer, const Run& control, std::string& why)
{
    const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    if (gnuplot.isEmpty()) {
        why = "gnuplot missing (gnuplot-nox)";
        return {};
    }
    const QString base = outputDir + QStringLiteral("/longrun");
    if (!writeSeries(base + QStringLiteral("-library.dat"), firstSession(ours.figures)) ||
        !writeSeries(base + QStringLiteral("-gstreamer.dat"), gstreamer.ran ? firstSession(gstreamer.figures) : QJsonObject()) ||
        !writeSeries(base + QStringLiteral("-control.dat"), firstSession(control.figures))) {
        why = "cannot write the plot's data in " + outputDir.toStdString();
        return {};
    }
    const QString png = base + QStringLiteral("-skew.png");
    const QString script = QString::fromUtf8(R"gp(
set terminal pngcairo size 1100,1150 font "DejaVu Sans,10"
set output '%1-skew.png'
set multiplot layout 3,1 title "Each slave's skew against the master: signed median of every 10 s (lines), all slaves' p99 (grey bars, cut at 1000 us)"
set grid
set key outside right
set xlabel "time from the first frame (s)"
set ylabel "skew (us)"
set yrange [-1000:1000]
set title "Library, rate correction on: slaves drifting %5, %6, %7 (--drift-ppm), a 20 s clip looping"
plot '%1-library.dat' using 1:5 with impulses lw 3 lc rgb "#c8c8c8" title "p99 (all)", \
     '' using 1:2 with linespoints pt 7 ps 0.5 lc rgb "#d62728" title "%5", \
     '' using 1:3 with linespoints pt 7 ps 0.5 lc rgb "#1f77b4" title "%6", \
     '' using 1:4 with linespoints pt 7 ps 0.5 lc rgb "#2ca02c" title "%7", \
     500 with lines dt 2 lc rgb "black" title "p99 target", -500 with lines dt 2 lc rgb "black" notitle
set title "GStreamer's network clock under the same drift (whole slave processes drifted with multinet-timewarp)"
plot '%1-gstreamer.dat' using 1:5 with impulses lw 3 lc rgb "#c8c8c8" title "p99 (all)", \
     '' using 1:2 with linespoints pt 7 ps 0.5 lc rgb "#d62728" title "%5", \
     '' using 1:3 with linespoints pt 7 ps 0.5 lc rgb "#1f77b4" title "%6", \
     '' using 1:4 with linespoints pt 7 ps 0.5 lc rgb "#2ca02c" title "%7", \
     500 with lines dt 2 lc rgb "black" title "p99 target", -500 with lines dt 2 lc rgb "black" notitle
set title "Control: rate correction off (instants converted once with the mean offset); dashed: slope -drift"
set ylabel "skew (ms)"
set autoscale y
plot '%1-control.dat' using 1:($2/1000) with linespoints pt 7 ps 0.5 lc rgb "#d62728" title "%5", \
     '' using 1:($3/1000) with linespoints pt 7 ps 0.5 lc rgb "#1f77b4" title "%6", \
     '' using 1:($4/1000) with linespoints pt 7 ps 0.5 lc rgb "#2ca02c" title "%7", \
     (%2 - (%8)*x)/1000 with lines dt 2 lc rgb "#d62728" notitle, (%3 - (%9)*x)/1000 with lines dt 2 lc rgb "#1f77b4" notitle, \
     (%4 - (%10)*x)/1000 with lines dt 2 lc rgb "#2ca02c" notitle
unset multiplot
)gp")
                               .arg(base)
                               .arg(controlIntercept(firstSession(control.figures), 0, kDriftPpm[0]))
                               .arg(controlIntercept(firstSession(control.figures), 1, kDriftPpm[1]))
                               .arg(controlIntercept(firstSession(control.figures), 2, kDriftPpm[2]))
                               .arg(driftLabel(0), driftLabel(1), driftLabel(2))
                               .arg(kDriftPpm[0])
                               .arg(kDriftPpm[1])
                               .arg(kDriftPpm[2]);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(gnuplot, QStringList{});
    process.write(script.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0 || !QFileInfo::exists(png)) {
        why = "gnuplot failed: " + QString::fromLocal8Bit(process.readAll()).trimmed().toStdString();
        return {};
    }
    return png;
}

} // namespace

QJsonValue runLongrunScenario(const ScenarioSettings& settings, ResultTable& table)
{
    if (!playerBuilt()) {
        table.add("longrun", "skew (us)", kPlayerNotBuilt);
        return QJsonValue(QJsonValue::Null);
    }
    // --quick: the same runs, a few seconds each, to try the scenario out.
    const Durations durations = settings.quick ? Durations{40, 20} : Durations{600, 120};
    QTemporaryDir workDir;
    if (!workDir.isValid())
        throw std::runtime_error("no temporary directory for the longrun scenario");
    const QStringList common{QStringLiteral("--slaves"), QString::number(kSlaves), QStringLiteral("--clip-seconds"),
                             QString::number(kClipSeconds), QStringLiteral("--loop"), QStringLiteral("--drift-ppm"),
                             driftList()};
    const auto forSeconds = [](int seconds) { return QStringList{QStringLiteral("--for"), QString::number(seconds)}; };
    const QStringList warped{QStringLiteral("--slave-prefix"), timewarpPath() + QStringLiteral(" {ppm}")};
    const bool canWarp = QFileInfo(timewarpPath()).isExecutable() && haveLibfaketime();

    Run ours{"library", "library, rate correction", {}, false};
    Run control{"control", "control, no rate correction", {}, false};
    Run gstreamer{"gstreamer_net", "GStreamer's net clock, slaves drifted whole", {}, false};
    Run crossCheck{"cross_check", "library, slaves drifted whole (multinet-timewarp)", {}, false};
    Run steady{"steady", "library, steady clocks (0 ppm)", {}, false};
    const auto play = [&](Run& run, const QStringList& arguments, int seconds) {
        progress("longrun: " + std::string(run.title) + ", " + str(seconds) + " s");
        const MachineTime before = MachineTime::now();
        run.figures = runPlayer(arguments + forSeconds(seconds), workDir.path(), seconds * 1000 + kRunOverheadMs,
                                QLatin1String(run.key));
        const MachineTime after = MachineTime::now();
        run.busyPercent = busyPercent(before, after);
        run.stolenPercent = stolenPercent(before, after);
        run.ran = true;
    };
    play(ours, common, durations.longS);
    play(control, common + QStringList{QStringLiteral("--no-rate-correction")}, durations.shortS);
    // GStreamer's net clock and the cross-check need the whole slave process drifted: after the library's
    // run, never beside it.
    if (canWarp) {
        play(gstreamer, common + QStringList{QStringLiteral("--clock"), QStringLiteral("gstreamer-net")} + warped, durations.longS);
        play(crossCheck, common + warped, durations.shortS);
    }
    play(steady, QStringList{QStringLiteral("--slaves"), QString::number(kSlaves), QStringLiteral("--clip-seconds"),
                             QString::number(kClipSeconds), QStringLiteral("--loop")},
         durations.shortS);

    const QJsonObject oursSession = firstSession(ours.figures);
    const QJsonObject theirSession = gstreamer.ran ? firstSession(gstreamer.figures) : QJsonObject();
    const QJsonArray oursBins = binsOf(oursSession);
    const QJsonArray theirBins = binsOf(theirSession);
    const std::string warpMissing = "n/a (multinet-timewarp or libfaketime missing)";
    const auto theirs = [&](const std::string& text) { return gstreamer.ran ? text : warpMissing; };
    const std::string span = str(durations.longS) + " s";

    const double oursP99 = skewOf(oursSession).value(QStringLiteral("p99")).toDouble();
    const double theirP99 = skewOf(theirSession).value(QStringLiteral("p99")).toDouble();
    table.add("longrun", "skew p50 / p99 / max (us), whole run of " + span + ", slaves at " + driftList().toStdString() + " ppm", skewText(skewOf(oursSession)),
              theirs(skewText(skewOf(theirSession))), gstreamer.ran ? ratioOf(oursP99, theirP99) : std::nullopt);
    const auto binsOverP99 = [](const QJsonArray& bins) {
        return fixed(worstOf(bins, "p99", false), 0) + "; " + str(countBeyond(bins, "p99", kP99TargetUs, false)) + " of " +
               str(bins.size()) + " bins over 500";
    };
    table.add("longrun", "10 s bins: worst p99 (us); bins over 500 us (target: none)", binsOverP99(oursBins),
              theirs(binsOverP99(theirBins)));
    const auto binsOverMedian = [](const QJsonArray& bins) {
        return fixed(worstOf(bins, "worst_signed_median", true), 0) + "; " +
               str(countBeyond(bins, "worst_signed_median", kMedianTargetUs, true)) + " bins beyond +-100";
    };
    table.add("longrun", "10 s bins: worst signed median of a slave (us) (target: within +-100)", binsOverMedian(oursBins),
              theirs(binsOverMedian(theirBins)));
    const auto shares = [](const QJsonObject& session, const QJsonArray& bins) {
        return percentText(session.value(QStringLiteral("same_frame_share")).toDouble()) + "; lowest bin " +
               percentText(lowestShare(bins));
    };
    table.add("longrun", "same frame on every screen, whole run; lowest 10 s bin (target: >= 99%)", shares(oursSession, oursBins),
              theirs(shares(theirSession, theirBins)));
    const auto loops = [](const QJsonObject& session) {
        const QJsonObject points = session.value(QStringLiteral("loop_points")).toObject();
        return str(integer(points.value(QStringLiteral("worst_late_us")))) + " at " +
               str(integer(points.value(QStringLiteral("count")))) + " loop points (one frame: " +
               str(integer(points.value(QStringLiteral("frame_duration_us")))) + ")";
    };
    table.add("longrun", "loop points: latest first frame of a new play after its instant (us) (target: < one frame)",
              loops(oursSession), theirs(loops(theirSession)));
    const auto spacing = [](const QJsonObject& session, const QJsonArray& bins) {
        const QJsonObject whole = session.value(QStringLiteral("master_spacing_us")).toObject();
        return fixed(whole.value(QStringLiteral("p99")).toDouble(), 0) + " / " + fixed(whole.value(QStringLiteral("max")).toDouble(), 0) +
               "; worst bin p99 " + fixed(worstOf(bins, "master_spacing_p99", false), 0);
    };
    table.add("longrun", "noise: the master's own frame spacing p99 / max (us); worst 10 s bin", spacing(oursSession, oursBins),
              theirs(spacing(theirSession, theirBins)));

    const auto machine = [](const Run& run) {
        return fixed(run.busyPercent, 1) + " / " + fixed(run.stolenPercent, 2);
    };
    table.add("longrun", "machine while it ran: CPU busy / stolen by the hypervisor (% of all CPU time)", machine(ours),
              theirs(machine(gstreamer)));

    const SlopeCheck slopeCheck = slopes(firstSession(control.figures));
    table.add("longrun", "control, " + str(durations.shortS) + " s without rate correction: skew slope / injected drift (ppm) per slave",
              slopeCheck.text + (slopeCheck.withinTolerance ? "; all within 10%" : "; NOT all within 10%"));
    if (crossCheck.ran) {
        const QJsonObject session = firstSession(crossCheck.figures);
        table.add("longrun", "cross-check, " + str(durations.shortS) + " s, slaves drifted whole: skew p50 / p99 / max (us); worst bin median",
                  skewText(skewOf(session)) + "; " + fixed(worstOf(binsOf(session), "worst_signed_median", true), 0));
    } else {
        table.add("longrun", "cross-check, slaves drifted whole", warpMissing);
    }
    {
        const QJsonObject session = firstSession(steady.figures);
        const QJsonArray bins = binsOf(session);
        table.add("longrun", "noise floor, " + str(durations.shortS) + " s at 0 ppm: skew p50 / p99 / max (us); worst bin p99; master spacing p99; CPU stolen (%)",
                  skewText(skewOf(session)) + "; " + fixed(worstOf(bins, "p99", false), 0) + "; " +
                      fixed(session.value(QStringLiteral("master_spacing_us")).toObject().value(QStringLiteral("p99")).toDouble(), 0) +
                      "; " + fixed(steady.stolenPercent, 2));
    }

    progress("longrun: the cost of the rate correction (micro-benchmarks)");
    const std::map<QString, double> nsPerCall =
        runMicrobench(settings.quick, QStringLiteral("BM_ClockEstimateSample/41|BM_ClockSteeringStep"));
    const double estimate = lookUp(nsPerCall, "BM_ClockEstimateSample/41");
    const double step = lookUp(nsPerCall, "BM_ClockSteeringStep");
    const double cpuPercent = rateCorrectionCpuPercent(estimate, step);
    table.add("longrun", "rate correction: estimate per sample / steering step (ns); CPU while playing (% of one core) (target: < 0.1)",
              fixed(estimate, 0) + " / " + fixed(step, 1) + "; " + fixed(cpuPercent, 5));

    std::string why;
    const QString png = plot(settings.outputDir, ours, gstreamer, control, why);
    table.add("longrun", "plot of each slave's skew against time", png.isEmpty() ? why : png.toStdString());
    const QString binsPath = settings.outputDir + QStringLiteral("/longrun-bins.md");
    QFile binsFile(binsPath);
    if (binsFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        binsFile.write(binTable(oursSession, theirSession).toUtf8());
    progress("longrun: every 10 s bin in " + binsPath.toStdString());

    QJsonObject result{{"seconds", durations.longS},
                       {"control_seconds", durations.shortS},
                       {"drift_ppm", driftList()},
                       {"control_slopes", slopeCheck.rows},
                       {"control_slopes_within_10_percent", slopeCheck.withinTolerance},
                       {"rate_correction_cpu_percent", cpuPercent},
                       {"clock_estimate_sample_41_ns", estimate},
                       {"clock_steering_step_ns", step},
                       {"p99_ratio", gstreamer.ran ? ratioJson(oursP99, theirP99) : QJsonValue(QJsonValue::Null)},
                       {"plot", png}};
    QJsonObject machineTime;
    for (const Run* run : {&ours, &control, &gstreamer, &crossCheck, &steady}) {
        result.insert(QLatin1String(run->key), run->ran ? QJsonValue(run->figures) : QJsonValue(QJsonValue::Null));
        if (run->ran)
            machineTime.insert(QLatin1String(run->key), QJsonObject{{"busy_percent", run->busyPercent}, {"stolen_percent", run->stolenPercent}});
    }
    result.insert(QStringLiteral("machine_time"), machineTime);
    return result;
}
