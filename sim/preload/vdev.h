// The box simulator's preloaded library: emulated devices of the box.
//
// The library is preloaded into the programs that run inside a simulated box
// (LD_PRELOAD). Device nodes such as /dev/fb0 or /dev/input/event0 are plain
// files in the box root, so open, stat and mmap work for real; the core below
// tracks which descriptors belong to an emulated device and hands their
// ioctl and read calls to that device.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <sys/types.h>

struct VDev {
    const char *name;
    // True when this device stands behind the path the program opened.
    bool (*claims)(const char *path);
    // Called after the real open succeeded. Return 0 to keep the descriptor,
    // or -1 with errno set to make the open fail (the core closes it).
    int (*opened)(int fd, const char *path, int flags);
    // Return 1 when handled (the result stored in *ret, errno set on -1),
    // 0 to pass the call on to the real ioctl.
    int (*ioctl)(int fd, unsigned long request, void *arg, int *ret);
    // Return 1 when handled (result in *ret), 0 to pass on to the real read.
    int (*read)(int fd, void *buf, size_t count, ssize_t *ret);
    void (*closed)(int fd);
};

// Registers a device; call from a static initialiser of the device's file.
void vdev_register(const VDev *dev);

// The simulator's control folder inside the box root (BOXSIM_CTL, default
// "/.boxsim"): configuration files, the shared clock, the log, frames.
const char *sim_ctl_dir();
// Path of a file in the control folder (static buffer per call site is not
// used: the result is written into out, which must hold 512 bytes).
const char *sim_ctl_path(const char *file, char *out);
// Appends one line to the control folder's log ("log"), prefixed with the
// process id. Uses only raw system calls, so it is safe from any hook.
void sim_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends prefix, the formatted text and a line end to a file of the control
// folder, the same way.
void sim_vappend(const char *file, const char *prefix, const char *fmt, va_list ap);

// The real functions behind the interposed ones.
int sim_real_open(const char *path, int flags, mode_t mode);
int sim_real_close(int fd);
ssize_t sim_real_read(int fd, void *buf, size_t count);
int sim_real_ioctl(int fd, unsigned long request, void *arg);
