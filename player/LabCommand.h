// SPDX-License-Identifier: MIT
// `multinet-player run ...`: the measuring run is the lab's (multinet-lab, beside this program, which
// starts players like this one). This process becomes `multinet-lab run ...`, with the same process id,
// standard streams and exit status, so that whatever ran the player's `run` finds it unchanged.
#pragma once

#include <QStringList>

// Replaces this process by the lab with `arguments` (program, subcommand, options); returns only when
// the lab cannot be run, with the exit status 1 after a line that says why.
int handOverToLab(const QStringList& arguments);
