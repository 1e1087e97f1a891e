#include "StdinLines.h"

#include <iostream>
#include <string>
#include <thread>

StdinLines::StdinLines(std::function<void(const QString&)> onLine, std::function<void()> onEnd)
    : m_onLine(std::move(onLine)), m_onEnd(std::move(onEnd)), m_shared(std::make_shared<Shared>())
{
    // Detached: a read blocked on a terminal cannot be called off; the thread ends with the process.
    std::thread(&StdinLines::readUntilEnd, this, m_shared).detach();
}

StdinLines::~StdinLines()
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->ownerGone = true;
}

void StdinLines::readUntilEnd(std::shared_ptr<Shared> shared)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString text = QString::fromLocal8Bit(line.c_str()).trimmed();
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->ownerGone)
            return;
        // Queued to this object: Qt drops the call if the object is destroyed before it runs.
        QMetaObject::invokeMethod(this, [this, text] { m_onLine(text); }, Qt::QueuedConnection);
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (!shared->ownerGone)
        QMetaObject::invokeMethod(this, [this] { m_onEnd(); }, Qt::QueuedConnection);
}
