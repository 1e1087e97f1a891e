// SPDX-License-Identifier: MIT
// SIGINT and SIGTERM as a request to stop cleanly, handed to the host's main thread: a host that plays for
// long ends its programme, tells its slaves and writes what it must when an operator presses Ctrl+C or a
// service manager stops it. (Where the platform has no such signals, nothing is ever requested.)
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class StopSignals
{
public:
    // Calls `onStop` once on the thread that made this object after the first SIGINT or SIGTERM; a second
    // signal ends the process at once, as it would have without this object.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void()> m_onStop;
    QTimer m_poll;  // the handler only sets a flag: the main thread looks at it
};
