// The box's remote controls: input event devices "/dev/input/eventN".
//
// The nodes are plain files in the box root, so the menu's stat and open
// work for real. Each device follows a script in the control folder,
// "input/eventN.conf", one item a line:
//
//   name TEXT          the name the name request answers (rest of the line)
//   name-fails         the name request fails (EIO)
//   open-fails         opening the node fails (EACCES)
//   record T TYPE CODE VALUE
//                      one event record, handed out once the box's clock is
//                      T seconds past the moment the device was opened
//                      (a Linux evdev device ends every event with the
//                      record "0 0 0", EV_SYN SYN_REPORT; the script holds
//                      those like any other record)
//   short T BYTES [TYPE CODE VALUE]
//                      a read at T that gives only the first BYTES bytes of
//                      a record (all zero but the time without the values)
//   idle real          a read before the next item is due goes to the node
//                      itself (an empty file: it finds nothing) and is not
//                      logged, so a system-call trace sees the program's reads
//
// Items are handed out in script order, one per read, each no earlier than
// its time; a read before the next item is due fails with EAGAIN. Every
// open, name request, read and close goes to the control folder's
// "input.log" with the box's time in nanoseconds, for the tests to read;
// all but the reads that found nothing go to the box's log as well.
#include "simclock.h"
#include "vdev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{

constexpr int maxFds = 4096;

struct Item {
    int64_t atNs;
    int shortBytes; // -1 for a whole record
    int type, code, value;
};

struct Device {
    int number = -1;
    std::string name;
    bool nameFails = false;
    bool openFails = false;
    bool idleReal = false;
    std::vector<Item> items;
    size_t next = 0;
    int64_t openedNs = 0;
};

Device *devices[maxFds];

// The box's present, in nanoseconds since the epoch.
int64_t nowNs()
{
    char path[512];
    return sim_clock_now_ns(sim_ctl_path("clock", path));
}

void inputLog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void inputLog(const char *fmt, ...)
{
    char prefix[32];
    snprintf(prefix, sizeof prefix, "%lld ", (long long)nowNs());
    va_list ap;
    va_start(ap, fmt);
    sim_vappend("input.log", prefix, fmt, ap);
    va_end(ap);
}

// The device number of "/dev/input/eventN", or -1.
int deviceNumber(const char *path)
{
    const char prefix[] = "/dev/input/event";
    if (strncmp(path, prefix, sizeof prefix - 1) != 0) return -1;
    const char *digits = path + sizeof prefix - 1;
    if (!*digits) return -1;
    int n = 0;
    for (const char *p = digits; *p; p++) {
        if (*p < '0' || *p > '9' || n > 100000) return -1;
        n = n * 10 + (*p - '0');
    }
    return n;
}

void readScript(Device *dev)
{
    char file[64], path[512];
    snprintf(file, sizeof file, "input/event%d.conf", dev->number);
    int fd = sim_real_open(sim_ctl_path(file, path), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return;
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = sim_real_read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, n);
    sim_real_close(fd);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        double at = 0;
        Item item{0, -1, 0, 0, 0};
        if (line.rfind("name ", 0) == 0) {
            dev->name = line.substr(5);
        } else if (line == "name-fails") {
            dev->nameFails = true;
        } else if (line == "open-fails") {
            dev->openFails = true;
        } else if (line == "idle real") {
            dev->idleReal = true;
        } else if (sscanf(line.c_str(), "record %lf %d %d %d", &at, &item.type, &item.code,
                          &item.value) == 4 ||
                   sscanf(line.c_str(), "short %lf %d %d %d %d", &at, &item.shortBytes, &item.type,
                          &item.code, &item.value) >= 2) {
            item.atNs = llround(at * 1e9);
            dev->items.push_back(item);
        } else if (!line.empty() && line[0] != '#') {
            sim_log("input: event%d: script line not understood: %s", dev->number, line.c_str());
        }
    }
}

