// SPDX-License-Identifier: MIT
// A show of multinet-player as a venue runs it (PlayerShow): the master with its operator's page, every
// slave reporting its health. Three kinds of show take turns, round after round, so that whatever else
// the machine does falls on each alike: plain, keyed, and with a page open on the master. Each gives the
// skew of every slave's frames against the master's, from the frame logs. Every show also gives what the
// master heard from its slaves, beside what was measured: the lateness p99 each slave reported against
// the p99 of its lateness over the same 10 s from the frame logs (FrameSkew), and the clock offset each
// reported against the one injected.
#include "scenarios/Scenarios.h"

#include "support/FrameSkew.h"
#include "support/PlayerBinary.h"
#include "support/PlayerShow.h"

#include <QJsonArray>
#include <QProcess>
#include <QDir>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

constexpr int kSlaves = 2;
constexpr int kClipSeconds = 6;
constexpr int kReadEveryMs = 1000;
// A slave's report carries the lateness of the 10 s before its last measure (one every 250 ms), and the
// master says how long ago it received the report: the counterpart from the frame logs is the 10 s that
// end that long before the reading, less half a measure.
constexpr std::int64_t kWindowNs = 10LL * 1000000000LL;
constexpr std::int64_t kHalfMeasureNs = 125LL * 1000000LL;
// The clock offset is judged once the estimate has had time to settle.
constexpr std::int64_t kOffsetSettleNs = 5LL * 1000000000LL;
// How close a report should lie to what was measured.
constexpr double kLatenessBoundUs = 100.0;

struct ShowKind
{
    const char* key;    // in the JSON file
    const char* label;  // in the table
    bool keyed;
    bool pageOpen;
};

constexpr ShowKind kKinds[] = {
    {"plain", "plain", false, false},
    {"keyed", "keyed", true, false},
    {"page_open", "a page open", false, true},
};

// What the master heard beside what was measured, one slave at one reading.
struct Comparison
{
    std::string show;
    double atS;  // the reading, since the programme started
    int slave;
    double reportedLateP99Us;
    double measuredLateP99Us;  // signed, nearest rank
    double measuredSkewP99Us;  // the same of the skew against the master, which the master's late frames enter
    std::size_t frames;
};

struct OffsetCheck
{
    int slave;
    double reportedUs;
    double injectedUs;
};

struct KindSamples
{
    std::vector<double> skewMagnitudesUs;  // every matched frame of every slave, after the first second
    std::vector<double> showP99Us;         // each show's own p99: how much the rounds differ
    std::int64_t framesDropped = 0;        // as the slaves last reported, summed over shows
};

struct Collected
{
    KindSamples kinds[std::size(kKinds)];
    std::vector<Comparison> lateness;
    std::vector<OffsetCheck> offsets;
};

double signedP99(std::vector<double> values)
{
    return summarize(std::move(values)).p99;
}

void playShow(const ShowKind& kind, const QString& clip, const QString& workDir, const std::string& name, int seconds,
              KindSamples& samples, Collected& collected)
{
    PlayerShow show(PlayerShowSettings{kSlaves, clip, workDir, QString::fromStdString(name), kind.keyed, kind.pageOpen});
    std::vector<HealthReading> readings;
    for (int ms = 0; ms < seconds * 1000; ms += kReadEveryMs) {
        show.waitMs(kReadEveryMs);
        for (const HealthReading& reading : show.readHealth())
            readings.push_back(reading);
    }
    show.finish();

    const FrameSkew skew(show.masterFrameLog());
    const std::int64_t startedNs = show.startedNs();
    std::vector<std::int64_t> lastDropped(kSlaves, 0);
    for (const HealthReading& reading : readings) {
        if (!reading.known)
            continue;
        if (reading.monoNs - startedNs >= kOffsetSettleNs)
            collected.offsets.push_back({reading.slave, reading.offsetUs, double(show.injectedOffsetUs(reading.slave))});
        const std::int64_t toNs = reading.monoNs - reading.ageMs * 1000000 - kHalfMeasureNs;
        if (!reading.presentationKnown || toNs - kWindowNs < startedNs)
            continue;
        const QString slaveLog = show.slaveFrameLog(reading.slave);
        const std::vector<double> measured = skew.latenessUs(slaveLog, toNs - kWindowNs, toNs);
        if (measured.empty())
            continue;
        collected.lateness.push_back({name, double(reading.monoNs - startedNs) / 1e9, reading.slave, double(reading.lateP99Us),
                                      signedP99(measured), signedP99(skew.skewsUs(slaveLog, toNs - kWindowNs, toNs)),
                                      measured.size()});
        lastDropped[std::size_t(reading.slave)] = reading.framesDropped;
    }
    std::vector<double> showMagnitudes;
    for (int i = 0; i < kSlaves; ++i) {
        // The first second holds the start, which the skew of a running show leaves out.
        for (double s : skew.skewsUs(show.slaveFrameLog(i), startedNs + 1000000000LL, INT64_MAX))
            showMagnitudes.push_back(std::fabs(s));
        samples.framesDropped += lastDropped[std::size_t(i)];
    }
    samples.skewMagnitudesUs.insert(samples.skewMagnitudesUs.end(), showMagnitudes.begin(), showMagnitudes.end());
    samples.showP99Us.push_back(summarize(showMagnitudes).p99);
}

