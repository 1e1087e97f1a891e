// SPDX-License-Identifier: MIT
// Clock accuracy beside a peer: idle, under busy loops on every core, and beside the reference player
// decoding video (where it is built). A slave on 127.0.0.2 whose host clock is the monotonic clock plus a
// known offset runs clock synchronisation against a master on 127.0.0.1; its error is the mean offset
// handed to the host minus the injected offset. In the same run, for the same time and under the same
// load, GStreamer's network clock (provider and client on 127.0.0.1); its error is the client clock minus
// the monotonic clock. Steady figures leave out the first ten values; the settling figures follow the
// mean from the start. The slave's log tells how many samples the 0.8 ms delay gate dropped. A loaded
// condition also shows how much CPU its load took. In the idle condition a second library pair, in a
// keyed group (every datagram signed and checked), runs beside the first: what keys cost the clock.
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/BusyLoops.h"
#include "support/ChildProcess.h"
#include "support/DecodingLoad.h"
#include "support/PlayerBinary.h"
#include "support/PortPicker.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <optional>
#include <thread>

namespace {

#ifdef TAMO_BENCH_HAVE_GST
constexpr bool kWithGst = true;
#else
constexpr bool kWithGst = false;
#endif
constexpr std::int64_t kInjectedOffsetUs = 1234567;
constexpr std::size_t kSkippedValues = 10;
constexpr int kSampleMs = 100;
constexpr int kCollectTimeoutMs = 20000;
constexpr double kSettledWithinUs = 10.0;
// A session of the decoding load lasts about 5/6 of its clip (25 s for 30 s here): the full clip's
// outlasts its condition; the quick one's may not, and the load then starts the next session.
constexpr int kClipSeconds = 36;
constexpr int kQuickClipSeconds = 8;

// One value handed over (or read), with its time since the start of synchronisation.
struct TimedError
{
    double sinceStartMs;
    double errorUs;
};

struct ClockErrors
{
    Summary absErrorUs;
    double meanErrorUs = 0;
    std::size_t valuesSeen = 0;       // before skipping the first ten
    std::optional<double> settledMs;  // from the start until every later value lies within kSettledWithinUs
    std::vector<double> firstErrorsUs;  // the first values, to show how the mean settles
};

ClockErrors summarizeErrors(const std::vector<TimedError>& errors)
{
    ClockErrors result;
    result.valuesSeen = errors.size();
    std::vector<double> kept;
    std::vector<double> absolute;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (i < kSkippedValues) {
            result.firstErrorsUs.push_back(errors[i].errorUs);
            continue;
        }
        kept.push_back(errors[i].errorUs);
        absolute.push_back(std::fabs(errors[i].errorUs));
    }
    result.absErrorUs = summarize(absolute);
    result.meanErrorUs = summarize(kept).mean;
    for (std::size_t i = errors.size(); i-- > 0;) {
        if (std::fabs(errors[i].errorUs) > kSettledWithinUs)
            break;
        result.settledMs = errors[i].sinceStartMs;
    }
    return result;
}

std::vector<TimedError> libraryErrors(const Lines& slaveLines, std::int64_t startNs)
{
    std::vector<TimedError> errors;
    for (const auto& fields : slaveLines) {
        if (fields.size() == 3 && fields[0] == "offset") {
            errors.push_back({static_cast<double>(std::stoll(fields[1]) - startNs) / 1e6,
                              std::stod(fields[2]) * 1e6 - static_cast<double>(kInjectedOffsetUs)});
        }
    }
    return errors;
}

// The client reads its error every kSampleMs from the moment it has synchronised.
std::vector<TimedError> gstErrors(const Lines& clientLines)
{
    double syncedMs = 0;
    std::vector<TimedError> errors;
    for (const auto& fields : clientLines) {
        if (fields.size() == 2 && fields[0] == "synced")
            syncedMs = std::stod(fields[1]);
        if (fields.size() == 2 && fields[0] == "error") {
            errors.push_back({syncedMs + static_cast<double>(errors.size() * kSampleMs),
                              static_cast<double>(std::stoll(fields[1])) / 1000.0});
        }
    }
    return errors;
}

std::size_t countGateDiscards(const QString& logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    std::size_t discarded = 0;
    while (!log.atEnd()) {
        if (log.readLine().contains("m_netDelayDelt >"))
            ++discarded;
    }
    return discarded;
}

QJsonObject toJson(const ClockErrors& errors)
{
    QJsonArray first;
    for (double e : errors.firstErrorsUs)
        first.append(e);
    return QJsonObject{{"abs_error_us", toJson(errors.absErrorUs)},
                       {"mean_error_us", errors.meanErrorUs},
                       {"values", static_cast<double>(errors.valuesSeen)},
                       {"first_errors_us", first},
                       {"settled_ms", errors.settledMs ? QJsonValue(*errors.settledMs) : QJsonValue()}};
}

enum class Load { None, BusyLoops, Decoding };