bool claims(const char *path)
{
    return deviceNumber(path) >= 0;
}

int opened(int fd, const char *path, int flags)
{
    if (fd < 0 || fd >= maxFds) return 0;
    Device *dev = new Device;
    dev->number = deviceNumber(path);
    readScript(dev);
    if (dev->openFails) {
        inputLog("event%d open fails", dev->number);
        sim_log("event%d open -> EACCES", dev->number);
        delete dev;
        errno = EACCES;
        return -1;
    }
    dev->openedNs = nowNs();
    delete devices[fd];
    devices[fd] = dev;
    inputLog("event%d open%s", dev->number, (flags & O_NONBLOCK) ? " nonblocking" : "");
    sim_log("event%d open%s", dev->number, (flags & O_NONBLOCK) ? " O_NONBLOCK" : "");
    return 0;
}

int ioctlHook(int fd, unsigned long request, void *arg, int *ret)
{
    Device *dev = devices[fd];
    if (!dev || _IOC_TYPE(request) != 'E' || _IOC_NR(request) != _IOC_NR(EVIOCGNAME(0)) ||
        _IOC_DIR(request) != _IOC_READ)
        return 0;
    if (dev->nameFails) {
        inputLog("event%d name fails", dev->number);
        sim_log("event%d EVIOCGNAME -> EIO", dev->number);
        errno = EIO;
        *ret = -1;
        return 1;
    }
    // As the kernel does: copy the name with its zero byte, cut to the
    // buffer's size (then without a zero byte), and answer the count.
    size_t size = _IOC_SIZE(request);
    size_t count = dev->name.size() + 1 < size ? dev->name.size() + 1 : size;
    memcpy(arg, dev->name.c_str(), count);
    inputLog("event%d name %zu", dev->number, count);
    sim_log("event%d EVIOCGNAME(%zu) -> %zu bytes of \"%s\"", dev->number, size, count,
            dev->name.c_str());
    *ret = (int)count;
    return 1;
}

int readHook(int fd, void *buf, size_t count, ssize_t *ret)
{
    Device *dev = devices[fd];
    if (!dev) return 0;
    int64_t now = nowNs();
    if (dev->next >= dev->items.size() || dev->items[dev->next].atNs + dev->openedNs > now) {
        if (dev->idleReal) return 0;
        inputLog("event%d read none", dev->number);
        errno = EAGAIN;
        *ret = -1;
        return 1;
    }
    const Item &item = dev->items[dev->next++];
    struct input_event ev;
    memset(&ev, 0, sizeof ev);
    ev.input_event_sec = now / 1000000000;
    ev.input_event_usec = (now % 1000000000) / 1000;
    ev.type = (uint16_t)item.type;
    ev.code = (uint16_t)item.code;
    ev.value = item.value;
    size_t bytes = item.shortBytes >= 0 ? (size_t)item.shortBytes : sizeof ev;
    if (bytes > sizeof ev) bytes = sizeof ev;
    if (bytes > count) bytes = count;
    memcpy(buf, &ev, bytes);
    if (item.shortBytes >= 0) {
        inputLog("event%d read short %zu", dev->number, bytes);
        sim_log("event%d read -> %zu bytes only", dev->number, bytes);
    } else {
        inputLog("event%d read record %d %d %d", dev->number, item.type, item.code, item.value);
        sim_log("event%d read -> type %d code %d value %d", dev->number, item.type, item.code,
                item.value);
    }
    *ret = (ssize_t)bytes;
    return 1;
}

void closedHook(int fd)
{
    if (fd < 0 || fd >= maxFds || !devices[fd]) return;
    inputLog("event%d close", devices[fd]->number);
    sim_log("event%d close", devices[fd]->number);
    delete devices[fd];
    devices[fd] = nullptr;
}

const VDev remoteControl = {"input", claims, opened, ioctlHook, readHook, closedHook};

struct Register {
    Register() { vdev_register(&remoteControl); }
} registerRemoteControl;

} // namespace
