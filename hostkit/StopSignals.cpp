// SPDX-License-Identifier: MIT
#include "StopSignals.h"

#include <atomic>
#include <csignal>

namespace {

constexpr int kPollMs = 50;

// Written by the signal handler, read by the main thread.
std::atomic<bool> g_stopRequested{false};

extern "C" void requestStop(int signal)
{
    if (g_stopRequested.exchange(true)) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

} // namespace

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop))
{
    g_stopRequested = false;
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    m_poll.setInterval(kPollMs);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        if (!g_stopRequested)
            return;
        m_poll.stop();
        m_onStop();
    });
    m_poll.start();
}

StopSignals::~StopSignals()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
