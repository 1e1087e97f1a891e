// Standard input, line by line, for a host whose main thread runs the Qt event loop: a thread of its
// own blocks on reading, and each line is handed to `onLine` on the thread that made this object, from
// its event loop; `onEnd` follows once when the input ends.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class StdinLines : public QObject
{
public:
    StdinLines(std::function<void(const QString&)> onLine, std::function<void()> onEnd);
    ~StdinLines() override;

private:
    // Shared with the reading thread, which may still be blocked on input when this object goes: it
    // hands nothing on once m_ownerGone is set.
    struct Shared
    {
        std::mutex mutex;
        bool ownerGone = false;  // guarded by mutex; set by the owner's thread, read by the reading thread
    };

    void readUntilEnd(std::shared_ptr<Shared> shared);

    std::function<void(const QString&)> m_onLine;  // called on the owner's thread only
    std::function<void()> m_onEnd;                 // called on the owner's thread only
    std::shared_ptr<Shared> m_shared;
};
