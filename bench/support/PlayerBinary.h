// SPDX-License-Identifier: MIT
// Where the scenarios that play real media find multinet-player, the reference player. It is built only
// where GStreamer's development files are installed; those scenarios say so in the table otherwise.
#pragma once

#include <QString>

// Next to this program in the build tree, or where TAMO_BENCH_PLAYER points.
QString playerPath();
bool playerBuilt();

// The table's text for a figure that needs the player where it was not built.
inline constexpr char kPlayerNotBuilt[] = "n/a (multinet-player not built: GStreamer missing)";
