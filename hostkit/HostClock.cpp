// SPDX-License-Identifier: MIT
#include "HostClock.h"

#include <chrono>

qint64 HostClock::monotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