struct Condition
{
    const char* key;         // in the JSON file
    const char* label;       // in the table
    Load load;
    const char* loadFigure;  // the table's figure for the CPU the load took
    bool keyedPair = false;  // a keyed library pair runs beside the unkeyed one
};

struct ConditionResult
{
    ClockErrors library;
    std::optional<ClockErrors> keyed;
    std::optional<ClockErrors> gst;
    std::size_t gateDiscarded = 0;
    std::optional<double> loadCpuPercent;  // of all cores, over the measured span
};

unsigned coreCount()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

// `clip` and `scratch` serve the decoding load.
std::unique_ptr<CpuLoad> startLoad(Load load, const QString& clip, const QTemporaryDir& scratch)
{
    switch (load) {
    case Load::BusyLoops:
        return std::make_unique<BusyLoops>(coreCount());
    case Load::Decoding:
        return std::make_unique<DecodingLoad>(clip, scratch.path());
    case Load::None:
        break;
    }
    return nullptr;
}

ConditionResult runCondition(const Condition& condition, int durationMs, const QString& clip)
{
    QTemporaryDir scratch;
    const QString slaveLog = scratch.filePath(QStringLiteral("slave.log"));
    const std::string port = str(pickFreeGroupPort());

    progress(std::string("clock, ") + condition.label + ": library pair and GStreamer pair side by side for "
             + str(durationMs) + " ms");
    ChildProcess slave("library-node", {"--slave", "--ip", "127.0.0.2", "--port", port, "--master-ip", "127.0.0.1",
                                        "--clock-offset-us", str(kInjectedOffsetUs), "--log", slaveLog.toStdString()});
    ChildProcess master("library-node", {"--master", "--ip", "127.0.0.1", "--port", port, "--clock-sync"});
    std::vector<ChildProcess*> all{&slave, &master};
    std::unique_ptr<ChildProcess> keyedSlave;
    std::unique_ptr<ChildProcess> keyedMaster;
    if (condition.keyedPair) {
        const std::string keyedPort = str(pickFreeGroupPort());
        keyedSlave = std::make_unique<ChildProcess>(
            "library-node", std::vector<std::string>{"--slave", "--ip", "127.0.0.3", "--port", keyedPort, "--master-ip",
                                                     "127.0.0.1", "--clock-offset-us", str(kInjectedOffsetUs), "--keyed"});
        keyedMaster = std::make_unique<ChildProcess>(
            "library-node", std::vector<std::string>{"--master", "--ip", "127.0.0.1", "--port", keyedPort, "--clock-sync", "--keyed"});
        all.push_back(keyedSlave.get());
        all.push_back(keyedMaster.get());
    }
    std::unique_ptr<ChildProcess> provider;
    std::unique_ptr<ChildProcess> client;
    if (kWithGst) {
        const std::string gstPort = str(pickFreeGroupPort());
        provider = std::make_unique<ChildProcess>("gst-provider",
                                                  std::vector<std::string>{"--ip", "127.0.0.1", "--port", gstPort});
        client = std::make_unique<ChildProcess>(
            "gst-client", std::vector<std::string>{"--ip", "127.0.0.1", "--port", gstPort, "--duration-ms",
                                                   str(durationMs), "--sample-ms", str(kSampleMs)});
        all.push_back(provider.get());
        all.push_back(client.get());
    }
    waitUntilReady(all);
    ConditionResult result;
    std::int64_t startNs = 0;
    {
        const std::unique_ptr<CpuLoad> load = startLoad(condition.load, clip, scratch);
        const std::int64_t loadStartUs = load ? load->cpuUs() : 0;
        startNs = monotonicNs();
        master.send("go");
        if (keyedMaster)
            keyedMaster->send("go");
        if (client)
            client->send("go");
        sleepForMs(durationMs);
        if (client)
            client->waitFor("actions-done", kCollectTimeoutMs);
        if (load) {
            const double spanUs = static_cast<double>(monotonicNs() - startNs) / 1000.0;
            result.loadCpuPercent = 100.0 * static_cast<double>(load->cpuUs() - loadStartUs) / (spanUs * coreCount());
        }
    }
    if (client) {
        result.gst = summarizeErrors(gstErrors(client->stopAndCollect(kCollectTimeoutMs)));
        provider->stopAndCollect(kCollectTimeoutMs);
    }
    result.library = summarizeErrors(libraryErrors(slave.stopAndCollect(kCollectTimeoutMs), startNs));
    master.stopAndCollect(kCollectTimeoutMs);
    if (keyedSlave) {
        result.keyed = summarizeErrors(libraryErrors(keyedSlave->stopAndCollect(kCollectTimeoutMs), startNs));
        keyedMaster->stopAndCollect(kCollectTimeoutMs);
    }
    result.gateDiscarded = countGateDiscards(slaveLog);
    return result;
}

std::string settledText(const std::optional<double>& ms)
{
    return ms ? fixed(*ms, 0) : "never";
}

