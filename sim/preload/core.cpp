// Descriptor tracking and dispatch of open, close, ioctl and read to the
// emulated devices.
#include "vdev.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr int maxDevices = 16;
constexpr int maxFds = 4096;

const VDev *devices[maxDevices];
int deviceCount = 0;
const VDev *fdOwner[maxFds];

template <typename T> T realFn(const char *name)
{
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

const VDev *claimant(const char *path)
{
    if (!path) return nullptr;
    for (int i = 0; i < deviceCount; i++)
        if (devices[i]->claims(path)) return devices[i];
    return nullptr;
}

int track(int fd, const char *path, int flags)
{
    if (fd < 0 || fd >= maxFds) return fd;
    fdOwner[fd] = nullptr;
    const VDev *dev = claimant(path);
    if (!dev) return fd;
    if (dev->opened && dev->opened(fd, path, flags) < 0) {
        int saved = errno;
        sim_real_close(fd);
        errno = saved;
        return -1;
    }
    fdOwner[fd] = dev;
    return fd;
}

const VDev *owner(int fd)
{
    return (fd >= 0 && fd < maxFds) ? fdOwner[fd] : nullptr;
}

} // namespace

void vdev_register(const VDev *dev)
{
    if (deviceCount < maxDevices) devices[deviceCount++] = dev;
}

const char *sim_ctl_dir()
{
    const char *dir = getenv("BOXSIM_CTL");
    return (dir && *dir) ? dir : "/.boxsim";
}

const char *sim_ctl_path(const char *file, char *out)
{
    snprintf(out, 512, "%s/%s", sim_ctl_dir(), file);
    return out;
}

void sim_vappend(const char *file, const char *prefix, const char *fmt, va_list ap)
{
    char line[1024];
    int n = snprintf(line, sizeof line, "%s", prefix);
    n += vsnprintf(line + n, sizeof line - n - 1, fmt, ap);
    if (n > (int)sizeof line - 2) n = sizeof line - 2;
    line[n++] = '\n';
    char path[512];
    int fd = sim_real_open(sim_ctl_path(file, path), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                           0644);
    if (fd < 0) return;
    ssize_t w = write(fd, line, n);
    (void)w;
    sim_real_close(fd);
}

void sim_log(const char *fmt, ...)
{
    char prefix[32];
    snprintf(prefix, sizeof prefix, "[%d] ", (int)getpid());
    va_list ap;
    va_start(ap, fmt);
    sim_vappend("log", prefix, fmt, ap);
    va_end(ap);
}

int sim_real_open(const char *path, int flags, mode_t mode)
{
    static auto fn = realFn<int (*)(const char *, int, ...)>("open");
    return fn(path, flags, mode);
}

int sim_real_close(int fd)
{
    static auto fn = realFn<int (*)(int)>("close");
    return fn(fd);
}

ssize_t sim_real_read(int fd, void *buf, size_t count)
{
    static auto fn = realFn<ssize_t (*)(int, void *, size_t)>("read");
    return fn(fd, buf, count);
}

int sim_real_ioctl(int fd, unsigned long request, void *arg)
{
    static auto fn = realFn<int (*)(int, unsigned long, ...)>("ioctl");
    return fn(fd, request, arg);
}

extern "C" {

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return track(sim_real_open(path, flags, mode), path, flags);
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    static auto fn = realFn<int (*)(const char *, int, ...)>("open64");
    return track(fn(path, flags, mode), path, flags);
}

int close(int fd)
{
    const VDev *dev = owner(fd);
    if (dev) {
        fdOwner[fd] = nullptr;
        if (dev->closed) dev->closed(fd);
    }
    return sim_real_close(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    const VDev *dev = owner(fd);
    int ret = 0;
    if (dev && dev->ioctl && dev->ioctl(fd, request, arg, &ret)) return ret;
    return sim_real_ioctl(fd, request, arg);
}

ssize_t read(int fd, void *buf, size_t count)
{
    const VDev *dev = owner(fd);
    ssize_t ret = 0;
    if (dev && dev->read && dev->read(fd, buf, count, &ret)) return ret;
    return sim_real_read(fd, buf, count);
}

} // extern "C"
