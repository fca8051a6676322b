// Reading the box's shared simulated clock from an emulated device.
//
// The clock (clock.cpp) is the control folder's file "clock": one 64-bit
// count of nanoseconds since the epoch at its start, read and written under
// a lock. Sleeps move it on; devices read it to know what time it is in the
// box. Without a clock file the real clock counts. Only raw system calls are
// used, so this is safe from inside any interposed function.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

// The present in the clock file of the given path; false without one.
inline bool sim_clock_read(const char *clockPath, int64_t *now)
{
    int fd = (int)syscall(SYS_openat, AT_FDCWD, clockPath, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    syscall(SYS_flock, fd, LOCK_SH);
    // A fresh descriptor reads from the start. (The raw pread64 is no help:
    // 32-bit MIPS passes its 64-bit offset in a register pair of its own.)
    bool ok = syscall(SYS_read, fd, now, sizeof *now) == (long)sizeof *now;
    syscall(SYS_flock, fd, LOCK_UN);
    syscall(SYS_close, fd);
    return ok;
}

// The box's present in nanoseconds since the epoch: the simulated clock when
// the box has one, else the real clock.
inline int64_t sim_clock_now_ns(const char *clockPath)
{
    int64_t now = 0;
    if (sim_clock_read(clockPath, &now)) return now;
    struct timespec ts;
    syscall(SYS_clock_gettime, CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}
