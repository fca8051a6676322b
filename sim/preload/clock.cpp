// The box's simulated clock.
//
// Every program of a box shares one clock: int64 nanoseconds since the epoch
// in the control folder's "clock" file, read and written under a lock. Sleeps
// advance it at once and are recorded in the box's log in their place; the
// time queries read it. Without a clock file the real clock is used.
//
// glibc's sleep and usleep reach the kernel through an internal nanosleep
// that a preloaded library cannot catch, so each call is replaced by name.
#include "boxrecord.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace
{

constexpr int64_t nsPerSecond = 1000000000;

template <typename T> T realFn(const char *name)
{
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

// Opens the clock file, or -1 when the box has none.
int openClock()
{
    return boxrec::openCtl("clock", O_RDWR);
}

bool readClock(int fd, int64_t *now)
{
    return pread(fd, now, sizeof *now, 0) == sizeof *now;
}

// Reads the clock; false when there is no simulated clock.
bool clockNow(int64_t *now)
{
    int fd = openClock();
    if (fd < 0) return false;
    flock(fd, LOCK_SH);
    bool ok = readClock(fd, now);
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
}

// Moves the clock on by ns (or to at least `until` when until > 0) and
// records the sleep. False when there is no simulated clock.
bool clockSleep(const char *call, int64_t ns, int64_t until = 0)
{
    int fd = openClock();
    if (fd < 0) return false;
    flock(fd, LOCK_EX);
    int64_t now = 0;
    bool ok = readClock(fd, &now);
    if (ok) {
        int64_t next = until > 0 ? (until > now ? until : now) : now + (ns > 0 ? ns : 0);
        ok = pwrite(fd, &next, sizeof next, 0) == sizeof next;
        if (ok)
            boxrec::Line("sleep")
                .add("call", call)
                .add("ns", std::to_string(next - now))
                .add("now", std::to_string(next))
                .write();
    }
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
}

int64_t toNs(const struct timespec *ts)
{
    return ts ? static_cast<int64_t>(ts->tv_sec) * nsPerSecond + ts->tv_nsec : 0;
}

void fromNs(int64_t ns, struct timespec *ts)
{
    ts->tv_sec = ns / nsPerSecond;
    ts->tv_nsec = ns % nsPerSecond;
}

bool simulatedClockId(clockid_t id)
{
    return id == CLOCK_REALTIME || id == CLOCK_MONOTONIC || id == CLOCK_REALTIME_COARSE ||
           id == CLOCK_MONOTONIC_COARSE || id == CLOCK_MONOTONIC_RAW || id == CLOCK_BOOTTIME;
}

} // namespace

extern "C" {

unsigned int sleep(unsigned int seconds)
{
    if (clockSleep("sleep", static_cast<int64_t>(seconds) * nsPerSecond)) return 0;
    static auto fn = realFn<unsigned int (*)(unsigned int)>("sleep");
    return fn(seconds);
}

int usleep(useconds_t usec)
{
    if (clockSleep("usleep", static_cast<int64_t>(usec) * 1000)) return 0;
    static auto fn = realFn<int (*)(useconds_t)>("usleep");
    return fn(usec);
}

int nanosleep(const struct timespec *req, struct timespec *rem)
{
    if (!req || req->tv_nsec < 0 || req->tv_nsec >= nsPerSecond) {
        errno = EINVAL;
        return -1;
    }
    if (clockSleep("nanosleep", toNs(req))) {
        if (rem) rem->tv_sec = rem->tv_nsec = 0;
        return 0;
    }
    static auto fn = realFn<int (*)(const struct timespec *, struct timespec *)>("nanosleep");
    return fn(req, rem);
}

int clock_nanosleep(clockid_t id, int flags, const struct timespec *req, struct timespec *rem)
{
    if (!req || req->tv_nsec < 0 || req->tv_nsec >= nsPerSecond) return EINVAL;
    if (simulatedClockId(id)) {
        bool done = (flags & TIMER_ABSTIME) ? clockSleep("clock_nanosleep", 0, toNs(req))
                                            : clockSleep("clock_nanosleep", toNs(req));
        if (done) {
            if (rem && !(flags & TIMER_ABSTIME)) rem->tv_sec = rem->tv_nsec = 0;
            return 0;
        }
    }
    static auto fn = realFn<int (*)(clockid_t, int, const struct timespec *, struct timespec *)>(
        "clock_nanosleep");
    return fn(id, flags, req, rem);
}

time_t time(time_t *out)
{
    int64_t now;
    if (clockNow(&now)) {
        time_t t = static_cast<time_t>(now / nsPerSecond);
        if (out) *out = t;
        return t;
    }
    static auto fn = realFn<time_t (*)(time_t *)>("time");
    return fn(out);
}

int gettimeofday(struct timeval *tv, void *tz)
{
    int64_t now;
    if (clockNow(&now)) {
        tv->tv_sec = now / nsPerSecond;
        tv->tv_usec = (now % nsPerSecond) / 1000;
        return 0;
    }
    static auto fn = realFn<int (*)(struct timeval *, void *)>("gettimeofday");
    return fn(tv, tz);
}

int clock_gettime(clockid_t id, struct timespec *ts)
{
    int64_t now;
    if (simulatedClockId(id) && clockNow(&now)) {
        fromNs(now, ts);
        return 0;
    }
    static auto fn = realFn<int (*)(clockid_t, struct timespec *)>("clock_gettime");
    return fn(id, ts);
}

} // extern "C"
