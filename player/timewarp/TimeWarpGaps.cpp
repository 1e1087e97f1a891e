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
//     clock synchronisation and delivery threads).
// Here each deadline is moved onto the real clock: the time left on the warped clock, divided by the
// rate, from the real clock's now. Every other system call passes through untouched, so a raw
// syscall(SYS_clock_gettime) (the frame logs') still reads the real clock.
//
// The other way round, the kernel's receipt times of datagrams (SO_TIMESTAMPNS, SO_TIMESTAMP, read with
// recvmsg/recvmmsg) are stamped on the real CLOCK_REALTIME, while the process reads a warped one: on a PC
// whose oscillator drifts both would drift together. They are moved onto the warped clock here, as long
// ago on it as they were on the real one (times the rate); the library's clock samples carry them over
// to the host clock.
//
// The rate is read from FAKETIME ("xRATE"; 1 without it). Linux only.
#include <dlfcn.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

using SyscallFn = long (*)(long, ...);
using ClockwaitFn = int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
using RecvmsgFn = ssize_t (*)(int, msghdr*, int);
using RecvmmsgFn = int (*)(int, mmsghdr*, unsigned int, int, timespec*);

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

// A receipt time `stamp` of the real CLOCK_REALTIME as a time of the warped one.
long long warpedStampNs(long long stampNs)
{
    timespec warpedNow{};
    timespec realNow{};
    clock_gettime(CLOCK_REALTIME, &warpedNow);
    realSyscall()(SYS_clock_gettime, static_cast<long>(CLOCK_REALTIME), &realNow);
    const double ago = static_cast<double>(nsOf(realNow) - stampNs) * rate();
    return nsOf(warpedNow) - static_cast<long long>(ago);
}

void warpReceiptTimes(msghdr* message)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(message); c; c = CMSG_NXTHDR(message, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            stamp = timespecOf(warpedStampNs(nsOf(stamp)));
            std::memcpy(CMSG_DATA(c), &stamp, sizeof stamp);
        } else if (c->cmsg_type == SCM_TIMESTAMP && c->cmsg_len >= CMSG_LEN(sizeof(timeval))) {
            timeval stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            const long long ns = warpedStampNs(static_cast<long long>(stamp.tv_sec) * kNsPerS + stamp.tv_usec * 1000LL);
            stamp.tv_sec = static_cast<time_t>(ns / kNsPerS);
            stamp.tv_usec = static_cast<suseconds_t>((ns % kNsPerS) / 1000);
            std::memcpy(CMSG_DATA(c), &stamp, sizeof stamp);
        }
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) ssize_t recvmsg(int fd, msghdr* message, int flags)
{
    static const auto next = reinterpret_cast<RecvmsgFn>(dlsym(RTLD_NEXT, "recvmsg"));
    const ssize_t received = next(fd, message, flags);
    if (received >= 0 && message && message->msg_controllen > 0)
        warpReceiptTimes(message);
    return received;
}

extern "C" __attribute__((visibility("default"))) int recvmmsg(int fd, mmsghdr* messages, unsigned int count, int flags,
                                                              timespec* timeout)
{
    static const auto next = reinterpret_cast<RecvmmsgFn>(dlsym(RTLD_NEXT, "recvmmsg"));
    timespec moved{};
    if (timeout)
        moved = realInterval(*timeout);
    const int received = next(fd, messages, count, flags, timeout ? &moved : nullptr);
    for (int i = 0; i < received; ++i) {
        if (messages[i].msg_hdr.msg_controllen > 0)
            warpReceiptTimes(&messages[i].msg_hdr);
    }
    return received;
}

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