QJsonObject toJson(const KindSamples& samples)
{
    QJsonArray showP99;
    for (double p99 : samples.showP99Us)
        showP99.append(p99);
    return QJsonObject{{"skew_us", toJson(summarize(samples.skewMagnitudesUs))},
                       {"show_p99_us", showP99},
                       {"frames_dropped_reported", static_cast<double>(samples.framesDropped)}};
}

// The pooled figures, then each show's p99 in the order played.
std::string skewCell(const KindSamples& samples)
{
    const Summary s = summarize(samples.skewMagnitudesUs);
    std::string shows;
    for (double p99 : samples.showP99Us)
        shows += (shows.empty() ? "" : ", ") + fixed(p99, 0);
    return percentiles(s, true) + " (" + str(static_cast<std::int64_t>(s.count)) + " frames; each show's p99: " + shows + ")";
}

double latenessError(const Comparison& c)
{
    return std::fabs(c.reportedLateP99Us - c.measuredLateP99Us);
}

// The comparison where the report lay furthest from what was measured.
const Comparison* worstLateness(const std::vector<Comparison>& all)
{
    const auto worst = std::max_element(all.begin(), all.end(),
                                        [](const Comparison& a, const Comparison& b) { return latenessError(a) < latenessError(b); });
    return worst == all.end() ? nullptr : &*worst;
}

std::size_t latenessWithin(const std::vector<Comparison>& all, double boundUs)
{
    return std::size_t(std::count_if(all.begin(), all.end(), [boundUs](const Comparison& c) { return latenessError(c) <= boundUs; }));
}

const OffsetCheck* worstOffset(const std::vector<OffsetCheck>& all)
{
    const auto worst = std::max_element(all.begin(), all.end(), [](const OffsetCheck& a, const OffsetCheck& b) {
        return std::fabs(a.reportedUs - a.injectedUs) < std::fabs(b.reportedUs - b.injectedUs);
    });
    return worst == all.end() ? nullptr : &*worst;
}

QJsonArray latenessJson(const std::vector<Comparison>& all)
{
    QJsonArray rows;
    for (const Comparison& c : all) {
        rows.append(QJsonObject{{"show", QString::fromStdString(c.show)},
                                {"at_s", c.atS},
                                {"slave", c.slave + 1},
                                {"reported_late_p99_us", c.reportedLateP99Us},
                                {"measured_late_p99_us", c.measuredLateP99Us},
                                {"measured_skew_p99_us", c.measuredSkewP99Us},
                                {"frames", static_cast<double>(c.frames)}});
    }
    return rows;
}

QJsonArray offsetsJson(const std::vector<OffsetCheck>& all)
{
    QJsonArray rows;
    for (const OffsetCheck& c : all)
        rows.append(QJsonObject{{"slave", c.slave + 1}, {"reported_us", c.reportedUs}, {"injected_us", c.injectedUs}});
    return rows;
}

bool curlFound()
{
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("--version")});
    return curl.waitForFinished(5000) && curl.exitCode() == 0;
}

} // namespace

