// SPDX-License-Identifier: MIT
// Waiting with the Qt event loop running, so that reception goes on while a host or a test waits.
// (QTest::qWait and the QTRY macros sleep 10 ms between event passes, which would delay reception and
// spoil every clock-sync time stamp taken on the waiting thread.)
#pragma once

#include <functional>

// Runs the event loop until `done` is true or `timeoutMs` have passed, testing `done` every `pollMs`;
// returns `done`.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000, int pollMs = 2);
// Runs the event loop for `ms` milliseconds.
void runEventLoopFor(int ms);
