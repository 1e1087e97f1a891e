// SPDX-License-Identifier: MIT
#include "HangUpSignal.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// From the handler to the event loop. Made once and kept for the process's life: a handler that runs
// while an object goes may still write to it.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous {};

extern "C" void noteHangUp(int)
{
    const int savedErrno = errno;
    const char byte = 0;
    // A full pipe holds requests enough: this one is told with them.
    [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    static const bool made = [] {
        if (pipe(g_pipe) != 0)
            return false;
        for (const int fd : g_pipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        return true;
    }();
    return made;
}

} // namespace

HangUpSignal::HangUpSignal(std::function<void()> onHangUp) : m_onHangUp(std::move(onHangUp))
{
    if (!makePipe())
        return;  // SIGHUP ends the process, as it would without this object
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[64];
        while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        m_onHangUp();
    });
    struct sigaction action {};
    action.sa_handler = noteHangUp;
    sigemptyset(&action.sa_mask);
    // A thread blocked reading standard input (StdinLines) must not see its read fail with EINTR, which
    // would end its input.
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, &g_previous);
}

HangUpSignal::~HangUpSignal()
{
    if (m_notifier)
        sigaction(SIGHUP, &g_previous, nullptr);
}

#else

HangUpSignal::HangUpSignal(std::function<void()> onHangUp) : m_onHangUp(std::move(onHangUp)) {}

HangUpSignal::~HangUpSignal() = default;

#endif
