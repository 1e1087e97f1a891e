// SPDX-License-Identifier: MIT
// The `compare` subcommand: the skew of players' frame logs written elsewhere (on other hosts of a test
// network, say) against a reference log. Exits 0 when every log shares frames with the reference and
// stays within the p99 bound.
#pragma once

#include <QStringList>

int compareFrameLogs(const QStringList& arguments);
