#include "control/LogLine.h"

#include <cstdarg>
#include <cstdio>

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
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toStdString();
}
