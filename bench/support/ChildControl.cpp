// SPDX-License-Identifier: MIT
#include "support/ChildControl.h"

#include "support/BenchClock.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

ChildControl::ChildControl(const std::string& logPath)
{
    m_driverFd = dup(STDOUT_FILENO);
    const int logFd = open(logPath.empty() ? "/dev/null" : logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (m_driverFd < 0 || logFd < 0)
        throw std::runtime_error("cannot set up the channel to the driver");
    dup2(logFd, STDOUT_FILENO);
    close(logFd);
}

ChildControl::~ChildControl()
{
    if (m_reader.joinable())
        m_reader.join();
    close(m_driverFd);
}

void ChildControl::start()
{
    m_reader = std::thread(&ChildControl::readCommands, this);
    send("ready");
}

void ChildControl::send(const std::string& line)
{
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> lock(m_sendMutex);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(m_driverFd, text.data() + written, text.size() - written);
        if (n <= 0)
            return;  // the driver has gone; nobody is left to tell
        written += static_cast<std::size_t>(n);
    }
}

bool ChildControl::waitForGo()
{
    while (!m_goReceived && !m_stopRequested)
        sleepForMs(1);
    return m_goReceived && !m_stopRequested;
}

void ChildControl::waitForStop() const
{
    while (!m_stopRequested)
        sleepForMs(5);
}

void ChildControl::readCommands()
{
    // A blocking read: the reader costs the role nothing between commands. It ends with stop.
    std::string pending;
    char buffer[256];
    while (!m_stopRequested) {
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            handle("stop");
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; !m_stopRequested && (end = pending.find('\n')) != std::string::npos;) {
            handle(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
}

void ChildControl::handle(const std::string& command)
{
    if (command == "go") {
        m_goReceived = true;
        if (m_onGo)
            m_onGo();
    } else if (command == "mark") {
        send("cpu " + std::to_string(processCpuUs()) + " " + std::to_string(monotonicNs()));
    } else if (command == "stop" && !m_stopRequested.exchange(true)) {
        if (m_onStop)
            m_onStop();
    }
}
