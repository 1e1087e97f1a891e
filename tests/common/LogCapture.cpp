// SPDX-License-Identifier: MIT
#include "common/LogCapture.h"

#include "MultiNetControl.h"
#include "common/LogFloodGate.h"

#include <QTest>

#include <cstdio>
#include <mutex>

namespace {

// The handler is process-wide, so the collection is too; the library logs from several threads at once.
std::mutex g_mutex;
QByteArray g_collected;                         // guarded by g_mutex
int g_depth = 0;                                // guarded by g_mutex; captures alive
NetControlNS::LogHandler g_previous = nullptr;  // guarded by g_mutex

void collect(const char* line)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_collected.append(line);
}

} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_depth++ == 0) {
        g_collected.clear();
        g_previous = NetControlNS::installLogHandler(collect);
    }
    m_start = g_collected.size();
    tamo::detail::LogFloodGate::processWide().reset();
}

LogCapture::~LogCapture()
{
    QByteArray replay;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (--g_depth > 0)
            return;
        NetControlNS::installLogHandler(g_previous);
        replay.swap(g_collected);
    }
    if (QTest::currentTestFailed()) {
        std::fwrite(replay.constData(), 1, static_cast<size_t>(replay.size()), stdout);
        std::fflush(stdout);
    }
}

QByteArray LogCapture::text() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    // A deep copy: a shared one would be released on this thread while the library's threads append.
    return QByteArray(g_collected.constData() + m_start, g_collected.size() - m_start);
}
