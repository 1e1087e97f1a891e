// SPDX-License-Identifier: MIT
// The operator's rows of screens, from what the library knows of the slaves: one row per slave
// ("ip_pid") in roster order, with the health of its first roster entry, then the admitted slaves that
// no search has found yet. A slave is off line while the library says so (its events WentOffLine and
// CameBack, as the master keeps them in `offLine`): the page then agrees with the master's own lines.
#pragma once

#include "ShowStatus.h"

#include <QSet>

std::vector<ScreenStatus> screensOf(const std::vector<NetControlNS::struSlaveHealth>& roster,
                                    const QSet<QString>& admitted, const QSet<QString>& offLine, qint64 nowUs);
