// SPDX-License-Identifier: MIT
#include "PlayerOptions.h"

#include "SlaveAdmission.h"
#include "SubcommandLine.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <algorithm>
#include <cstdio>

namespace {

constexpr char kProgram[] = "multinet-player";

// Parses `arguments` (program, subcommand, options); false with exitCode set when the caller must stop.
bool parseCommandLine(QCommandLineParser& parser, const QStringList& arguments, const char* synopsis, int& exitCode)
{
    return SubcommandLine::parse(kProgram, parser, arguments, synopsis, exitCode);
}

// Reads an integer option within [min, max]; a wrong value prints a message and sets exitCode 2.
template <typename T>
bool readInteger(const QCommandLineParser& parser, const char* name, qint64 min, qint64 max, T& out, int& exitCode)
{
    return SubcommandLine::readInteger(kProgram, parser, name, min, max, out, exitCode);
}

// Reads a real option within [min, max]; a wrong value prints a message and sets exitCode 2.
bool readReal(const QCommandLineParser& parser, const char* name, double min, double max, double& out, int& exitCode)
{
    return SubcommandLine::readReal(kProgram, parser, name, min, max, out, exitCode);
}

constexpr double kMaxDriftPpm = 100000;
constexpr double kMaxSeconds = 30 * 86400;

// The options of plain playback (`master`).
const QList<QCommandLineOption>& programmeOptions()
{
    static const QList<QCommandLineOption> options{
        {QStringLiteral("loop"), QStringLiteral("Play the programme again and again, as plain playback, until it is stopped.")},
        {QStringLiteral("playlist"), QStringLiteral("Play the items listed in FILE (one media path or URI a line) in turn."), QStringLiteral("FILE")},
        {QStringLiteral("for"), QStringLiteral("Stop the programme after SECONDS (plain playback)."), QStringLiteral("SECONDS")},
    };
    return options;
}

// A pause long enough to look at, or to grab the screens in (`master`).
QCommandLineOption pauseOption()
{
    return {QStringLiteral("pause-ms"), QStringLiteral("How long the session holds its pause (default 400)."), QStringLiteral("MS")};
}

// Full screen when asked for; a window when asked for, or when a display exists and headless sinks were
// not asked for. False, with exitCode 2, for choices that exclude each other.
bool readVideoOutput(const QCommandLineParser& parser, VideoOutput& output, int& exitCode)
{
    const bool fullScreen = parser.isSet(QStringLiteral("fullscreen"));
    const bool windowOrNone = parser.isSet(QStringLiteral("window")) || parser.isSet(QStringLiteral("headless"));
    if ((fullScreen && windowOrNone) || (parser.isSet(QStringLiteral("output")) && !fullScreen)) {
        std::fprintf(stderr, "multinet-player: %s\n",
                     fullScreen ? "--fullscreen goes with neither --window nor --headless" : "--output goes with --fullscreen");
        exitCode = 2;
        return false;
    }
    if (fullScreen) {
        output.kind = VideoOutput::FullScreen;
        output.output = parser.value(QStringLiteral("output"));
        return true;
    }
    output = parser.isSet(QStringLiteral("window")) ||
             (!parser.isSet(QStringLiteral("headless")) && !qEnvironmentVariableIsEmpty("DISPLAY"));
    return true;
}

bool isIpv4(const QString& text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol;
}

constexpr int kMinClipSide = 16;
constexpr int kMaxClipSide = 4096;

// "WxH", each side within [kMinClipSide, kMaxClipSide]; nothing for anything else.
std::optional<QSize> parseSize(const QString& text)
{
    const QStringList sides = text.split(QLatin1Char('x'));
    if (sides.size() != 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const QSize size(sides[0].toInt(&widthOk), sides[1].toInt(&heightOk));
    if (!widthOk || !heightOk || std::min(size.width(), size.height()) < kMinClipSide ||
        std::max(size.width(), size.height()) > kMaxClipSide)
        return std::nullopt;
    return size;
}

// The key file of --key-file, read and checked now: a player must not start unkeyed by mistake.
bool readKeyFile(const QCommandLineParser& parser, std::optional<KeyFile>& out, int& exitCode)
{
    const QString option = QStringLiteral("key-file");
    if (!parser.isSet(option))
        return true;
    QString why;
    out = KeyFile::read(parser.value(option), why);
    if (!out) {
        std::fprintf(stderr, "multinet-player: --key-file %s: %s\n", qPrintable(parser.value(option)), qPrintable(why));
        exitCode = 2;
    }
    return bool(out);
}

bool missing(const char* what, int& exitCode)
{
    std::fprintf(stderr, "multinet-player: %s is missing\n", what);
    exitCode = 2;
    return true;
}

} // namespace

QString trimRefusal(int ms, int marginMs)
{
    if (ms > kMaxTrimMs)
        return QStringLiteral("a trim is at most %1 ms").arg(kMaxTrimMs);
    if (ms < minTrimMs(marginMs))
        return QStringLiteral("a screen can show its frames at most %1 ms early: each command comes %2 ms ahead of its "
                              "instant (the master's --margin-ms), and a player needs %3 ms of that")
            .arg(-minTrimMs(marginMs))
            .arg(marginMs)
            .arg(kTrimMarginLeftMs);
    return QString();
}

std::optional<PlayerOptions> parsePlayerOptions(const QStringList& arguments, bool master, int& exitCode)
{
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("ip"), QStringLiteral("The IPv4 address to bind (a loopback or test-host address)."), QStringLiteral("IP")},
        {QStringLiteral("port"), QStringLiteral("The group's UDP port."), QStringLiteral("PORT")},
        {QStringLiteral("group"), QStringLiteral("The group id (default 0)."), QStringLiteral("ID")},
        {QStringLiteral("clock-offset-us"), QStringLiteral("This host's clock is off by this much."), QStringLiteral("US")},
        {QStringLiteral("frame-log"), QStringLiteral("Write every shown frame to FILE as it plays."), QStringLiteral("FILE")},
        {QStringLiteral("window"), QStringLiteral("Show the frames in a window (the default when DISPLAY is set).")},
        {QStringLiteral("headless"), QStringLiteral("Send the frames to a headless sink, even with a display.")},
        {QStringLiteral("fullscreen"), QStringLiteral("Fill an output with the frames, without decorations or cursor: of the X "
                                                      "display where DISPLAY is set, else of the console (KMS).")},
        {QStringLiteral("output"), QStringLiteral("The output to fill: its name or its number from 0 on the X display, the DRM "
                                                  "connector's id on the console (default: the first)."), QStringLiteral("NAME")},
        {QStringLiteral("label"), QStringLiteral("Text drawn on the window's frames."), QStringLiteral("TEXT")},
        {QStringLiteral("no-audio"), QStringLiteral("Play the frames only, not the programme's sound (which otherwise plays on "
                                                    "ALSA's default device, through the sound server where one runs, else on PulseAudio's own sink, "
                                                    "in step with the frames).")},
        {QStringLiteral("net-clock"), QStringLiteral("Place frames by GStreamer's network clock served by the master on PORT, not by the library's clock offset."), QStringLiteral("PORT")},
        {QStringLiteral("drift-ppm"), QStringLiteral("Simulate a PC whose oscillator runs PPM fast (negative: slow): the host clock, "
                                                     "the pipeline's clock and the timed waits drift, the frame log does not."), QStringLiteral("PPM")},
        {QStringLiteral("key-file"), QStringLiteral("The group's keys: one or two lines 'ID HEX' (a key id from 1 to 255, 64 hex "
                                                    "digits); the first signs, both are accepted. Mode 0600 (or 0640 for a "
                                                    "group). Read again on SIGHUP."), QStringLiteral("FILE")},
    });
    if (master) {
        parser.addOptions({
            {QStringLiteral("slaves"), QStringLiteral("The slaves to admit, separated by commas: ip_pid keys, or plain IPs that admit "
                                                      "any process of theirs."), QStringLiteral("KEYS")},
            {QStringLiteral("media"), QStringLiteral("The media file (path or URI) to play."), QStringLiteral("MEDIA")},
            {QStringLiteral("margin-ms"), QStringLiteral("How far ahead each command's instant is chosen (default 200)."), QStringLiteral("MS")},
            pauseOption(),
        });
        parser.addOptions(programmeOptions());
        parser.addOptions(OperatorSettings::commandLineOptions());
    } else {
        parser.addOptions({
            {QStringLiteral("master"), QStringLiteral("The master's IPv4 address."), QStringLiteral("IP")},
            {QStringLiteral("trim-ms"), QStringLiteral("This screen shows its frames MS later than the common instant (negative: "
                                                       "earlier, down to the master's margin less 50 ms)."), QStringLiteral("MS")},
            {QStringLiteral("margin-ms"), QStringLiteral("The master's command margin (default 200), which bounds a negative "
                                                         "--trim-ms."), QStringLiteral("MS")},
            {QStringLiteral("ignore-offset"), QStringLiteral("Control run: take the master's instants as if both clocks agreed.")},
            {QStringLiteral("no-rate-correction"), QStringLiteral("Control run: run the pipeline on this host's clock and convert each "
                                                              "instant with the mean clock offset, rather than following the master's time line.")},
        });
    }
    const char* synopsis = master ? "multinet-player master: plays MEDIA and leads the slaves through a session"
                                  : "multinet-player slave: plays what the master prepares, in step with it";
    if (!parseCommandLine(parser, arguments, synopsis, exitCode))
        return std::nullopt;

    PlayerOptions options;
    options.master = master;
    options.ip = parser.value(QStringLiteral("ip"));
    if (options.ip.isEmpty() && missing("--ip", exitCode))
        return std::nullopt;
    if (!isIpv4(options.ip)) {
        std::fprintf(stderr, "multinet-player: --ip takes an IPv4 address, got '%s'\n", qPrintable(options.ip));
        exitCode = 2;
        return std::nullopt;
    }
    constexpr qint64 kTenDaysUs = 10LL * 86400 * 1000000;
    if (!parser.isSet(QStringLiteral("port")) && missing("--port", exitCode))
        return std::nullopt;
    if (!readInteger(parser, "port", 1, 65535, options.port, exitCode) ||
        !readInteger(parser, "group", 0, 0x7fffffff, options.group, exitCode) ||
        !readInteger(parser, "clock-offset-us", -kTenDaysUs, kTenDaysUs, options.clockOffsetUs, exitCode) ||
        !readInteger(parser, "net-clock", 1, 65535, options.netClockPort, exitCode) ||
        !readReal(parser, "drift-ppm", -kMaxDriftPpm, kMaxDriftPpm, options.driftPpm, exitCode) ||
        !readKeyFile(parser, options.keys, exitCode))
        return std::nullopt;
    if (parser.isSet(QStringLiteral("net-clock")))
        options.clock = SyncClock::GstNet;
    options.frameLog = parser.value(QStringLiteral("frame-log"));
    if (!readVideoOutput(parser, options.window, exitCode))
        return std::nullopt;
    options.sound = !parser.isSet(QStringLiteral("no-audio"));
    options.label = parser.isSet(QStringLiteral("label")) ? parser.value(QStringLiteral("label"))
                                                          : (master ? QStringLiteral("master") : options.ip);
    if (master) {
        if (QString wrong; !SlaveAdmission::readList(parser.value(QStringLiteral("slaves")), options.slaves, options.slaveIps, wrong)) {
            std::fprintf(stderr, "multinet-player: --slaves takes ip_pid keys and IPs, got '%s'\n", qPrintable(wrong));
            exitCode = 2;
            return std::nullopt;
        }
        options.media = parser.value(QStringLiteral("media"));
        options.playlist = parser.value(QStringLiteral("playlist"));
        options.loop = parser.isSet(QStringLiteral("loop"));
        if (options.media.isEmpty() && options.playlist.isEmpty() && missing("--media or --playlist", exitCode))
            return std::nullopt;
        if (!readInteger(parser, "margin-ms", 1, 60000, options.marginMs, exitCode) ||
            !readInteger(parser, "pause-ms", 0, 60000, options.pauseMs, exitCode) ||
            !readReal(parser, "for", 0.001, kMaxSeconds, options.forSeconds, exitCode) ||
            !OperatorSettings::read(parser, options.operatorPage, exitCode))
            return std::nullopt;
    } else {
        options.masterIp = parser.value(QStringLiteral("master"));
        if (options.masterIp.isEmpty() && missing("--master", exitCode))
            return std::nullopt;
        if (!isIpv4(options.masterIp)) {
            std::fprintf(stderr, "multinet-player: --master takes an IPv4 address, got '%s'\n", qPrintable(options.masterIp));
            exitCode = 2;
            return std::nullopt;
        }
        if (!readInteger(parser, "margin-ms", 1, 60000, options.marginMs, exitCode) ||
            !readInteger(parser, "trim-ms", -60000, 60000, options.trimMs, exitCode))
            return std::nullopt;
        if (const QString refusal = trimRefusal(options.trimMs, options.marginMs); !refusal.isEmpty()) {
            std::fprintf(stderr, "multinet-player: --trim-ms %d: %s\n", options.trimMs, qPrintable(refusal));
            exitCode = 2;
            return std::nullopt;
        }
        options.ignoreOffset = parser.isSet(QStringLiteral("ignore-offset"));
        // Ignoring the offset is the control run of the offset: the pipeline then runs on this host's clock.
        options.rateCorrection = !parser.isSet(QStringLiteral("no-rate-correction")) && !options.ignoreOffset;
    }
    return options;
}

