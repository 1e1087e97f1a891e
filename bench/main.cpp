// SPDX-License-Identifier: MIT
// tamo_bench: the benchmarks of TamoMultiNetControl. Without --role it is the driver: it runs the
// scenarios (each starts this program again in the roles it needs), prints one table and writes the
// same figures as JSON.
//   tamo_bench [--quick] [--scenario NAME ...] [--json FILE]
// Scenarios: latency, throughput, clock, master-scale, host-cost, micro (default: all of them).
#include "roles/Roles.h"
#include "scenarios/Scenarios.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QThread>

#include <cstdio>
#include <exception>

namespace {

struct Scenario
{
    const char* name;
    QJsonValue (*run)(const ScenarioSettings&, ResultTable&);
};

constexpr Scenario kScenarios[] = {
    {"latency", runLatencyScenario},          {"throughput", runThroughputScenario},
    {"clock", runClockScenario},              {"master-scale", runMasterScaleScenario},
    {"host-cost", runHostCostScenario},       {"micro", runMicroScenario},
};

bool selected(const Args& args, const char* name)
{
    const std::vector<std::string> chosen = args.all("scenario");
    return chosen.empty() || std::find(chosen.begin(), chosen.end(), name) != chosen.end();
}

QString commandLine(int argc, char** argv)
{
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    return words.join(QLatin1Char(' '));
}

int runDriver(const Args& args, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ScenarioSettings settings;
    settings.quick = args.has("quick");
    QJsonObject results{{"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                        {"command", commandLine(argc, argv)},
                        {"quick", settings.quick},
                        {"cores", QThread::idealThreadCount()}};
    ResultTable table;
    bool failed = false;
    for (const Scenario& scenario : kScenarios) {
        if (!selected(args, scenario.name))
            continue;
        try {
            results.insert(QString::fromLatin1(scenario.name), scenario.run(settings, table));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench: scenario %s failed: %s\n", scenario.name, e.what());
            failed = true;
        }
    }
    std::printf("%s", table.markdown().c_str());
    const QString jsonPath = QString::fromStdString(args.text("json", "bench-results.json"));
    QFile json(jsonPath);
    if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || json.write(QJsonDocument(results).toJson()) < 0) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(jsonPath));
        return 1;
    }
    std::fprintf(stderr, "bench: figures written to %s\n", qPrintable(jsonPath));
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const Args args(argc, argv);
        if (args.has("role"))
            return runRole(args);
        return runDriver(args, argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tamo_bench: %s\n", e.what());
        return 2;
    }
}
