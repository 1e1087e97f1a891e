// SPDX-License-Identifier: MIT
#include "PlayerRunOptions.h"

#include "SubcommandLine.h"

#include <QCommandLineParser>
#include <QProcess>

#include <cstdio>

namespace {

constexpr char kProgram[] = "multinet-lab";
// The player's own bounds of --drift-ppm and --for, which the run hands on to it.
constexpr double kMaxDriftPpm = 100000;
constexpr double kMaxSeconds = 30 * 86400;

// A comma-separated list of reals, each within [min, max].
bool readReals(const QCommandLineParser& parser, const char* name, double min, double max, std::vector<double>& out,
               int& exitCode)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option))
        return true;
    for (const QString& word : parser.value(option).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const double value = word.toDouble(&ok);
        if (!ok || value < min || value > max) {
            std::fprintf(stderr, "%s: --%s takes numbers from %g to %g separated by commas, got '%s'\n", kProgram, name,
                         min, max, qPrintable(word));
            exitCode = 2;
            return false;
        }
        out.push_back(value);
    }
    return true;
}

template <typename T>
bool readInteger(const QCommandLineParser& parser, const char* name, qint64 min, qint64 max, T& out, int& exitCode)
{
    return SubcommandLine::readInteger(kProgram, parser, name, min, max, out, exitCode);
}

bool refuse(const char* why, int& exitCode)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, why);
    exitCode = 2;
    return false;
}

} // namespace

