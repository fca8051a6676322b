// The box's shared simulated clock.
//
// Every process of a simulated box sees one clock: the control folder's file
// "clock" holds two 64-bit counts of nanoseconds since the epoch, the origin
// (the moment the box was switched on) and the present. Sleeping advances the
// present; nothing else does, so a 10-second wait costs no real time and two
// runs of the same box see the same times. The file is mapped shared, so the
// whole process tree (and the test that reads it afterwards) agree on it.
//
// Only raw system calls are used: the clock is read from inside interposed
// functions, where the C library's own open or stdio must not be re-entered.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

struct SimClock {
    int64_t originNs; // when the box was switched on
    int64_t nowNs;    // the present
};

// The start of a box whose clock nobody set: 2026-01-01 00:00:00 UTC.
constexpr int64_t simClockDefaultStartNs = 1767225600LL * 1000000000LL;

// Maps the clock file of the control folder ctlDir, creating it at the
// default start when it is missing or empty. Null when it cannot be had.
inline SimClock *sim_clock_map(const char *ctlDir)
{
    char path[512];
    snprintf(path, sizeof path, "%s/clock", ctlDir);
    int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    off_t size = (off_t)syscall(SYS_lseek, fd, 0, SEEK_END);
    if (size < (off_t)sizeof(SimClock) && syscall(SYS_ftruncate, fd, sizeof(SimClock)) != 0) {
        syscall(SYS_close, fd);
        return nullptr;
    }
    void *map = mmap(nullptr, sizeof(SimClock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    syscall(SYS_close, fd);
    if (map == MAP_FAILED) return nullptr;
    SimClock *clock = static_cast<SimClock *>(map);
    int64_t zero = 0;
    __atomic_compare_exchange_n(&clock->originNs, &zero, simClockDefaultStartNs, false,
                                __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    zero = 0;
    __atomic_compare_exchange_n(&clock->nowNs, &zero, clock->originNs, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return clock;
}

// The clock of the box this process runs in (control folder from BOXSIM_CTL,
// default "/.boxsim"); mapped on first use, null when it cannot be had.
inline SimClock *sim_clock()
{
    static SimClock *clock = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const char *dir = getenv("BOXSIM_CTL");
        clock = sim_clock_map((dir && *dir) ? dir : "/.boxsim");
    }
    return clock;
}

inline int64_t sim_clock_now_ns(SimClock *clock)
{
    return __atomic_load_n(&clock->nowNs, __ATOMIC_SEQ_CST);
}

// Nanoseconds since the box was switched on.
inline int64_t sim_clock_uptime_ns(SimClock *clock)
{
    return sim_clock_now_ns(clock) - __atomic_load_n(&clock->originNs, __ATOMIC_SEQ_CST);
}

inline void sim_clock_advance_ns(SimClock *clock, int64_t ns)
{
    if (ns > 0) __atomic_fetch_add(&clock->nowNs, ns, __ATOMIC_SEQ_CST);
}
