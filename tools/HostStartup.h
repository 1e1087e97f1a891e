// SPDX-License-Identifier: MIT
// What the slave and master hosts check as they start: that the library listens, and, for a host that
// `run` started, that it goes when `run` goes.
#pragma once

#include <MultiNetControl.h>

// True when `control` listens; otherwise prints why, naming the address, port and the system's reason.
bool listeningOrSayWhy(const MultiNetControl& control, const char* role);

// Ends this process when its parent, process `parentPid`, ends (Linux; elsewhere the end of standard
// input, which the parent's end also brings, ends the host). False when that parent has ended already.
bool endWithParent(qint64 parentPid);
