// SPDX-License-Identifier: MIT
// Where the one-machine sessions put their players: the master on 127.0.0.1, slave i on 127.0.0.(i + 2),
// each slave's host clock a few milliseconds off, and a free UDP port for the group.
#pragma once

#include <QString>
#include <QtGlobal>

constexpr char kLoopbackMasterIp[] = "127.0.0.1";

QString loopbackSlaveIp(int index);
// A few milliseconds, alternately ahead and behind, growing with the index.
qint64 injectedOffsetUs(int index);
// A UDP port that is free on the master's address now; 0 when there is none.
quint16 pickFreePort();
