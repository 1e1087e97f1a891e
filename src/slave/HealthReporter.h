// SPDX-License-Identifier: MIT
// A slave's health reports to its master under the option HealthReports: once a second, on the timer
// thread, its clock estimate, the last command it applied, the repeats it dropped, and what its host
// handed in (presentation figures, a short text).
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"
#include "common/TimerThread.h"
#include "sending/ReliableDelivery.h"
#include "sending/SendChannel.h"
#include "slave/ClockSamples.h"
#include "slave/MasterLink.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace tamo::detail {

class HealthReporter
{
public:
    static constexpr std::chrono::milliseconds kEvery{1000};

    struct Parts
    {
        const ObjectFlags& flags;
        SendChannel& channel;
        const ReliableDelivery& delivery;
        const MasterLink& link;
        const ClockSamples& samples;
        TimerThread& timer;
    };

    explicit HealthReporter(const Parts& parts) : m_parts(parts) {}

    // The options changed: starts the reports when HealthReports is on (they end by themselves when it
    // goes off). Any thread.
    void optionsChanged();
    // A command was applied. Worker thread.
    void commandApplied(std::uint16_t code, std::uint16_t seq);
    void setPresentation(const NetControlNS::struPresentation& presentation);
    void setText(const std::string& text);

private:
    // The timer's task: one report, when this object is a slave that knows its master.
    std::optional<TimerThread::Clock::time_point> report();

    const Parts m_parts;
    // Packed code and sequence number of the last command applied; 0 before the first.
    std::atomic<std::uint32_t> m_lastCommand{0};  // written by the worker, read by the timer thread
    std::mutex m_mutex;                            // the four below: the host writes, the timer thread reads
    std::optional<NetControlNS::struPresentation> m_presentation;
    std::string m_text;
    bool m_reporting = false;                      // the timer has the task
};

} // namespace tamo::detail