std::optional<PlayerRunOptions> parseRunOptions(const QStringList& arguments, int& exitCode)
{
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("slaves"), QStringLiteral("How many slaves (1 to 16, default 3)."), QStringLiteral("N")},
        {QStringLiteral("port"), QStringLiteral("The UDP port (default: a free one)."), QStringLiteral("PORT")},
        {QStringLiteral("clip"), QStringLiteral("The media file to play (default: a test clip made on first use)."), QStringLiteral("FILE")},
        {QStringLiteral("clip-seconds"), QStringLiteral("The length of the test clip made when --clip is not given (2 to 600, default 6)."), QStringLiteral("S")},
        {QStringLiteral("work-dir"), QStringLiteral("Keep the clip and the frame logs in DIR."), QStringLiteral("DIR")},
        {QStringLiteral("margin-ms"), QStringLiteral("How far ahead each command's instant is chosen (default 200)."), QStringLiteral("MS")},
        {QStringLiteral("pause-ms"), QStringLiteral("How long the session holds its pause (default 400)."), QStringLiteral("MS")},
        {QStringLiteral("control"), QStringLiteral("Control run: the slaves ignore the clock offset; the skew must show the injected offsets.")},
        {QStringLiteral("anchor"), QStringLiteral("Also play the session on GStreamer's network clock, for comparison.")},
        {QStringLiteral("clock"), QStringLiteral("Which clock places the frames: library (the default) or gstreamer-net "
                                                 "(only the session on GStreamer's network clock)."), QStringLiteral("NAME")},
        {QStringLiteral("slave-prefix"), QStringLiteral("Start each slave under COMMAND (words split as a shell would; "
                                                        "{ppm} and {rate} in it become the slave's --drift-ppm value and "
                                                        "1 + ppm/10^6). A prefix that names either drifts the whole slave "
                                                        "process itself, e.g. the multinet-timewarp script beside this "
                                                        "program: 'multinet-timewarp {ppm}'; the slaves then get no "
                                                        "simulated drift of their own."), QStringLiteral("COMMAND")},
        {QStringLiteral("window"), QStringLiteral("A window per player (needs a display); headless sinks otherwise, "
                                                  "whose figures include the wake-up of the thread that shows a frame.")},
        {QStringLiteral("bound-us"), QStringLiteral("The p99 skew a passing run stays within (default 1000)."), QStringLiteral("US")},
        {QStringLiteral("median-bound-us"), QStringLiteral("Plain playback: the signed median skew of every 10 s stays within US "
                                                           "(a drift shows there first, before the tails)."), QStringLiteral("US")},
        {QStringLiteral("json"), QStringLiteral("Write the figures to FILE as JSON."), QStringLiteral("FILE")},
        {QStringLiteral("verbose"), QStringLiteral("Show every line the players print.")},
        {QStringLiteral("drift-ppm"), QStringLiteral("Simulate PCs whose oscillators drift: slave i runs at the i-th of these ppm "
                                                     "(in turn), the master at 0."), QStringLiteral("PPM,...")},
        {QStringLiteral("no-rate-correction"), QStringLiteral("Control run: the slaves convert instants with the mean clock offset "
                                                          "instead of following the master's time line.")},
        {QStringLiteral("loop"), QStringLiteral("The master plays the clip again and again, as plain playback, until it is stopped.")},
        {QStringLiteral("playlist"), QStringLiteral("The master plays the items listed in FILE (one media path or URI a line) in turn."), QStringLiteral("FILE")},
        {QStringLiteral("for"), QStringLiteral("The master stops the programme after SECONDS (plain playback)."), QStringLiteral("SECONDS")},
    });
    if (!SubcommandLine::parse(kProgram, parser, arguments,
                               "multinet-lab run: a master and N slaves of multinet-player on loopback play a real clip "
                               "in step, and the skew between their screens is measured",
                               exitCode))
        return std::nullopt;
    PlayerRunOptions options;
    if (!readInteger(parser, "slaves", 1, 16, options.slaves, exitCode) ||
        !readInteger(parser, "port", 1, 65535, options.port, exitCode) ||
        !readInteger(parser, "margin-ms", 1, 60000, options.marginMs, exitCode) ||
        !readInteger(parser, "pause-ms", 0, 60000, options.pauseMs, exitCode) ||
        !readInteger(parser, "bound-us", 1, 10000000, options.boundUs, exitCode) ||
        !readInteger(parser, "median-bound-us", 1, 10000000, options.medianBoundUs, exitCode) ||
        !SubcommandLine::readReal(kProgram, parser, "clip-seconds", 2, 600, options.clipSeconds, exitCode) ||
        !SubcommandLine::readReal(kProgram, parser, "for", 0.001, kMaxSeconds, options.forSeconds, exitCode) ||
        !readReals(parser, "drift-ppm", -kMaxDriftPpm, kMaxDriftPpm, options.driftPpm, exitCode))
        return std::nullopt;
    options.clip = parser.value(QStringLiteral("clip"));
    options.workDir = parser.value(QStringLiteral("work-dir"));
    options.control = parser.isSet(QStringLiteral("control"));
    options.anchor = parser.isSet(QStringLiteral("anchor"));
    if (parser.isSet(QStringLiteral("clock"))) {
        const QString clock = parser.value(QStringLiteral("clock"));
        if (clock != QLatin1String("library") && clock != QLatin1String("gstreamer-net")) {
            std::fprintf(stderr, "%s: --clock takes library or gstreamer-net, got '%s'\n", kProgram, qPrintable(clock));
            exitCode = 2;
            return std::nullopt;
        }
        options.netClockOnly = clock == QLatin1String("gstreamer-net");
    }
    if (options.netClockOnly && (options.anchor || options.control)) {
        refuse("--clock gstreamer-net plays only that session: not with --anchor or --control", exitCode);
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("slave-prefix"))) {
        options.slavePrefix = QProcess::splitCommand(parser.value(QStringLiteral("slave-prefix")));
        if (options.slavePrefix.isEmpty()) {
            refuse("--slave-prefix names no command", exitCode);
            return std::nullopt;
        }
    }
    options.window = parser.isSet(QStringLiteral("window"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.json = parser.value(QStringLiteral("json"));
    options.rateCorrection = !parser.isSet(QStringLiteral("no-rate-correction"));
    options.loop = parser.isSet(QStringLiteral("loop"));
    options.playlist = parser.value(QStringLiteral("playlist"));
    return options;
}
