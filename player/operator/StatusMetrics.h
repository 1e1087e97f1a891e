// SPDX-License-Identifier: MIT
// The show's figures for Prometheus (GET /metrics), in its text format 0.0.4: base units (seconds, ratios),
// counters ending in _total, one series per screen labelled by its key and IP. A figure a slave has not
// reported has no series.
#pragma once

#include "ShowStatus.h"

#include <QByteArray>

QByteArray statusMetrics(const ShowStatus& status);
