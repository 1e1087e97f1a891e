// SPDX-License-Identifier: MIT
// SIGHUP as a request to read a file again, handed to the host's main thread, as daemons take it: an
// operator changes what a running player reads (its group's keys) with `kill -HUP`. The handler only
// writes a byte to a pipe, which a socket notifier of the event loop watches. Where the platform has no
// SIGHUP, nothing is ever requested and the file is read at the start only. One object at a time in a
// process.
#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

class HangUpSignal
{
public:
    // Calls `onHangUp` on the thread that made this object after a SIGHUP (several that come close together
    // may be told once). While this object lives, SIGHUP no longer ends the process.
    explicit HangUpSignal(std::function<void()> onHangUp);
    ~HangUpSignal();

    HangUpSignal(const HangUpSignal&) = delete;
    HangUpSignal& operator=(const HangUpSignal&) = delete;

private:
    std::function<void()> m_onHangUp;
    std::unique_ptr<QSocketNotifier> m_notifier;  // watches the pipe; none where there is no SIGHUP
};
