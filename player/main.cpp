// SPDX-License-Identifier: MIT
// multinet-player: a reference player on GStreamer that plays real media in step with other players over
// the library. See `multinet-player --help`.
#include "ClipMaker.h"
#include "HostStartup.h"
#include "LabCommand.h"
#include "MasterPlayer.h"
#include "PlayerConfiguration.h"
#include "PlayerOptions.h"
#include "SlavePlayer.h"
#include "SubcommandLine.h"

#include <QCoreApplication>

#include <gst/gst.h>

#include <cstdio>


namespace {

constexpr char kUsage[] =
    "usage: multinet-player <subcommand> [options]\n"
    "\n"
    "  run        a master and N slaves on this machine's loopback play a clip in step; prints the skew table\n"
    "             (multinet-lab run, beside this program: multinet-lab --help)\n"
    "  master     a player that plays a media file and leads its slaves through a session, or runs a show\n"
    "             that an operator steers from a web page (--operator)\n"
    "  slave      a player that plays what its master prepares, at the master's instants\n"
    "  make-clip  writes a test clip with the frame number on each frame\n"
    "\n"
    "multinet-player <subcommand> --help shows the options of each.\n"
    "multinet-player [master|slave] --config FILE [options] runs the player that FILE sets up: 'key = value'\n"
    "lines keyed by the options' names, and 'role = master' or 'role = slave'; options given here win.\n";

// Plays as master or slave until the programme, the session or a stop ends it; the exit status.
int runPlayer(PlayerOptions options)
{
    endWithParent();
    // A window sink takes its title from here: the picture script finds each player's window by it.
    g_set_application_name(options.label.toUtf8().constData());
    return options.master ? MasterPlayer(std::move(options)).exec() : SlavePlayer(std::move(options)).exec();
}

// Runs the subcommand that `arguments` names; its exit status.
int runSubcommand(const QStringList& arguments)
{
    const QString subcommand = arguments.value(1);
    int exitCode = 0;
    if (namesConfigFile(arguments)) {
        if (std::optional<PlayerOptions> options = parseConfiguredPlayer(arguments, exitCode))
            return runPlayer(std::move(*options));
    } else if (subcommand == QLatin1String("slave") || subcommand == QLatin1String("master")) {
        if (std::optional<PlayerOptions> options = parsePlayerOptions(arguments, subcommand == QLatin1String("master"), exitCode))
            return runPlayer(std::move(*options));
    } else if (subcommand == QLatin1String("run")) {
        return handOverToLab(arguments);
    } else if (subcommand == QLatin1String("make-clip")) {
        if (std::optional<ClipOptions> options = parseClipOptions(arguments, exitCode)) {
            QString error;
            if (ClipMaker::make(options->path, options->seconds, options->fps, options->size, error, options->codec,
                                options->sound))
                return 0;
            std::fprintf(stderr, "multinet-player: %s\n", qPrintable(error));
            return 1;
        }
    } else {
        exitCode = SubcommandLine::answerOtherSubcommand("multinet-player", subcommand, kUsage);
    }
    return exitCode;
}

} // namespace

int main(int argc, char* argv[])
{
    sharpenTimers();
    gst_init(&argc, &argv);
    int exitCode = 0;
    {
        QCoreApplication app(argc, argv);
        exitCode = runSubcommand(QCoreApplication::arguments());
    }
    // GStreamer's own threads end here, before the process does: a leak check at exit must not find
    // them half gone.
    gst_deinit();
    return exitCode;
}
