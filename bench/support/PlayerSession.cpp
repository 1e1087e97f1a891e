// SPDX-License-Identifier: MIT
#include "support/PlayerSession.h"

#include "support/BenchClock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

constexpr int kTerminateTimeoutMs = 5000;
constexpr int kPollMs = 20;

std::int64_t microseconds(const timeval& tv)
{
    return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

// From /proc/<pid>/stat: the parent and the CPU ticks of the process itself (utime + stime) and of the
// children it has waited for (cutime + cstime). False when the process is gone.
struct ProcStat
{
    pid_t parent = 0;
    std::int64_t ownTicks = 0;
    std::int64_t childrenTicks = 0;
};

bool readProcStat(pid_t pid, ProcStat& out)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "r");
    if (!file)
        return false;
    char text[1024];
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    // The command name may hold spaces and parentheses; the fields after it are plain numbers.
    const char* fields = std::strrchr(text, ')');
    long long ppid = 0;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    long long cutime = 0;
    long long cstime = 0;
    if (!fields || std::sscanf(fields + 1, " %*s %lld %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu %lld %lld", &ppid,
                               &utime, &stime, &cutime, &cstime) != 5)
        return false;
    out.parent = static_cast<pid_t>(ppid);
    out.ownTicks = static_cast<std::int64_t>(utime + stime);
    out.childrenTicks = cutime + cstime;
    return true;
}

} // namespace

PlayerSession::PlayerSession(const std::string& player, const std::vector<std::string>& arguments, const std::string& logPath)
{
    std::vector<char*> argv{const_cast<char*>(player.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int error = posix_spawn(&m_pid, player.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + player + ": " + std::strerror(error));
    }
}

PlayerSession::~PlayerSession()
{
    stop();
}

std::optional<std::int64_t> PlayerSession::endedCpuUs()
{
    if (m_pid < 0)
        return std::nullopt;
    rusage usage{};
    const pid_t reaped = wait4(m_pid, nullptr, WNOHANG, &usage);
    if (reaped == 0)
        return std::nullopt;
    // -1: not this process's child any more; nothing to be learnt of its CPU.
    m_pid = -1;
    return reaped < 0 ? 0 : microseconds(usage.ru_utime) + microseconds(usage.ru_stime);
}

std::int64_t PlayerSession::runningCpuUs() const
{
    if (m_pid < 0)
        return 0;
    std::int64_t ticks = 0;
    ProcStat stat;
    if (readProcStat(m_pid, stat))
        ticks += stat.ownTicks + stat.childrenTicks;
    // The players still running; those that have ended are in the run's children's ticks above.
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid > 0 && readProcStat(pid, stat) && stat.parent == m_pid)
                ticks += stat.ownTicks;
        }
        closedir(proc);
    }
    return ticks * 1000000 / sysconf(_SC_CLK_TCK);
}

void PlayerSession::stop()
{
    if (m_pid < 0)
        return;
    kill(m_pid, SIGTERM);
    const std::int64_t deadlineNs = monotonicNs() + static_cast<std::int64_t>(kTerminateTimeoutMs) * 1000000;
    while (waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (monotonicNs() >= deadlineNs) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            break;
        }
        sleepForMs(kPollMs);
    }
    m_pid = -1;
}