std::optional<ClipOptions> parseClipOptions(const QStringList& arguments, int& exitCode)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The clip to write: Motion JPEG in AVI, or Theora in Ogg for .ogg and .ogv, "
                                                                      "VP8 in WebM for .webm, H.264 or H.265 in MP4 for .mp4."));
    parser.addOptions({
        {QStringLiteral("codec"), QStringLiteral("The codec of an .mp4 clip: h264 (the default) or h265."), QStringLiteral("NAME")},
        {QStringLiteral("seconds"), QStringLiteral("Its length (default 6)."), QStringLiteral("S")},
        {QStringLiteral("fps"), QStringLiteral("Frames per second (default 30)."), QStringLiteral("N")},
        {QStringLiteral("size"), QStringLiteral("Width and height in pixels (default 320x240)."), QStringLiteral("WxH")},
        {QStringLiteral("audio"), QStringLiteral("Add sound that marks time: 10 ms of a 1 kHz tone from the start of every second "
                                                 "(PCM in .avi, AAC in .mp4).")},
    });
    parser.setApplicationDescription(QStringLiteral("multinet-player make-clip: a test clip with the frame number drawn on each frame"));
    parser.addHelpOption();
    QStringList withoutSubcommand = arguments;
    if (withoutSubcommand.size() > 1)
        withoutSubcommand.removeAt(1);
    const bool parsed = parser.parse(withoutSubcommand);
    if (parsed && parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        exitCode = 0;
        return std::nullopt;
    }
    if (!parsed || parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "multinet-player: %s\n", parsed ? "make-clip takes one FILE" : qPrintable(parser.errorText()));
        exitCode = 2;
        return std::nullopt;
    }
    ClipOptions options;
    options.path = parser.positionalArguments().front();
    options.sound = parser.isSet(QStringLiteral("audio"));
    if (parser.isSet(QStringLiteral("codec"))) {
        options.codec = parser.value(QStringLiteral("codec"));
        QString error;
        if (!ClipMaker::acceptsCodec(options.path, options.codec, error)) {
            std::fprintf(stderr, "multinet-player: %s\n", qPrintable(error));
            exitCode = 2;
            return std::nullopt;
        }
    }
    if (!readInteger(parser, "fps", 1, 120, options.fps, exitCode))
        return std::nullopt;
    if (parser.isSet(QStringLiteral("size"))) {
        const std::optional<QSize> size = parseSize(parser.value(QStringLiteral("size")));
        if (!size) {
            std::fprintf(stderr, "multinet-player: --size takes WIDTHxHEIGHT, each from %d to %d pixels, got '%s'\n",
                         kMinClipSide, kMaxClipSide, qPrintable(parser.value(QStringLiteral("size"))));
            exitCode = 2;
            return std::nullopt;
        }
        options.size = *size;
    }
    if (parser.isSet(QStringLiteral("seconds"))) {
        bool ok = false;
        options.seconds = parser.value(QStringLiteral("seconds")).toDouble(&ok);
        if (!ok || options.seconds <= 0 || options.seconds > 3600) {
            std::fprintf(stderr, "multinet-player: --seconds takes a length above 0 up to 3600\n");
            exitCode = 2;
            return std::nullopt;
        }
    }
    return options;
}
