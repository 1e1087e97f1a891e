// SPDX-License-Identifier: MIT
// Calls into the host's callback object, which may be absent or have empty members.
#pragma once

#include "MultiNetControl.h"
#include "control/LogLine.h"

#include <exception>

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

// The host clock in microseconds, when the host supplies one.
inline std::optional<qint64> hostClock(const NetControlNS::slaveControlCbk* cbk)
{
    if (cbk && cbk->getClockTimeCbk)
        return cbk->getClockTimeCbk();
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
        logLine("%s: ERROR  exception from the host: %s\n", context, e.what());
    } catch (...) {
        logLine("%s: ERROR  unknown exception from the host\n", context);
    }
}

} // namespace tamo::detail
