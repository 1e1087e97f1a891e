// SPDX-License-Identifier: MIT
// The `compare` subcommand: the skew of players' frame logs written elsewhere (on other hosts of a test
// network, say) against a reference log. Exits 0 when every log shares frames with the reference and
// stays within the p99 bound. Each log's line also says from when it was in step for good
// (in-step-from-ns, CLOCK_MONOTONIC; -1: never), and --since-ns leaves out the frames shown before a time.
#pragma once

#include <QStringList>

int compareFrameLogs(const QStringList& arguments);
