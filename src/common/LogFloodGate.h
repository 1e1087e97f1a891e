// SPDX-License-Identifier: MIT
// Keeps a flood of one kind of log line from filling the host's disk: per kind of line, the first few of
// each second are printed as they are, the rest are only counted, and one summary line per second says
// how many were left out. Lines of one sender on the network count against that sender's own share of a
// kind, so that decoys from one address cannot use up the lines of another; the summary names the
// senders that were cut the most.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tamo::detail {

class LogFloodGate
{
public:
    // Lines of one kind printed in one second before the rest of that second is only counted.
    static constexpr int kLinesPerSecond = 10;
    static constexpr qint64 kWindowMs = 1000;
    // Lines of one kind, from every sender together, printed in one second.
    static constexpr int kSenderLinesPerSecond = 100;
    // Senders counted per kind and second; lines of further ones count as the kind's own.
    static constexpr std::size_t kMaxSenders = 64;

    struct Verdict
    {
        bool print = true;
        // Summaries of kinds whose second has ended with lines left out; printed before the line itself.
        std::vector<std::string> summaries;
    };

    // The one gate of the process, shared by every thread that logs.
    static LogFloodGate& processWide();

    // Counts one line of kind `kind` (its format text, or the text itself where the format is a bare
    // "%s"), seen at `nowMs` on a monotonic clock, and says whether to print it.
    // `sender` (an address), when known, has a share of its own of the kind.
    Verdict admit(std::string_view kind, qint64 nowMs, std::string_view sender = {});

    // The summaries of kinds whose second has ended with lines left out, for a line that is printed
    // whatever the gate says. Without such a second it costs one atomic read and takes no lock.
    std::vector<std::string> dueSummaries(qint64 nowMs);

    // Forgets every count, and the lines left out but not yet summarised.
    void reset();

    // The summary line for `count` left-out lines of kind `kind`.
    // The summary line for `count` left-out lines of kind `kind`; `busiest`, the senders cut the most.
    static std::string summaryLine(std::string_view kind, quint64 count,
                                   const std::vector<std::pair<std::string, quint64>>& busiest = {});

private:
    struct Kind
    {
        std::string text;          // the kind as admitted, for the summary line
        qint64 windowStartMs = 0;  // start of the current one-second window
        int printed = 0;           // lines printed in the current window
        quint64 suppressed = 0;    // lines left out in the current window, not yet summarised
        std::unordered_map<std::string, int> printedBy;         // per sender, in the current window
        std::unordered_map<std::string, quint64> suppressedBy;  // per sender, not yet summarised
    };

    void collectEndedWindows(qint64 nowMs, std::vector<std::string>& summaries);
    void forgetIdleKindsWhenMany(qint64 nowMs);

    std::mutex m_mutex;                           // every thread that logs
    std::unordered_map<std::uint64_t, Kind> m_kinds;   // guarded by m_mutex; keyed by a hash of the kind
    // Earliest end of a window that left lines out; written under m_mutex, read without it by dueSummaries.
    std::atomic<qint64> m_nextSummaryDueMs{std::numeric_limits<qint64>::max()};
};

} // namespace tamo::detail
