// SPDX-License-Identifier: MIT
// Waiting with the Qt event loop running, so that reception goes on while a host waits.
#pragma once

#include <functional>

// Runs the event loop until `done` is true or `timeoutMs` have passed, testing `done` every `pollMs`;
// returns `done`.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 5);
