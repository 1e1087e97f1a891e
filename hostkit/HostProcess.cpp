// SPDX-License-Identifier: MIT
#include "HostProcess.h"

#include "EventLoopWait.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

constexpr int kRecentLinesKept = 15;

} // namespace

HostProcess::HostProcess(QString name, QStringList arguments, bool echo, QString program)
    : m_name(std::move(name)),
      m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program)),
      m_arguments(std::move(arguments)),
      m_echo(echo)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readLines(); });
}

HostProcess::~HostProcess()
{
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool HostProcess::start(int timeoutMs)
{
    m_process.start(m_program, m_arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_startFailure = QStringLiteral("could not start: ") + m_process.errorString();
        m_recentLines.append(m_startFailure);
        return false;
    }
    m_pid = m_process.processId();
    m_ready = waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("ready"); }, timeoutMs) == 0;
    if (m_ready)
        return true;
    if (running()) {
        m_startFailure = QStringLiteral("not ready within %1 ms").arg(timeoutMs);
        return false;
    }
    // The program's own last message says why, rather than the library's closing lines after it.
    const QString programName = QFileInfo(m_program).fileName();
    QString lastWords = QStringLiteral("nothing");
    for (const QString& line : m_recentLines) {
        if (line.startsWith(programName))
            lastWords = line;
    }
    m_startFailure = QStringLiteral("it ended with status %1: %2").arg(m_process.exitCode()).arg(lastWords);
    return false;
}

void HostProcess::send(const QString& line)
{
    m_process.write((line + QLatin1Char('\n')).toLocal8Bit());
}

int HostProcess::waitForEvent(const std::function<bool(const EventLine&)>& match, int timeoutMs, std::size_t from)
{
    int found = -1;
    std::size_t next = from;
    auto seen = [&] {
        for (; found < 0 && next < m_events.size(); ++next) {
            if (match(m_events[next]))
                found = int(next);
        }
        return found >= 0 || !running();
    };
    runEventLoopUntil(seen, timeoutMs);
    readLines();  // what a process printed just before it ended
    seen();
    return found;
}

bool HostProcess::finish(int timeoutMs)
{
    if (running()) {
        send(QStringLiteral("quit"));
        m_process.closeWriteChannel();
        if (!runEventLoopUntil([this] { return !running(); }, timeoutMs)) {
            m_recentLines.append(QStringLiteral("did not end within %1 ms of 'quit'; killed").arg(timeoutMs));
            m_process.kill();
            m_process.waitForFinished(timeoutMs);
            return false;
        }
    }
    readLines();
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        m_recentLines.append(QStringLiteral("ended with status %1").arg(m_process.exitCode()));
        return false;
    }
    return true;
}

QString HostProcess::recentOutput() const
{
    return QStringLiteral("    ") + m_recentLines.join(QStringLiteral("\n    "));
}

void HostProcess::readLines()
{
    while (m_process.canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        if (m_echo)
            printOutputLine(m_name + QStringLiteral(" | ") + line);
        m_recentLines.append(line);
        if (m_recentLines.size() > kRecentLinesKept)
            m_recentLines.removeFirst();
        if (std::optional<EventLine> event = EventLine::parse(line))
            m_events.push_back(std::move(*event));
    }
}
