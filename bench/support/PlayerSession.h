// SPDX-License-Identifier: MIT
// One `multinet-player run` process, started without Qt so that any thread can own it, and the CPU time
// that it and its players take. Its output goes to a log file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PlayerSession
{
public:
    // Starts `player` with `arguments`; throws std::runtime_error when it cannot.
    PlayerSession(const std::string& player, const std::vector<std::string>& arguments, const std::string& logPath);
    // Stops it if it still runs.
    ~PlayerSession();

    PlayerSession(const PlayerSession&) = delete;
    PlayerSession& operator=(const PlayerSession&) = delete;

    // Once the run has ended: the CPU time (us) of the run and of every player it waited for; it waits
    // for each of its players before it ends by itself. Nothing while it still runs.
    std::optional<std::int64_t> endedCpuUs();
    // While it runs: the CPU time (us) of the run and of its players so far.
    std::int64_t runningCpuUs() const;
    // Terminates the run (its players follow it: they end with their parent), then kills it when late.
    void stop();

private:
    pid_t m_pid = -1;  // -1 once reaped
};