QJsonValue runPlayerHealthScenario(const ScenarioSettings& settings, ResultTable& table)
{
    const std::string scenario = "player show, " + str(kSlaves) + " slaves";
    if (!playerBuilt() || !curlFound()) {
        table.add(scenario, "every figure", playerBuilt() ? "left out: curl is not installed" : kPlayerNotBuilt);
        return QJsonValue(QJsonValue::Null);
    }
    // The frame logs and the players' files stay beside the figures, for a look at a show that stands out.
    const QString workDir = settings.outputDir + QStringLiteral("/player-health");
    if (!QDir().mkpath(workDir))
        throw std::runtime_error("cannot make " + workDir.toStdString());
    const QString clip = workDir + QStringLiteral("/clip.avi");
    if (QProcess::execute(playerPath(), {QStringLiteral("make-clip"), clip, QStringLiteral("--seconds"),
                                         QString::number(kClipSeconds)}) != 0)
        throw std::runtime_error("multinet-player make-clip failed");

    const int rounds = settings.quick ? 1 : 3;
    const int seconds = settings.quick ? 13 : 20;
    Collected collected;
    for (int round = 1; round <= rounds; ++round) {
        for (std::size_t k = 0; k < std::size(kKinds); ++k) {
            progress("player show: " + std::string(kKinds[k].label) + ", " + str(seconds) + " s (round " + str(round)
                     + " of " + str(rounds) + ")");
            playShow(kKinds[k], clip, workDir, std::string(kKinds[k].key) + "-" + str(round), seconds,
                     collected.kinds[k], collected);
        }
    }

    const Summary plain = summarize(collected.kinds[0].skewMagnitudesUs);
    const Summary keyed = summarize(collected.kinds[1].skewMagnitudesUs);
    const Summary paged = summarize(collected.kinds[2].skewMagnitudesUs);
    table.add(scenario, "skew p50 / p99 / max (us): keyed, against plain", skewCell(collected.kinds[1]),
              skewCell(collected.kinds[0]), ratioOf(keyed.p99, plain.p99));
    table.add(scenario, "skew p50 / p99 / max (us): a page open, against none", skewCell(collected.kinds[2]),
              skewCell(collected.kinds[0]), ratioOf(paged.p99, plain.p99));
    const Comparison* late = worstLateness(collected.lateness);
    table.add(scenario, "reported lateness p99 against the p99 measured over the same 10 s, worst of "
                            + str(static_cast<std::int64_t>(collected.lateness.size())) + " readings (us)",
              late ? fixed(late->reportedLateP99Us, 0) : "none reported",
              late ? fixed(late->measuredLateP99Us, 0) + " (slave " + str(late->slave + 1) + ", " + late->show + ")" : "-");
    table.add(scenario, "readings whose reported lateness p99 lies within 100 us of the measured one",
              str(static_cast<std::int64_t>(latenessWithin(collected.lateness, kLatenessBoundUs))) + " of "
                  + str(static_cast<std::int64_t>(collected.lateness.size())));
    const OffsetCheck* offset = worstOffset(collected.offsets);
    table.add(scenario, "reported clock offset against the injected one, worst of "
                            + str(static_cast<std::int64_t>(collected.offsets.size())) + " (us)",
              offset ? fixed(offset->reportedUs) : "none reported",
              offset ? fixed(offset->injectedUs, 0) + " (slave " + str(offset->slave + 1) + ")" : "-");

    QJsonObject kinds;
    for (std::size_t k = 0; k < std::size(kKinds); ++k)
        kinds.insert(QString::fromLatin1(kKinds[k].key), toJson(collected.kinds[k]));
    return QJsonObject{
        {"slaves", kSlaves},
        {"rounds", rounds},
        {"seconds_each", seconds},
        {"shows", kinds},
        {"keyed_skew_p99_ratio", ratioJson(keyed.p99, plain.p99)},
        {"page_open_skew_p99_ratio", ratioJson(paged.p99, plain.p99)},
        {"lateness_worst_difference_us", late ? QJsonValue(latenessError(*late)) : QJsonValue()},
        {"lateness_within_100_us", static_cast<double>(latenessWithin(collected.lateness, kLatenessBoundUs))},
        {"offset_worst_error_us", offset ? QJsonValue(std::fabs(offset->reportedUs - offset->injectedUs)) : QJsonValue()},
        {"lateness", latenessJson(collected.lateness)},
        {"offsets", offsetsJson(collected.offsets)}};
}
