// SPDX-License-Identifier: MIT
#include "StdinLines.h"

#include <iostream>
#include <string>
#include <thread>

namespace {

// Typed lines need no quicker answer; the timer costs nothing worth counting in between.
constexpr int kHandOverIntervalMs = 20;

} // namespace

StdinLines::StdinLines(std::function<void(const QString&)> onLine, std::function<void()> onEnd)
    : m_onLine(std::move(onLine)), m_onEnd(std::move(onEnd)), m_shared(std::make_shared<Shared>())
{
    // Detached: a read blocked on a terminal cannot be called off; the thread ends with the process.
    std::thread(&StdinLines::readUntilEnd, m_shared).detach();
    QObject::connect(&m_timer, &QTimer::timeout, [this] { handOver(); });
    m_timer.start(kHandOverIntervalMs);
}

void StdinLines::readUntilEnd(const std::shared_ptr<Shared>& shared)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->lines.push_back(QString::fromLocal8Bit(line.c_str()).trimmed());
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->ended = true;
}

void StdinLines::handOver()
{
    if (m_handingOver)
        return;
    m_handingOver = true;
    std::deque<QString> lines;
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        lines.swap(m_shared->lines);
        ended = m_shared->ended;
    }
    for (const QString& line : lines)
        m_onLine(line);
    if (ended) {
        m_timer.stop();
        m_onEnd();
    }
    m_handingOver = false;
}
