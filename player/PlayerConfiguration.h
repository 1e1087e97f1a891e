// SPDX-License-Identifier: MIT
// `multinet-player [master|slave] --config FILE [options]`: a player set up by its configuration file
// (ConfigFile), the options given on the command line winning over the file's. The options go through
// the player's own parser (parsePlayerOptions), which knows every option and checks every value, so that
// a file takes exactly what the command line takes; a refusal that a line of the file brings about is
// said in one line that names the file and that line.
//
// A player run from a file is a service: it runs until it is stopped (SIGTERM, or "quit"), not until its
// standard input ends, which under systemd is /dev/null.
#pragma once

#include "PlayerOptions.h"

// Whether `arguments` (the program, `master`, `slave` or nothing, then options) name a configuration file.
bool namesConfigFile(const QStringList& arguments);

// The options of the player that `arguments` set up; nothing, with one line printed and exitCode 2, for a
// file or an option that is refused, and with exitCode 0 after --help.
std::optional<PlayerOptions> parseConfiguredPlayer(const QStringList& arguments, int& exitCode);
