// SPDX-License-Identifier: MIT
// tamo_bench: the benchmarks of TamoMultiNetControl. Without --role it is the driver: it runs the
// scenarios (each starts this program again in the roles it needs), prints one table and writes the
// same figures as JSON. See tamo_bench --help.
#include "roles/Roles.h"
#include "scenarios/Scenarios.h"
#include "support/SoundRig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

struct Scenario
{
    const char* name;
    QJsonValue (*run)(const ScenarioSettings&, ResultTable&);
    bool byDefault = true;  // run when no --scenario is given; the long ones only when named
};

constexpr Scenario kScenarios[] = {
    {"latency", runLatencyScenario},          {"throughput", runThroughputScenario},
    {"clock", runClockScenario},              {"master-scale", runMasterScaleScenario},
    {"host-cost", runHostCostScenario},       {"micro", runMicroScenario},
    {"playback", runPlaybackScenario},        {"player-health", runPlayerHealthScenario},
    // Root only, and about 90 minutes in its full form.
    {"lossy", runLossyScenario, false},
    // Eight runs of 2 and 4 players on a busy PC (--programmes N for N runs): about 15 minutes.
    {"playback-loaded", runLoadedPlaybackScenario, false},
    // About 27 minutes of real players (ten of them twice): only when asked for.
    {"longrun", runLongrunScenario, false},
    // A private PulseAudio and libfaketime, and 35 s of three players with sound: only when asked for.
    {"playback-sound", runSoundScenario, false},
};

QStringList scenarioNames(bool onlyDefault = false)
{
    QStringList names;
    for (const Scenario& scenario : kScenarios) {
        if (scenario.byDefault || !onlyDefault)
            names << QString::fromLatin1(scenario.name);
    }
    return names;
}

// The driver's command line; the role processes it starts take Args instead (see Roles.h).
struct DriverOptions
{
    bool quick = false;
    QStringList scenarios;  // empty: those run by default
    QString jsonPath;
    int programmes = 0;  // 0: each scenario's own count
    QString soundServer;
};

// Parses the driver's options; prints the help or a usage error and exits the process for those.
DriverOptions parseDriverOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the benchmarks of TamoMultiNetControl across processes on loopback, prints one table\n"
                       "and writes the same figures as JSON.\nScenarios: %1.\nDefault: %2 (the others run only when named).")
            .arg(scenarioNames().join(QStringLiteral(", ")), scenarioNames(true).join(QStringLiteral(", "))));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("The quick form of each scenario: a few seconds each."));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("Runs only this scenario; may be given more than once."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Where the figures go (default: bench-results.json)."),
                                  QStringLiteral("FILE"), QStringLiteral("bench-results.json"));
    const QCommandLineOption programmes(QStringLiteral("programmes"),
                                        QStringLiteral("How many programmes the lossy scenario plays at each level (default: 10; --quick: 1)."),
                                        QStringLiteral("N"));
    const QCommandLineOption soundServer(QStringLiteral("sound-server"),
                                         QStringLiteral("The server whose null sink the playback-sound scenario hears: pipewire-alsa (default), one per player on "
                                                        "its clock through PipeWire's ALSA plugin; or pulseaudio or pipewire, one for every player."),
                                         QStringLiteral("NAME"), QStringLiteral("pipewire-alsa"));
    parser.addOptions({quick, scenario, json, programmes, soundServer});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tamo_bench: unexpected argument '%s'\n(see tamo_bench --help)\n",
                     qPrintable(parser.positionalArguments().front()));
        std::exit(2);
    }
    DriverOptions options{parser.isSet(quick), parser.values(scenario), parser.value(json), 0, parser.value(soundServer)};
    if (!isSoundServer(options.soundServer)) {
        std::fprintf(stderr, "tamo_bench: --sound-server is pulseaudio, pipewire or pipewire-alsa, not '%s'\n", qPrintable(options.soundServer));
        std::exit(2);
    }
    if (parser.isSet(programmes)) {
        bool ok = false;
        options.programmes = parser.value(programmes).toInt(&ok);
        if (!ok || options.programmes < 1) {
            std::fprintf(stderr, "tamo_bench: --programmes takes a whole number of at least 1, not '%s'\n",
                         qPrintable(parser.value(programmes)));
            std::exit(2);
        }
    }
    for (const QString& name : options.scenarios) {
        if (!scenarioNames().contains(name)) {
            std::fprintf(stderr, "tamo_bench: unknown scenario '%s'; the scenarios are %s\n", qPrintable(name),
                         qPrintable(scenarioNames().join(QStringLiteral(", "))));
            std::exit(2);
        }
    }
    return options;
}

QString commandLine(int argc, char** argv)
{
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    return words.join(QLatin1Char(' '));
}

int runDriver(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const DriverOptions options = parseDriverOptions(app);
    ScenarioSettings settings;
    settings.quick = options.quick;
    settings.programmes = options.programmes;
    settings.soundServer = options.soundServer;
    settings.outputDir = QFileInfo(options.jsonPath).absolutePath();
    QJsonObject results{{"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                        {"command", commandLine(argc, argv)},
                        {"quick", settings.quick},
                        {"cores", QThread::idealThreadCount()}};
    ResultTable table;
    bool failed = false;
    for (const Scenario& scenario : kScenarios) {
        const bool named = options.scenarios.contains(QString::fromLatin1(scenario.name));
        if (options.scenarios.isEmpty() ? !scenario.byDefault : !named)
            continue;
        try {
            results.insert(QString::fromLatin1(scenario.name), scenario.run(settings, table));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench: scenario %s failed: %s\n", scenario.name, e.what());
            failed = true;
        }
    }
    std::printf("%s", table.markdown().c_str());
    const QString& jsonPath = options.jsonPath;
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
        // The processes a scenario starts carry --role; only the driver is for people.
        if (std::any_of(argv + 1, argv + argc, [](const char* word) { return std::strcmp(word, "--role") == 0; }))
            return runRole(Args(argc, argv));
        return runDriver(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tamo_bench: %s\n", e.what());
        return 2;
    }
}
