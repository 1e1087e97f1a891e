// SPDX-License-Identifier: MIT
#include "support/ChildProcess.h"

#include "support/Args.h"
#include "support/BenchClock.h"

#include <QCoreApplication>

#include <stdexcept>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kReadyTimeoutMs = 15000;
constexpr int kExitTimeoutMs = 10000;

} // namespace

ChildProcess::ChildProcess(const std::string& role, const std::vector<std::string>& args) : m_role(role)
{
    QStringList arguments{QStringLiteral("--role"), QString::fromStdString(role)};
    for (const std::string& arg : args)
        arguments << QString::fromStdString(arg);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!m_process.waitForStarted(kStartTimeoutMs))
        fail("did not start: " + m_process.errorString().toStdString());
}

ChildProcess::~ChildProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("stop\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(kExitTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(kExitTimeoutMs);
    }
}

void ChildProcess::send(const std::string& command)
{
    m_process.write((command + "\n").c_str());
    m_process.waitForBytesWritten(kExitTimeoutMs);
}

std::vector<std::string> ChildProcess::waitFor(const std::string& tag, int timeoutMs)
{
    const std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    for (std::size_t scanned = 0;;) {
        for (; scanned < m_lines.size(); ++scanned) {
            if (!m_lines[scanned].empty() && m_lines[scanned][0] == tag) {
                std::vector<std::string> fields = std::move(m_lines[scanned]);
                m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(scanned));
                return fields;
            }
        }
        const auto left = static_cast<int>((deadline - monotonicNs()) / 1000000);
        if (left <= 0 || !readLine(left))
            fail("sent no '" + tag + "' line");
    }
}

Lines ChildProcess::stopAndCollect(int timeoutMs)
{
    send("stop");
    waitFor("done", timeoutMs);
    Lines lines(m_lines.begin(), m_lines.end());
    m_lines.clear();
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(kExitTimeoutMs))
        fail("did not exit after stop");
    return lines;
}

std::pair<std::int64_t, std::int64_t> ChildProcess::cpuMark()
{
    send("mark");
    const std::vector<std::string> fields = waitFor("cpu", kExitTimeoutMs);
    if (fields.size() < 3)
        fail("sent a malformed cpu line");
    return {std::stoll(fields[1]), std::stoll(fields[2])};
}

bool ChildProcess::readLine(int timeoutMs)
{
    while (!m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning || !m_process.waitForReadyRead(timeoutMs))
            return m_process.canReadLine();
    }
    const QByteArray line = m_process.readLine().trimmed();
    m_lines.push_back(splitFields(line.toStdString()));
    return true;
}

void ChildProcess::fail(const std::string& what) const
{
    throw std::runtime_error("role " + m_role + " " + what);
}

void waitUntilReady(const std::vector<ChildProcess*>& children)
{
    for (ChildProcess* child : children)
        child->waitFor("ready", kReadyTimeoutMs);
}
