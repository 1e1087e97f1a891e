// SPDX-License-Identifier: MIT
// libmultinet-timewarp: preloaded ahead of libfaketime, it fills the gaps that libfaketime leaves, so that
// a whole player process (GStreamer, Qt, the library) runs on clocks that are fast or slow, as on a PC
// whose oscillator drifts.
//
// libfaketime (FAKETIME="+0 xRATE") warps clock_gettime and the waits of the C library it intercepts
// (nanosleep, poll, pthread_cond_timedwait, ...). Two kinds of wait pass it by, and take a deadline read
// on the warped clock as a real one: under FAKETIME the warped CLOCK_MONOTONIC reads some fifty years
// ahead of the real one, so such a wait never ends.
//   - futex(2) through syscall(): GStreamer's system clock waits for each frame's time that way
//     (FUTEX_WAIT_BITSET, an absolute CLOCK_MONOTONIC deadline), and GLib's condition variables with a
//     relative timeout;
//   - pthread_cond_clockwait(): what std::condition_variable::wait_for/wait_until use (the library's
//     clock synchronisation and delivery threads);
//   - timerfd_settime() with an absolute deadline: what a PipeWire daemon's graph runs on, so that a sound
//     server can drift with its player, as it does on one PC.
// Here each deadline is moved onto the real clock: the time left on the warped clock, divided by the
// rate, from the real clock's now. Every other system call passes through untouched, so a raw
// syscall(SYS_clock_gettime) (the frame logs') still reads the real clock.
//
// The kernel's receipt times of datagrams stay on the real clock: the library reads the time since a
// receipt with a raw syscall too, so that time is real, as it is on a PC whose clocks all drift together.
//
// The rate is read from FAKETIME ("xRATE"; 1 without it). Linux only.
#include <dlfcn.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <time.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

using SyscallFn = long (*)(long, ...);
using ClockwaitFn = int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);

constexpr long long kNsPerS = 1000000000LL;

SyscallFn realSyscall()
{
    static const auto fn = reinterpret_cast<SyscallFn>(dlsym(RTLD_NEXT, "syscall"));
    return fn;
}

// How fast the warped clocks run against the real ones.
double rate()
{
    static const double value = [] {
        const char* faketime = std::getenv("FAKETIME");
        const char* x = faketime ? std::strchr(faketime, 'x') : nullptr;
        const double parsed = x ? std::strtod(x + 1, nullptr) : 0.0;
        return parsed > 0 ? parsed : 1.0;
    }();
    return value;
}

long long nsOf(const timespec& ts)
{
    return static_cast<long long>(ts.tv_sec) * kNsPerS + ts.tv_nsec;
}

timespec timespecOf(long long ns)
{
    if (ns < 0)
        ns = 0;
    return timespec{static_cast<time_t>(ns / kNsPerS), static_cast<long>(ns % kNsPerS)};
}

// `deadline` of `clock` read on the warped clock (libfaketime's clock_gettime), as a deadline of the real
// clock (the kernel's, by a raw system call).
timespec realDeadline(clockid_t clock, const timespec& deadline)
{
    timespec warpedNow{};
    timespec realNow{};
    clock_gettime(clock, &warpedNow);
    realSyscall()(SYS_clock_gettime, static_cast<long>(clock), &realNow);
    const long long left = nsOf(deadline) - nsOf(warpedNow);
    return timespecOf(nsOf(realNow) + (left > 0 ? static_cast<long long>(static_cast<double>(left) / rate()) : 0));
}

timespec realInterval(const timespec& interval)
{
    return timespecOf(static_cast<long long>(static_cast<double>(nsOf(interval)) / rate()));
}

timespec warpedInterval(const timespec& interval)
{
    return timespecOf(static_cast<long long>(static_cast<double>(nsOf(interval)) * rate()));
}

// The clock of each timer descriptor, for its absolute deadlines; descriptors beyond the table are taken
// as CLOCK_MONOTONIC, what PipeWire's timers run on. Written by timerfd_create, read by timerfd_settime,
// from any thread.
constexpr int kTrackedDescriptors = 4096;
std::atomic<int> timerClocks[kTrackedDescriptors];

clockid_t timerClock(int fd)
{
    return fd >= 0 && fd < kTrackedDescriptors ? timerClocks[fd].load(std::memory_order_relaxed) : CLOCK_MONOTONIC;
}

} // namespace

extern "C" __attribute__((visibility("default"))) long syscall(long number, ...)
{
    long args[6];
    va_list list;
    va_start(list, number);
    for (long& arg : args)
        arg = va_arg(list, long);
    va_end(list);
    if (number == SYS_futex && args[3] != 0) {
        const int command = static_cast<int>(args[1]) & FUTEX_CMD_MASK;
        const auto* timeout = reinterpret_cast<const timespec*>(args[3]);
        const clockid_t clock = (args[1] & FUTEX_CLOCK_REALTIME) ? CLOCK_REALTIME : CLOCK_MONOTONIC;
        timespec moved{};
        if (command == FUTEX_WAIT) {
            moved = realInterval(*timeout);
            args[3] = reinterpret_cast<long>(&moved);
        } else if (command == FUTEX_WAIT_BITSET || command == FUTEX_WAIT_REQUEUE_PI) {
            moved = realDeadline(clock, *timeout);
            args[3] = reinterpret_cast<long>(&moved);
        }
        return realSyscall()(number, args[0], args[1], args[2], args[3], args[4], args[5]);
    }
    return realSyscall()(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}

extern "C" __attribute__((visibility("default"))) int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex,
                                                                            clockid_t clock, const timespec* deadline)
{
    static const auto next = reinterpret_cast<ClockwaitFn>(dlsym(RTLD_NEXT, "pthread_cond_clockwait"));
    const timespec moved = realDeadline(clock, *deadline);
    return next(cond, mutex, clock, &moved);
}

extern "C" __attribute__((visibility("default"))) int timerfd_create(int clock, int flags)
{
    const int fd = static_cast<int>(realSyscall()(SYS_timerfd_create, static_cast<long>(clock), static_cast<long>(flags)));
    if (fd >= 0 && fd < kTrackedDescriptors)
        timerClocks[fd].store(clock, std::memory_order_relaxed);
    return fd;
}

// The timer is armed on the real clock directly; what it reports back, the time left, is told warped.
extern "C" __attribute__((visibility("default"))) int timerfd_settime(int fd, int flags, const itimerspec* value,
                                                                     itimerspec* old)
{
    itimerspec moved = *value;
    const bool disarm = value->it_value.tv_sec == 0 && value->it_value.tv_nsec == 0;
    if (!disarm)
        moved.it_value = (flags & TFD_TIMER_ABSTIME) ? realDeadline(timerClock(fd), value->it_value)
                                                     : realInterval(value->it_value);
    moved.it_interval = realInterval(value->it_interval);
    const long result = realSyscall()(SYS_timerfd_settime, static_cast<long>(fd), static_cast<long>(flags), &moved, old);
    if (result == 0 && old) {
        old->it_value = warpedInterval(old->it_value);
        old->it_interval = warpedInterval(old->it_interval);
    }
    return static_cast<int>(result);
}

extern "C" __attribute__((visibility("default"))) int timerfd_gettime(int fd, itimerspec* current)
{
    const long result = realSyscall()(SYS_timerfd_gettime, static_cast<long>(fd), current);
    if (result == 0) {
        current->it_value = warpedInterval(current->it_value);
        current->it_interval = warpedInterval(current->it_interval);
    }
    return static_cast<int>(result);
}
