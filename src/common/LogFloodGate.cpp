// SPDX-License-Identifier: MIT
#include "common/LogFloodGate.h"

#include <algorithm>

namespace tamo::detail {

namespace {

// Kinds are few (one per format text); a bare "%s" line adds one per distinct text, so idle kinds are
// forgotten once there are more than this.
constexpr std::size_t kMaxRememberedKinds = 256;

std::uint64_t hashKind(std::string_view kind)
{
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : kind) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

LogFloodGate& LogFloodGate::processWide()
{
    // Never destroyed: threads of objects that a host never destroyed may still log while the process exits.
    static LogFloodGate* const gate = new LogFloodGate;
    return *gate;
}

LogFloodGate::Verdict LogFloodGate::admit(std::string_view kind, qint64 nowMs, std::string_view sender)
{
    Verdict verdict;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nowMs >= m_nextSummaryDueMs)
        collectEndedWindows(nowMs, verdict.summaries);

    auto [it, inserted] = m_kinds.try_emplace(hashKind(kind));
    Kind& entry = it->second;
    if (inserted) {
        entry.text.assign(kind);
        entry.windowStartMs = nowMs;
    } else if (nowMs - entry.windowStartMs >= kWindowMs) {
        // The summary of the ended window, if any, was collected above.
        entry.windowStartMs = nowMs;
        entry.printed = 0;
        entry.printedBy.clear();
    }
    const bool shared = sender.empty()
                        || (entry.printedBy.size() >= kMaxSenders && !entry.printedBy.count(std::string(sender)));
    int* printedBySender = shared ? nullptr : &entry.printedBy[std::string(sender)];
    const bool print = printedBySender
                           ? *printedBySender < kLinesPerSecond && entry.printed < kSenderLinesPerSecond
                           : entry.printed < kLinesPerSecond;
    if (print) {
        ++entry.printed;
        if (printedBySender)
            ++*printedBySender;
    } else {
        if (entry.suppressed == 0)
            m_nextSummaryDueMs = std::min(m_nextSummaryDueMs.load(), entry.windowStartMs + kWindowMs);
        ++entry.suppressed;
        if (!sender.empty() && (entry.suppressedBy.size() < kMaxSenders || entry.suppressedBy.count(std::string(sender))))
            ++entry.suppressedBy[std::string(sender)];
        verdict.print = false;
    }
    if (inserted && m_kinds.size() > kMaxRememberedKinds)
        forgetIdleKindsWhenMany(nowMs);
    return verdict;
}

std::vector<std::string> LogFloodGate::dueSummaries(qint64 nowMs)
{
    std::vector<std::string> summaries;
    if (nowMs < m_nextSummaryDueMs.load(std::memory_order_relaxed))
        return summaries;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nowMs >= m_nextSummaryDueMs)
        collectEndedWindows(nowMs, summaries);
    return summaries;
}

void LogFloodGate::collectEndedWindows(qint64 nowMs, std::vector<std::string>& summaries)
{
    m_nextSummaryDueMs = std::numeric_limits<qint64>::max();
    for (auto& [hash, entry] : m_kinds) {
        if (entry.suppressed == 0)
            continue;
        const qint64 windowEndMs = entry.windowStartMs + kWindowMs;
        if (nowMs >= windowEndMs) {
            std::vector<std::pair<std::string, quint64>> busiest(entry.suppressedBy.begin(), entry.suppressedBy.end());
            std::sort(busiest.begin(), busiest.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
            busiest.resize(std::min<std::size_t>(busiest.size(), 3));
            summaries.push_back(summaryLine(entry.text, entry.suppressed, busiest));
            entry.suppressed = 0;
            entry.suppressedBy.clear();
        } else {
            m_nextSummaryDueMs = std::min(m_nextSummaryDueMs.load(), windowEndMs);
        }
    }
}

void LogFloodGate::forgetIdleKindsWhenMany(qint64 nowMs)
{
    for (auto it = m_kinds.begin(); it != m_kinds.end();) {
        const bool idle = it->second.suppressed == 0 && nowMs - it->second.windowStartMs >= kWindowMs;
        it = idle ? m_kinds.erase(it) : std::next(it);
    }
}

void LogFloodGate::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kinds.clear();
    m_nextSummaryDueMs = std::numeric_limits<qint64>::max();
}

std::string LogFloodGate::summaryLine(std::string_view kind, quint64 count,
                                      const std::vector<std::pair<std::string, quint64>>& busiest)
{
    std::string_view shown = kind;
    while (!shown.empty() && shown.back() == '\n')
        shown.remove_suffix(1);
    return "logLine: " + std::to_string(count) + " more lines like \"" + std::string(shown)
           + "\" were left out within one second (at most " + std::to_string(kLinesPerSecond)
           + " alike are printed a second)" + [&] {
                 std::string from;
                 for (const auto& [sender, left] : busiest)
                     from += (from.empty() ? "; most from " : ", ") + sender + " (" + std::to_string(left) + ")";
                 return from;
             }() + "\n";
}

} // namespace tamo::detail
