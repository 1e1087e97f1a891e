// SPDX-License-Identifier: MIT
// Waiting in tests with a real event loop. QTest::qWait and the QTRY macros sleep 10 ms between event
// passes, which delays reception and would spoil every clock-sync time stamp taken on this thread.
#pragma once

#include <functional>

// Runs the event loop until `done` is true or `timeoutMs` have passed; returns `done`.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for `ms` milliseconds.
void runEventLoopFor(int ms);
