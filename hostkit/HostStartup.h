// SPDX-License-Identifier: MIT
// What a host checks as it starts: that the library listens, and, for a host that another process
// started, that it goes when that process goes.
#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

// True when `listening` (MultiNetControl::isListening()); otherwise prints "<who>: cannot listen: <why>",
// where `why` (MultiNetControl::errorString()) names the address, port and the system's reason.
bool listeningOrSayWhy(bool listening, const std::string& why, const QString& who);

// Ends this process when its parent ends (Linux; elsewhere the end of standard input, which the parent's
// end also brings, ends the host). With a `parentPid`, false when that parent has ended already.
bool endWithParent(qint64 parentPid = 0);

// Linux lets a timed wait end up to 50 us late by default; a frame shown at its instant needs better.
// Threads started later inherit the setting.
void sharpenTimers();
