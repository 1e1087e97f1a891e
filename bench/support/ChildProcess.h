// SPDX-License-Identifier: MIT
// The driver's end of one role process: this same program started with "--role <name>", spoken to
// through the line channel that ChildControl describes. Every wait has a time limit; a role that
// misses it, or exits early, throws std::runtime_error with the role's name.
#pragma once

#include "support/Args.h"

#include <QProcess>

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class ChildProcess
{
public:
    ChildProcess(const std::string& role, const std::vector<std::string>& args);
    // Stops the role if it still runs.
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void send(const std::string& command);
    // The fields of the next line whose first field is `tag`; earlier lines with other tags are kept.
    std::vector<std::string> waitFor(const std::string& tag, int timeoutMs);
    // Sends stop and returns the fields of every line up to "done"; waits for the process to end.
    Lines stopAndCollect(int timeoutMs);
    // Process CPU time (us) and monotonic time (ns) of the role, read now.
    std::pair<std::int64_t, std::int64_t> cpuMark();

private:
    bool readLine(int timeoutMs);
    [[noreturn]] void fail(const std::string& what) const;

    std::string m_role;
    QProcess m_process;
    std::deque<std::vector<std::string>> m_lines;  // read but not yet asked for
};

// Waits for "ready" from each.
void waitUntilReady(const std::vector<ChildProcess*>& children);
