// SPDX-License-Identifier: MIT
// Calls into the host's callback object, which may be absent or have empty members.
#pragma once

#include "MultiNetControl.h"
#include "common/LogLine.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

namespace tamo::detail {

// Calls `member` of the host's object when both exist; does nothing otherwise.
template <typename Member, typename... Args>
void callHost(const NetControlNS::slaveControlCbk* cbk, Member NetControlNS::slaveControlCbk::*member,
              Args&&... args)
{
    if (cbk && cbk->*member)
        (cbk->*member)(std::forward<Args>(args)...);
}

// Reports a host clock that threw: the first time, then at most once every ten seconds with the number of
// throws in between, so that a clock that always throws cannot flood the log from every stamp.
inline void reportHostClockThrew(const char* what)
{
    using namespace std::chrono;
    constexpr qint64 kReportEveryMs = 10000;
    // Shared by every thread that reads the host clock.
    static std::atomic<qint64> lastReportMs{std::numeric_limits<qint64>::min()};
    static std::atomic<unsigned long long> unreported{0};
    const qint64 nowMs = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    qint64 last = lastReportMs.load();
    if (last != std::numeric_limits<qint64>::min() && nowMs - last < kReportEveryMs) {
        ++unreported;
        return;
    }
    if (!lastReportMs.compare_exchange_strong(last, nowMs)) {
        ++unreported;
        return;
    }
    logLine(LineRate::FloodLimited, "getClockTimeCbk: ERROR  exception from the host: %s; taken as no clock (0), %llu more since the last "
            "such line\n",
            what ? what : "unknown exception", unreported.exchange(0));
}

// The host clock in microseconds, when the host supplies one. A clock that throws counts as none.
inline std::optional<qint64> hostClock(const NetControlNS::slaveControlCbk* cbk)
{
    if (!cbk || !cbk->getClockTimeCbk)
        return std::nullopt;
    try {
        return cbk->getClockTimeCbk();
    } catch (const std::exception& e) {
        reportHostClockThrew(e.what());
    } catch (...) {
        reportHostClockThrew(nullptr);
    }
    return std::nullopt;
}

// Runs `work`, which calls into the host, and reports whatever it throws instead of letting it end one of
// the library's threads.
template <typename Work>
void runGuarded(const char* context, Work&& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        logLine(LineRate::FloodLimited, "%s: ERROR  exception from the host: %s\n", context, e.what());
    } catch (...) {
        logLine(LineRate::FloodLimited, "%s: ERROR  unknown exception from the host\n", context);
    }
}

} // namespace tamo::detail
