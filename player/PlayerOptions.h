// SPDX-License-Identifier: MIT
// The command lines of multinet-player's subcommands. Each parse function prints the help and returns
// nothing with exit code 0 for --help, prints a clear message and returns nothing with exit code 2 for a
// wrong or missing value, and otherwise returns the options.
#pragma once

#include "ClipMaker.h"
#include "KeyFile.h"
#include "VideoOutput.h"
#include "operator/OperatorSettings.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Which clock places the frames: the library's offset, or GStreamer's network clock (the anchor).
enum class SyncClock { Library, GstNet };

struct PlayerOptions
{
    bool master = false;
    QString ip;
    quint16 port = 0;
    int group = 0;
    QString masterIp;         // slave
    QSet<QString> slaves;     // master: "ip_pid" keys
    QStringList slaveIps;     // master: plain IPs of --slaves, whose every process is admitted (SlaveAdmission)
    QString media;            // master: a file path or URI
    QString playlist;         // master: a file of media paths or URIs, one a line
    bool loop = false;        // master: plays the programme again and again (plain playback, no session)
    double forSeconds = 0;    // master: stops the programme after this long (plain playback); 0: no limit
    qint64 clockOffsetUs = 0;
    double driftPpm = 0;      // this host's clock, and everything that keeps time for playback, runs this fast
    QString frameLog;         // where the shown frames are written at the end; empty: not written
    VideoOutput window;       // where the frames are shown: a window, full screen or headless
    QString label;
    int marginMs = 200;       // master: how far ahead an instant is chosen; slave: the master's, for --trim-ms
    int trimMs = 0;           // slave: this screen shows its frames so much later (negative: earlier)
    int pauseMs = 400;        // master: how long the session holds its pause
    bool ignoreOffset = false;  // slave: the control run, instants taken as if the clocks agreed
    bool rateCorrection = true; // slave: keeps its pipeline clock on the master's time line
    bool endsWithInput = true;  // slave: ends with its standard input (not as a service: PlayerConfiguration)
    bool sound = true;          // plays the programme's sound (--no-audio: frames only)
    SyncClock clock = SyncClock::Library;
    quint16 netClockPort = 0;   // SyncClock::GstNet
    std::optional<OperatorSettings> operatorPage;  // master: the show an operator steers (--operator)
    std::optional<KeyFile> keys;  // none: an unkeyed group
};

// A screen's trim (slave --trim-ms, MasterPlayer::setTrim): at most this much later, and at most the
// command margin less kTrimMarginLeftMs earlier, since a command arrives only a margin ahead of its instant.
constexpr int kMaxTrimMs = 10000;
constexpr int kTrimMarginLeftMs = 50;
inline int minTrimMs(int marginMs) { return marginMs > kTrimMarginLeftMs ? kTrimMarginLeftMs - marginMs : 0; }
// Empty when `ms` is a trim that commands a margin of `marginMs` ahead leave time for; else why not.
QString trimRefusal(int ms, int marginMs);

struct ClipOptions
{
    QString path;
    double seconds = 6.0;
    int fps = 30;
    QSize size = ClipMaker::kDefaultSize;
    QString codec;  // an .mp4 clip's: h264 or h265; empty: the suffix's default
    bool sound = false;  // a tick at the start of every second as its sound (--audio)
};

std::optional<PlayerOptions> parsePlayerOptions(const QStringList& arguments, bool master, int& exitCode);
std::optional<ClipOptions> parseClipOptions(const QStringList& arguments, int& exitCode);
