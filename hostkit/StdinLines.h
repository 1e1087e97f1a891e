// SPDX-License-Identifier: MIT
// Standard input, line by line, for a host whose main thread runs the Qt event loop: a thread of its
// own blocks on reading and queues each line; a timer of the event loop hands the queued lines to
// `onLine` on the thread that made this object, in order, then calls `onEnd` once when the input has
// ended. Neither is ever re-entered: lines that come while `onLine` runs a nested event loop wait for it.
// (The lines cross threads under a std::mutex rather than through Qt's event queue, whose futex-based
// locks ThreadSanitizer cannot see.)
#pragma once

#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class StdinLines
{
public:
    StdinLines(std::function<void(const QString&)> onLine, std::function<void()> onEnd);

private:
    // Shared with the reading thread, which may still be blocked on input when this object goes.
    struct Shared
    {
        std::mutex mutex;
        std::deque<QString> lines;  // guarded by mutex; appended by the reading thread, taken by the owner's
        bool ended = false;         // guarded by mutex; set by the reading thread at the end of input
    };

    static void readUntilEnd(const std::shared_ptr<Shared>& shared);
    void handOver();

    std::function<void(const QString&)> m_onLine;  // called on the owner's thread only
    std::function<void()> m_onEnd;                 // called on the owner's thread only
    std::shared_ptr<Shared> m_shared;
    QTimer m_timer;
    bool m_handingOver = false;  // owner's thread only
};
