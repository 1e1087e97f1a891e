// SPDX-License-Identifier: MIT
// The library's one way to print a diagnostic line: to the host's log handler when one is installed,
// else to standard output, flushed at once so that a reader of a pipe sees each line as it happens.
//
// Two kinds of line. The lines of the host's own calls and of well-formed datagrams from the peers a node
// deals with (its admitted slaves, its master's address) are printed at any rate: a host may rely on
// every one of them. Lines that anybody on the LAN can provoke (malformed or foreign datagrams, unknown
// senders, a full queue) and those of host mistakes are FloodLimited: a flood of one kind is cut down to
// a few a second and a summary (LogFloodGate), so that it cannot fill a disk.
#pragma once

#include <QDateTime>

#include <string>

namespace tamo::detail {

#if defined(__GNUC__) || defined(__clang__)
#define TAMO_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAMO_PRINTF_FORMAT(fmt, args)
#endif

enum class LineRate {
    Every,         // printed at any rate
    FloodLimited,  // at most LogFloodGate::kLinesPerSecond of one kind a second, then a summary
};

// Prints every line.
void logLine(const char* format, ...) TAMO_PRINTF_FORMAT(1, 2);
void logLine(LineRate rate, const char* format, ...) TAMO_PRINTF_FORMAT(2, 3);
// A FloodLimited line provoked by `sender` (an address on the network): counted against that sender's own
// share of its kind, and named in the kind's summary.
void logLineFrom(const std::string& sender, const char* format, ...) TAMO_PRINTF_FORMAT(2, 3);

// The time stamp of the log lines: "yyyy-MM-dd hh:mm:ss.zzz".
std::string formatLogTime(const QDateTime& time);

// The local time now, as formatLogTime gives it. Cheap enough for every handled command: the local
// time's offset from UTC is looked up once a minute per thread, not on every call (each lookup asks the
// C library to re-read the time zone).
std::string currentLogTime();

} // namespace tamo::detail
