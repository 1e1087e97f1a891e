// SPDX-License-Identifier: MIT
#include "control/LogLine.h"

#include <cstdarg>
#include <cstdio>

namespace tamo::detail {

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

std::string formatLogTime(const QDateTime& time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(), date.month(), date.day(),
                  clock.hour(), clock.minute(), clock.second(), clock.msec());
    return text;
}

std::string currentLogTime()
{
    constexpr qint64 kMsecsPerMinute = 60000;
    // Offsets change (daylight saving) only on whole minutes, so one lookup per minute stays exact.
    thread_local qint64 cachedMinute = -1;
    thread_local qint64 cachedOffsetMsecs = 0;
    const qint64 utcMsecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 minute = utcMsecs / kMsecsPerMinute;
    if (minute != cachedMinute) {
        cachedOffsetMsecs = 1000LL * QDateTime::fromMSecsSinceEpoch(utcMsecs).offsetFromUtc();
        cachedMinute = minute;
    }
    return formatLogTime(QDateTime::fromMSecsSinceEpoch(utcMsecs + cachedOffsetMsecs, Qt::UTC));
}

} // namespace tamo::detail
