// SPDX-License-Identifier: MIT
// Clock accuracy beside a peer. A slave on 127.0.0.2 whose host clock is the monotonic clock plus a known
// offset runs clock synchronisation against a master on 127.0.0.1; its error is the mean offset handed
// to the host minus the injected offset, over the values after the first ten. In the same run, for the
// same time, GStreamer's network clock (provider and client on 127.0.0.1); its error is the client
// clock minus the monotonic clock. The slave's log tells how many samples the 0.8 ms delay gate dropped.
#include "scenarios/Scenarios.h"

#include "support/BenchClock.h"
#include "support/ChildProcess.h"
#include "support/PortPicker.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <optional>

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

struct ClockErrors
{
    Summary absErrorUs;
    double meanErrorUs = 0;
    std::size_t valuesSeen = 0;  // before skipping the first ten
};

ClockErrors summarizeErrors(const std::vector<double>& errorsUs)
{
    ClockErrors result;
    result.valuesSeen = errorsUs.size();
    std::vector<double> kept;
    std::vector<double> absolute;
    for (std::size_t i = kSkippedValues; i < errorsUs.size(); ++i) {
        kept.push_back(errorsUs[i]);
        absolute.push_back(std::fabs(errorsUs[i]));
    }
    result.absErrorUs = summarize(absolute);
    result.meanErrorUs = summarize(kept).mean;
    return result;
}

std::vector<double> libraryErrors(const Lines& slaveLines)
{
    std::vector<double> errorsUs;
    for (const auto& fields : slaveLines) {
        if (fields.size() == 3 && fields[0] == "offset")
            errorsUs.push_back(std::stod(fields[2]) * 1e6 - static_cast<double>(kInjectedOffsetUs));
    }
    return errorsUs;
}

std::vector<double> gstErrors(const Lines& clientLines)
{
    std::vector<double> errorsUs;
    for (const auto& fields : clientLines) {
        if (fields.size() == 2 && fields[0] == "error")
            errorsUs.push_back(static_cast<double>(std::stoll(fields[1])) / 1000.0);
    }
    return errorsUs;
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
    return QJsonObject{{"abs_error_us", toJson(errors.absErrorUs)},
                       {"mean_error_us", errors.meanErrorUs},
                       {"values", static_cast<double>(errors.valuesSeen)}};
}

} // namespace

QJsonValue runClockScenario(const ScenarioSettings& settings, ResultTable& table)
{
    // Ten values are skipped before the measured span starts.
    const int durationMs = (settings.quick ? 3000 : 20000) + static_cast<int>(kSkippedValues) * kSampleMs;
    QTemporaryDir scratch;
    const QString slaveLog = scratch.filePath(QStringLiteral("slave.log"));
    const std::string port = str(pickFreeGroupPort());

    progress("clock: library pair and GStreamer pair side by side for " + str(durationMs) + " ms");
    ChildProcess slave("library-node", {"--slave", "--ip", "127.0.0.2", "--port", port, "--master-ip", "127.0.0.1",
                                        "--clock-offset-us", str(kInjectedOffsetUs), "--log", slaveLog.toStdString()});
    ChildProcess master("library-node", {"--master", "--ip", "127.0.0.1", "--port", port, "--clock-sync"});
    std::vector<ChildProcess*> all{&slave, &master};
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
    master.send("go");
    if (client)
        client->send("go");
    sleepForMs(durationMs);

    std::optional<ClockErrors> gst;
    double gstSyncMs = -1;
    if (client) {
        client->waitFor("actions-done", kCollectTimeoutMs);
        const Lines clientLines = client->stopAndCollect(kCollectTimeoutMs);
        provider->stopAndCollect(kCollectTimeoutMs);
        gst = summarizeErrors(gstErrors(clientLines));
        for (const auto& fields : clientLines) {
            if (fields.size() == 2 && fields[0] == "synced")
                gstSyncMs = std::stod(fields[1]);
        }
    }
    const ClockErrors library = summarizeErrors(libraryErrors(slave.stopAndCollect(kCollectTimeoutMs)));
    master.stopAndCollect(kCollectTimeoutMs);
    const std::size_t discarded = countGateDiscards(slaveLog);

    const std::string scenario = "clock error vs GStreamer net clock";
    const auto addRow = [&](const std::string& figure, double ours, double theirs) {
        table.add(scenario, figure, fixed(ours), gst ? fixed(theirs) : "n/a (built without GStreamer)",
                  gst ? ratioOf(ours, theirs) : std::nullopt);
    };
    addRow("abs. error p50 (us)", library.absErrorUs.p50, gst ? gst->absErrorUs.p50 : 0);
    addRow("abs. error p99 (us)", library.absErrorUs.p99, gst ? gst->absErrorUs.p99 : 0);
    table.add(scenario, "values measured; samples dropped by 0.8 ms gate",
              str(static_cast<std::int64_t>(library.absErrorUs.count)) + "; " + str(static_cast<std::int64_t>(discarded)),
              gst ? str(static_cast<std::int64_t>(gst->absErrorUs.count)) + "; -" : "-");

    QJsonObject libraryObject = toJson(library);
    libraryObject.insert("gate_discarded", static_cast<double>(discarded));
    QJsonValue gstObject(QJsonValue::Null);
    if (gst) {
        QJsonObject object = toJson(*gst);
        object.insert("ms_to_first_sync", gstSyncMs);
        gstObject = object;
    }
    return QJsonObject{{"duration_ms", durationMs},
                       {"injected_offset_us", static_cast<double>(kInjectedOffsetUs)},
                       {"library", libraryObject},
                       {"gstreamer", gstObject},
                       {"p50_ratio", gst ? ratioJson(library.absErrorUs.p50, gst->absErrorUs.p50) : QJsonValue()},
                       {"p99_ratio", gst ? ratioJson(library.absErrorUs.p99, gst->absErrorUs.p99) : QJsonValue()}};
}
