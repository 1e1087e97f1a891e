// SPDX-License-Identifier: MIT
#include "common/LogLine.h"

#include "MultiNetControl.h"
#include "common/LogFloodGate.h"

#include <QElapsedTimer>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Read by every thread that logs, written by the host's installLogHandler.
std::atomic<NetControlNS::LogHandler> g_logHandler{nullptr};

void deliver(const char* text)
{
    if (const NetControlNS::LogHandler handler = g_logHandler.load(std::memory_order_acquire)) {
        try {
            handler(text);
            return;
        } catch (...) {
            // A handler that throws must not unwind through the library's threads: print the line instead.
        }
    }
    std::fputs(text, stdout);
    std::fflush(stdout);
}

std::string formatText(const char* format, va_list args)
{
    va_list sizing;
    va_copy(sizing, args);
    char small[512];
    const int length = std::vsnprintf(small, sizeof small, format, sizing);
    va_end(sizing);
    if (length < 0)
        return {};
    if (static_cast<std::size_t>(length) < sizeof small)
        return std::string(small, static_cast<std::size_t>(length));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

qint64 monotonicMs()
{
    static const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

// A format that is nothing but its one text argument says nothing of the kind of line: the text does.
bool isBareText(const char* format)
{
    return std::strcmp(format, "%s") == 0 || std::strcmp(format, "%s\n") == 0;
}

// The text of a line whose format is a bare "%s", taken as it is (null otherwise, and for a null text): the
// master prints one for every command it sends, and a copy there is paid on the host's sending thread.
const char* verbatimText(const char* format, va_list args)
{
    if (std::strcmp(format, "%s") != 0)
        return nullptr;
    va_list peek;
    va_copy(peek, args);
    const char* text = va_arg(peek, const char*);
    va_end(peek);
    return text;
}

} // namespace

NetControlNS::LogHandler NetControlNS::installLogHandler(LogHandler handler)
{
    return g_logHandler.exchange(handler, std::memory_order_acq_rel);
}

namespace tamo::detail {

namespace {

void deliverAll(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        deliver(line.c_str());
}

void printEvery(const char* format, va_list args)
{
    // Summaries of a flood whose second has ended go out before any later line, whatever its kind.
    deliverAll(LogFloodGate::processWide().dueSummaries(monotonicMs()));
    if (const char* verbatim = verbatimText(format, args)) {
        if (*verbatim != '\0')
            deliver(verbatim);
        return;
    }
    const std::string text = formatText(format, args);
    if (!text.empty())
        deliver(text.c_str());
}

void printFloodLimited(const char* format, va_list args, std::string_view sender = {})
{
    const char* verbatim = verbatimText(format, args);
    const bool bare = isBareText(format);
    std::string text;
    if (bare && !verbatim)
        text = formatText(format, args);
    const std::string_view kind = verbatim ? std::string_view(verbatim) : bare ? std::string_view(text) : std::string_view(format);
    const LogFloodGate::Verdict verdict = LogFloodGate::processWide().admit(kind, monotonicMs(), sender);
    deliverAll(verdict.summaries);
    if (!verdict.print)
        return;
    if (!bare)
        text = formatText(format, args);
    const char* line = verbatim ? verbatim : text.c_str();
    if (*line != '\0')
        deliver(line);
}

} // namespace

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printEvery(format, args);
    va_end(args);
}

void logLine(LineRate rate, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (rate == LineRate::Every)
        printEvery(format, args);
    else
        printFloodLimited(format, args);
    va_end(args);
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

void logLineFrom(const std::string& sender, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printFloodLimited(format, args, sender);
    va_end(args);
}

} // namespace tamo::detail
