// SPDX-License-Identifier: MIT
// The operator's rows of screens, from what the library knows of the slaves: one row per slave
// ("ip_pid") in roster order, with the health of its first roster entry, then the admitted slaves that
// no search has found yet.
#pragma once

#include "ShowStatus.h"

#include <QSet>

std::vector<ScreenStatus> screensOf(const std::vector<NetControlNS::struSlaveHealth>& roster,
                                    const QSet<QString>& admitted, qint64 nowUs);