std::string firstErrorsText(const ClockErrors& errors)
{
    std::string text;
    for (std::size_t i : {std::size_t(0), std::size_t(4), std::size_t(9)}) {
        if (i < errors.firstErrorsUs.size())
            text += (text.empty() ? "" : " / ") + fixed(errors.firstErrorsUs[i]);
    }
    return text.empty() ? "-" : text;
}

std::string scenarioName(const Condition& condition)
{
    return std::string("clock error vs GStreamer, ") + condition.label;
}

void addRows(ResultTable& table, const Condition& condition, const ConditionResult& r)
{
    const std::string scenario = scenarioName(condition);
    const std::string noGst = "n/a (built without GStreamer)";
    const auto addRow = [&](const std::string& figure, double ours, double theirs) {
        table.add(scenario, figure, fixed(ours), r.gst ? fixed(theirs) : noGst,
                  r.gst ? ratioOf(ours, theirs) : std::nullopt);
    };
    addRow("abs. error p50 (us)", r.library.absErrorUs.p50, r.gst ? r.gst->absErrorUs.p50 : 0);
    addRow("abs. error p99 (us)", r.library.absErrorUs.p99, r.gst ? r.gst->absErrorUs.p99 : 0);
    table.add(scenario, "values measured; samples dropped by 0.8 ms gate",
              str(static_cast<std::int64_t>(r.library.absErrorUs.count)) + "; "
                  + str(static_cast<std::int64_t>(r.gateDiscarded)),
              r.gst ? str(static_cast<std::int64_t>(r.gst->absErrorUs.count)) + "; -" : noGst);
    table.add(scenario, "error of values 1 / 5 / 10 after the start (us)", firstErrorsText(r.library),
              r.gst ? firstErrorsText(*r.gst) : noGst);
    table.add(scenario, "within 10 us for good, ms after the start", settledText(r.library.settledMs),
              r.gst ? settledText(r.gst->settledMs) : noGst);
    if (r.keyed) {
        table.add(scenario, "keyed group beside it: abs. error p50 (us), against unkeyed", fixed(r.keyed->absErrorUs.p50),
                  fixed(r.library.absErrorUs.p50), ratioOf(r.keyed->absErrorUs.p50, r.library.absErrorUs.p50));
        table.add(scenario, "keyed group beside it: abs. error p99 (us), against unkeyed", fixed(r.keyed->absErrorUs.p99),
                  fixed(r.library.absErrorUs.p99), ratioOf(r.keyed->absErrorUs.p99, r.library.absErrorUs.p99));
    }
    if (r.loadCpuPercent)
        table.add(scenario, condition.loadFigure, fixed(*r.loadCpuPercent), "(the same load)");
}

QJsonObject toJson(const ConditionResult& r)
{
    QJsonObject library = toJson(r.library);
    library.insert("gate_discarded", static_cast<double>(r.gateDiscarded));
    return QJsonObject{
        {"library", library},
        {"keyed", r.keyed ? QJsonValue(toJson(*r.keyed)) : QJsonValue()},
        {"gstreamer", r.gst ? QJsonValue(toJson(*r.gst)) : QJsonValue()},
        {"p50_ratio", r.gst ? ratioJson(r.library.absErrorUs.p50, r.gst->absErrorUs.p50) : QJsonValue()},
        {"p99_ratio", r.gst ? ratioJson(r.library.absErrorUs.p99, r.gst->absErrorUs.p99) : QJsonValue()},
        {"load_cpu_percent", r.loadCpuPercent ? QJsonValue(*r.loadCpuPercent) : QJsonValue()}};
}

} // namespace

QJsonValue runClockScenario(const ScenarioSettings& settings, ResultTable& table)
{
    static const Condition kConditions[] = {
        {"idle", "idle", Load::None, nullptr, true},
        {"loaded", "busy loops on every core", Load::BusyLoops, "load: CPU used by the busy loops (% of all cores)"},
        {"decoding", "multinet-player decoding", Load::Decoding, "load: CPU used by the players (% of all cores)"},
    };
    // Ten values are skipped before the measured span starts.
    const int durationMs = (settings.quick ? 3000 : 20000) + static_cast<int>(kSkippedValues) * kSampleMs;
    QJsonObject results{{"duration_ms", durationMs},
                        {"injected_offset_us", static_cast<double>(kInjectedOffsetUs)},
                        {"cores", static_cast<double>(coreCount())}};
    QTemporaryDir clipDir;
    QString clip;
    for (const Condition& condition : kConditions) {
        if (condition.load == Load::Decoding) {
            if (!playerBuilt()) {
                table.add(scenarioName(condition), "every figure", kPlayerNotBuilt);
                results.insert(QString::fromLatin1(condition.key), QJsonValue());
                continue;
            }
            const int clipSeconds = settings.quick ? kQuickClipSeconds : kClipSeconds;
            progress("clock: making the decoding load's clip (" + str(clipSeconds) + " s)");
            clip = DecodingLoad::makeClip(clipDir.path(), clipSeconds);
        }
        const ConditionResult r = runCondition(condition, durationMs, clip);
        addRows(table, condition, r);
        results.insert(QString::fromLatin1(condition.key), toJson(r));
    }
    return results;
}
