// The box's framebuffer "/dev/fb0" and virtual terminal "/dev/tty0".
//
// Both are plain files in the box root; fb0 holds the device memory, so the
// program maps it for real. This file answers the screen-information
// requests, the mode set, the colour-map load, the driver's two private
// requests (explicit update, blit) and the terminal's display mode. Every
// request is logged with its decoded arguments. On each blit the visible
// frame is saved in the control folder as "frames/NNNN.png" (what a person
// sees), "frames/NNNN.raw" (the bytes of the visible lines) and
// "frames/NNNN.txt" ("width height bits_per_pixel line_length").
//
// Policy, "fb.conf" in the control folder, one setting a line:
//   initial WxHxB        mode before any mode set (default 720x576x32)
//   mode accept          set what is asked (default)
//   mode refuse          refuse every mode set (EINVAL)
//   mode WxHxB           set this mode whatever is asked
//   pad N                line_length = width x bytes per pixel + N
//   smem_len N           reported memory length (default: size of fb0)
//   frames off           keep no frames at a blit (for measurements)
//   fail WHAT [ERRNO] [from N]
//                        make WHAT fail from its N-th call on (default 1);
//                        WHAT: open, mmap, tty0, FBIOGET_VSCREENINFO,
//                        FBIOPUT_VSCREENINFO, FBIOGET_FSCREENINFO,
//                        FBIOPUTCMAP, UPDATE, BLIT, KDSETMODE
// The mode and colour map last set persist for later processes of the box
// in "fb.state".
#include "vdev.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/fb.h>
#include <linux/kd.h>

#include <png.h>

namespace
{

const unsigned long updateRequest = _IOW('F', 0x21, unsigned char);
const unsigned long blitRequest = _IO('F', 0x22);

enum Action {
    actOpen,
    actMmap,
    actTty,
    actGetVar,
    actPutVar,
    actGetFix,
    actPutCmap,
    actUpdate,
    actBlit,
    actKdSetMode,
    actionCount
};
const char *const actionNames[actionCount] = {"open",
                                              "mmap",
                                              "tty0",
                                              "FBIOGET_VSCREENINFO",
                                              "FBIOPUT_VSCREENINFO",
                                              "FBIOGET_FSCREENINFO",
                                              "FBIOPUTCMAP",
                                              "UPDATE",
                                              "BLIT",
                                              "KDSETMODE"};

struct Failure {
    bool on = false;
    int error = 0;
    long from = 1;
};

struct Policy {
    uint32_t initial[3] = {720, 576, 32};
    bool refuse = false;
    bool forced = false;
    uint32_t force[3] = {0, 0, 0};
    uint32_t pad = 0;
    long long smemLen = -1;
    bool frames = true;
    Failure failures[actionCount];
};

// What the device keeps between requests and between processes.
struct State {
    uint32_t magic = 0;
    fb_var_screeninfo var{};
    uint16_t cmap[4][256]{};
    unsigned char update = 0;
};
constexpr uint32_t stateMagic = 0x42584642;

constexpr int maxFds = 4096;
enum Kind : unsigned char { kindNone, kindFb, kindTty };
Kind fdKind[maxFds];

bool loaded = false;
Policy policy;
State state;
long calls[actionCount];

int errnoByName(const char *name)
{
    static const struct {
        const char *name;
        int value;
    } names[] = {{"EINVAL", EINVAL}, {"ENODEV", ENODEV}, {"EIO", EIO},     {"ENOMEM", ENOMEM},
                 {"ENOENT", ENOENT}, {"EPERM", EPERM},   {"EBUSY", EBUSY}, {"ENOTTY", ENOTTY},
                 {"EACCES", EACCES}, {"ENXIO", ENXIO}};
    for (const auto &n : names)
        if (strcmp(n.name, name) == 0) return n.value;
    char *end = nullptr;
    long v = strtol(name, &end, 10);
    return (end && *end == 0 && v > 0) ? (int)v : 0;
}

bool parseMode(const char *text, uint32_t *mode)
{
    unsigned w, h, b;
    if (sscanf(text, "%ux%ux%u", &w, &h, &b) != 3) return false;
    mode[0] = w;
    mode[1] = h;
    mode[2] = b;
    return true;
}

void parseLine(char *line)
{
    char *words[6];
    int n = 0;
    for (char *save = nullptr, *w = strtok_r(line, " \t\r\n", &save); w && n < 6;
         w = strtok_r(nullptr, " \t\r\n", &save))
        words[n++] = w;
    if (n == 0 || words[0][0] == '#') return;
    if (strcmp(words[0], "initial") == 0 && n >= 2) {
        parseMode(words[1], policy.initial);
    } else if (strcmp(words[0], "mode") == 0 && n >= 2) {
        policy.refuse = strcmp(words[1], "refuse") == 0;
        policy.forced = parseMode(words[1], policy.force);
    } else if (strcmp(words[0], "pad") == 0 && n >= 2) {
        policy.pad = (uint32_t)strtoul(words[1], nullptr, 0);
    } else if (strcmp(words[0], "smem_len") == 0 && n >= 2) {
        policy.smemLen = strtoll(words[1], nullptr, 0);
    } else if (strcmp(words[0], "frames") == 0 && n >= 2) {
        policy.frames = strcmp(words[1], "off") != 0;
    } else if (strcmp(words[0], "fail") == 0 && n >= 2) {
        for (int a = 0; a < actionCount; a++) {
            if (strcmp(words[1], actionNames[a]) != 0) continue;
            Failure &f = policy.failures[a];
            f.on = true;
            f.error = a == actOpen ? ENODEV : EINVAL;
            for (int i = 2; i < n; i++) {
                if (strcmp(words[i], "from") == 0 && i + 1 < n)
                    f.from = strtol(words[++i], nullptr, 10);
                else if (errnoByName(words[i]))
                    f.error = errnoByName(words[i]);
            }
        }
    } else {
        sim_log("fb0 fb.conf: unknown setting %s", words[0]);
    }
}

// Reads a whole small file of the control folder into buf; returns its length or -1.
ssize_t readCtl(const char *name, void *buf, size_t size)
{
    char path[512];
    int fd = sim_real_open(sim_ctl_path(name, path), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return -1;
    size_t got = 0;
    while (got < size) {
        ssize_t r = sim_real_read(fd, (char *)buf + got, size - got);
        if (r <= 0) break;
        got += r;
    }
    sim_real_close(fd);
    return (ssize_t)got;
}

void writeCtl(const char *name, const void *buf, size_t size)
{
    char path[512], temp[520];
    sim_ctl_path(name, path);
    snprintf(temp, sizeof temp, "%s.%d", path, (int)getpid());
    int fd = sim_real_open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t w = write(fd, buf, size);
    sim_real_close(fd);
    if (w == (ssize_t)size) rename(temp, path);
}

void setColourFields(fb_var_screeninfo &var)
{
    var.transp = fb_bitfield{0, 0, 0};
    switch (var.bits_per_pixel) {
    case 8:
        var.red = fb_bitfield{0, 8, 0};
        var.green = var.blue = var.red;
        break;
    case 15:
        var.red = fb_bitfield{10, 5, 0};
        var.green = fb_bitfield{5, 5, 0};
        var.blue = fb_bitfield{0, 5, 0};
        break;
    case 16:
        var.red = fb_bitfield{11, 5, 0};
        var.green = fb_bitfield{5, 6, 0};
        var.blue = fb_bitfield{0, 5, 0};
        break;
    default:
        var.red = fb_bitfield{16, 8, 0};
        var.green = fb_bitfield{8, 8, 0};
        var.blue = fb_bitfield{0, 8, 0};
        if (var.bits_per_pixel == 32) var.transp = fb_bitfield{24, 8, 0};
        break;
    }
}

void load()
{
    if (loaded) return;
    loaded = true;
    char conf[8192];
    ssize_t n = readCtl("fb.conf", conf, sizeof conf - 1);
    if (n > 0) {
        conf[n] = 0;
        char *save = nullptr;
        for (char *line = strtok_r(conf, "\n", &save); line; line = strtok_r(nullptr, "\n", &save))
            parseLine(line);
    }
    State saved;
    if (readCtl("fb.state", &saved, sizeof saved) == (ssize_t)sizeof saved &&
        saved.magic == stateMagic) {
        state = saved;
        return;
    }
    state.magic = stateMagic;
    fb_var_screeninfo &var = state.var;
    var.xres = var.xres_virtual = policy.initial[0];
    var.yres = var.yres_virtual = policy.initial[1];
    var.bits_per_pixel = policy.initial[2];
    var.height = var.width = (uint32_t)-1;
    setColourFields(var);
}

void saveState()
{
    writeCtl("fb.state", &state, sizeof state);
}

// True (errno set) when the policy makes this call of the action fail.
bool failing(Action action)
{
    long call = ++calls[action];
    const Failure &f = policy.failures[action];
    if (!f.on || call < f.from) return false;
    errno = f.error;
    return true;
}

uint32_t lineLength(const fb_var_screeninfo &var)
{
    return (uint32_t)((uint64_t)var.xres_virtual * ((var.bits_per_pixel + 7) / 8)) + policy.pad;
}

long long fileSize(int fd)
{
    struct stat64 st;
    return fstat64(fd, &st) == 0 ? (long long)st.st_size : 0;
}

uint32_t smemLen(int fd)
{
    return (uint32_t)(policy.smemLen >= 0 ? policy.smemLen : fileSize(fd));
}

const char *modeText(const fb_var_screeninfo &var, char *out, size_t size)
{
    snprintf(out, size, "%ux%ux%u virtual %ux%u offset %u,%u", var.xres, var.yres,
             var.bits_per_pixel, var.xres_virtual, var.yres_virtual, var.xoffset, var.yoffset);
    return out;
}

int fail(const char *what, int *ret)
{
    sim_log("fb0 %s -> failed: %s", what, strerror(errno));
    *ret = -1;
    return 1;
}

// The visible frame decoded into 8-bit RGB, the way the screen shows it.
void decodeFrame(const unsigned char *raw, const fb_var_screeninfo &var, uint32_t line,
                 unsigned char *rgb)
{
    uint32_t bpp = var.bits_per_pixel;
    for (uint32_t y = 0; y < var.yres; y++) {
        const unsigned char *src = raw + (size_t)y * line;
        for (uint32_t x = 0; x < var.xres; x++, rgb += 3) {
            uint32_t r = 0, g = 0, b = 0;
            if (bpp == 8) {
                unsigned i = src[x];
                r = state.cmap[0][i] >> 8;
                g = state.cmap[1][i] >> 8;
                b = state.cmap[2][i] >> 8;
            } else if (bpp == 15 || bpp == 16) {
                uint16_t v;
                memcpy(&v, src + x * 2, 2);
                unsigned gbits = bpp == 16 ? 6 : 5;
                unsigned rs = bpp == 16 ? 11 : 10;
                r = (v >> rs) & 0x1F;
                g = (v >> 5) & ((1u << gbits) - 1);
                b = v & 0x1F;
                r = (r << 3) | (r >> 2);
                g = gbits == 6 ? ((g << 2) | (g >> 4)) : ((g << 3) | (g >> 2));
                b = (b << 3) | (b >> 2);
            } else if (bpp == 24) {
                const unsigned char *p = src + x * 3;
                b = p[0];
                g = p[1];
                r = p[2];
            } else if (bpp == 32) {
                uint32_t v;
                memcpy(&v, src + x * 4, 4);
                r = (v >> 16) & 0xFF;
                g = (v >> 8) & 0xFF;
                b = v & 0xFF;
            }
            rgb[0] = (unsigned char)r;
            rgb[1] = (unsigned char)g;
            rgb[2] = (unsigned char)b;
        }
    }
}

bool writePng(const char *path, const unsigned char *rgb, uint32_t width, uint32_t height)
{
    FILE *file = fopen(path, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; y++)
        png_write_row(png, const_cast<unsigned char *>(rgb) + (size_t)y * width * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0;
}

int nextFrameNumber(const char *dir)
{
    int highest = 0;
    DIR *d = opendir(dir);
    if (!d) return 1;
    // The 64-bit listing: a 32-bit program's plain readdir fails on
    // directory cookies that do not fit 32 bits.
    while (dirent64 *e = readdir64(d)) {
        int n = atoi(e->d_name);
        if (n > highest) highest = n;
    }
    closedir(d);
    return highest + 1;
}

void saveFrame(int fd)
{
    const fb_var_screeninfo &var = state.var;
    uint32_t line = lineLength(var);
    size_t size = (size_t)line * var.yres;
    unsigned char *raw = (unsigned char *)calloc(size ? size : 1, 1);
    unsigned char *rgb = (unsigned char *)calloc((size_t)var.xres * var.yres * 3 + 1, 1);
    if (!raw || !rgb) {
        free(raw);
        free(rgb);
        sim_log("fb0 BLIT -> no memory for the frame");
        return;
    }
    off_t start = (off_t)var.yoffset * line + (off_t)var.xoffset * ((var.bits_per_pixel + 7) / 8);
    ssize_t got = pread(fd, raw, size, start);
    (void)got;
    decodeFrame(raw, var, line, rgb);

    char dir[512], path[600];
    sim_ctl_path("frames", dir);
    mkdir(dir, 0755);
    int number = nextFrameNumber(dir);
    snprintf(path, sizeof path, "%s/%04d.raw", dir, number);
    int out = sim_real_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out >= 0) {
        ssize_t w = write(out, raw, size);
        (void)w;
        sim_real_close(out);
    }
    snprintf(path, sizeof path, "%s/%04d.txt", dir, number);
    out = sim_real_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out >= 0) {
        char info[128];
        int n = snprintf(info, sizeof info, "%u %u %u %u\n", var.xres, var.yres, var.bits_per_pixel,
                         line);
        ssize_t w = write(out, info, n);
        (void)w;
        sim_real_close(out);
    }
    snprintf(path, sizeof path, "%s/%04d.png", dir, number);
    bool ok = writePng(path, rgb, var.xres, var.yres);
    sim_log("fb0 BLIT -> frames/%04d %ux%ux%u line %u%s", number, var.xres, var.yres,
            var.bits_per_pixel, line, ok ? "" : " (png not written)");
    free(raw);
    free(rgb);
}

int fbIoctl(int fd, unsigned long request, void *arg, int *ret)
{
    char text[160];
    *ret = 0;
    if (request == FBIOGET_VSCREENINFO) {
        if (failing(actGetVar)) return fail("FBIOGET_VSCREENINFO", ret);
        memcpy(arg, &state.var, sizeof state.var);
        sim_log("fb0 FBIOGET_VSCREENINFO -> %s", modeText(state.var, text, sizeof text));
        return 1;
    }
    if (request == FBIOPUT_VSCREENINFO) {
        fb_var_screeninfo asked;
        memcpy(&asked, arg, sizeof asked);
        char askedText[160];
        modeText(asked, askedText, sizeof askedText);
        if (failing(actPutVar)) {
            sim_log("fb0 FBIOPUT_VSCREENINFO %s size %ux%umm -> failed: %s", askedText, asked.width,
                    asked.height, strerror(errno));
            *ret = -1;
            return 1;
        }
        if (policy.refuse) {
            sim_log("fb0 FBIOPUT_VSCREENINFO %s size %ux%umm -> refused", askedText, asked.width,
                    asked.height);
            errno = EINVAL;
            *ret = -1;
            return 1;
        }
        fb_var_screeninfo set = asked;
        if (policy.forced) {
            set.xres = set.xres_virtual = policy.force[0];
            set.yres = set.yres_virtual = policy.force[1];
            set.bits_per_pixel = policy.force[2];
        }
        if (set.xres_virtual < set.xres) set.xres_virtual = set.xres;
        if (set.yres_virtual < set.yres) set.yres_virtual = set.yres;
        setColourFields(set);
        state.var = set;
        saveState();
        memcpy(arg, &set, sizeof set);
        sim_log("fb0 FBIOPUT_VSCREENINFO %s size %ux%umm -> %s", askedText, asked.width,
                asked.height, modeText(set, text, sizeof text));
        return 1;
    }
    if (request == FBIOGET_FSCREENINFO) {
        if (failing(actGetFix)) return fail("FBIOGET_FSCREENINFO", ret);
        fb_fix_screeninfo fix{};
        strncpy(fix.id, "boxsim", sizeof fix.id - 1);
        fix.smem_len = smemLen(fd);
        fix.type = FB_TYPE_PACKED_PIXELS;
        fix.visual = state.var.bits_per_pixel == 8 ? FB_VISUAL_PSEUDOCOLOR : FB_VISUAL_TRUECOLOR;
        fix.line_length = lineLength(state.var);
        memcpy(arg, &fix, sizeof fix);
        sim_log("fb0 FBIOGET_FSCREENINFO -> smem_len %u line_length %u", fix.smem_len,
                fix.line_length);
        return 1;
    }
    if (request == FBIOPUTCMAP) {
        fb_cmap cmap;
        memcpy(&cmap, arg, sizeof cmap);
        if (failing(actPutCmap)) return fail("FBIOPUTCMAP", ret);
        if (cmap.start >= 256 || cmap.len > 256 - cmap.start || !cmap.red || !cmap.green ||
            !cmap.blue) {
            sim_log("fb0 FBIOPUTCMAP start %u len %u -> invalid", cmap.start, cmap.len);
            errno = EINVAL;
            *ret = -1;
            return 1;
        }
        uint16_t *parts[4] = {cmap.red, cmap.green, cmap.blue, cmap.transp};
        for (int p = 0; p < 4; p++)
            if (parts[p]) memcpy(&state.cmap[p][cmap.start], parts[p], cmap.len * 2);
        saveState();
        unsigned last = cmap.start + cmap.len - 1;
        sim_log("fb0 FBIOPUTCMAP start %u len %u transp %s last %u,%u,%u", cmap.start, cmap.len,
                cmap.transp ? "yes" : "no", state.cmap[0][last], state.cmap[1][last],
                state.cmap[2][last]);
        return 1;
    }
    if (request == updateRequest) {
        if (failing(actUpdate)) return fail("UPDATE", ret);
        unsigned char on = arg ? *(unsigned char *)arg : 0;
        state.update = on;
        saveState();
        sim_log("fb0 UPDATE %u", on);
        return 1;
    }
    if (request == blitRequest) {
        if (failing(actBlit)) return fail("BLIT", ret);
        if (policy.frames)
            saveFrame(fd);
        else
            sim_log("fb0 BLIT -> frames off");
        return 1;
    }
    sim_log("fb0 ioctl 0x%lx -> not supported", request);
    errno = ENOTTY;
    *ret = -1;
    return 1;
}

int ttyIoctl(int fd, unsigned long request, void *arg, int *ret)
{
    (void)fd;
    *ret = 0;
    if (request == KDSETMODE) {
        long mode = (long)arg;
        const char *name = mode == KD_TEXT ? "KD_TEXT" : mode == KD_GRAPHICS ? "KD_GRAPHICS" : "?";
        if (failing(actKdSetMode)) {
            sim_log("tty0 KDSETMODE %s -> failed: %s", name, strerror(errno));
            *ret = -1;
            return 1;
        }
        sim_log("tty0 KDSETMODE %s", name);
        return 1;
    }
    sim_log("tty0 ioctl 0x%lx -> not supported", request);
    errno = ENOTTY;
    *ret = -1;
    return 1;
}

bool claims(const char *path)
{
    return strcmp(path, "/dev/fb0") == 0 || strcmp(path, "/dev/tty0") == 0;
}

int opened(int fd, const char *path, int flags)
{
    load();
    bool tty = strcmp(path, "/dev/tty0") == 0;
    const char *mode = (flags & O_ACCMODE) == O_RDWR     ? "O_RDWR"
                       : (flags & O_ACCMODE) == O_WRONLY ? "O_WRONLY"
                                                         : "O_RDONLY";
    if (failing(tty ? actTty : actOpen)) {
        sim_log("%s open %s -> failed: %s", tty ? "tty0" : "fb0", mode, strerror(errno));
        return -1;
    }
    sim_log("%s open %s", tty ? "tty0" : "fb0", mode);
    if (fd >= 0 && fd < maxFds) fdKind[fd] = tty ? kindTty : kindFb;
    return 0;
}

int ioctlHook(int fd, unsigned long request, void *arg, int *ret)
{
    Kind kind = (fd >= 0 && fd < maxFds) ? fdKind[fd] : kindNone;
    if (kind == kindFb) return fbIoctl(fd, request, arg, ret);
    if (kind == kindTty) return ttyIoctl(fd, request, arg, ret);
    return 0;
}

void closedHook(int fd)
{
    if (fd >= 0 && fd < maxFds) {
        if (fdKind[fd] != kindNone) sim_log("%s close", fdKind[fd] == kindTty ? "tty0" : "fb0");
        fdKind[fd] = kindNone;
    }
}

const VDev fbDevice = {"fb0", claims, opened, ioctlHook, nullptr, closedHook};

struct Registrar {
    Registrar() { vdev_register(&fbDevice); }
} registrar;

// The device memory can be mapped only as far as it reaches, as with the
// box's driver: a longer mapping is refused. Other files pass through.
template <typename Offset>
void *fbMmap(const char *realName, void *addr, size_t length, int prot, int flags, int fd,
             Offset offset)
{
    using MmapFn = void *(*)(void *, size_t, int, int, int, Offset);
    MmapFn real = reinterpret_cast<MmapFn>(dlsym(RTLD_NEXT, realName));
    if (fd < 0 || fd >= maxFds || fdKind[fd] != kindFb)
        return real(addr, length, prot, flags, fd, offset);
    if (failing(actMmap)) {
        sim_log("fb0 mmap length %zu offset %lld -> failed: %s", length, (long long)offset,
                strerror(errno));
        return MAP_FAILED;
    }
    long long size = fileSize(fd);
    if (offset < 0 || (long long)length > size - (long long)offset) {
        sim_log("fb0 mmap length %zu offset %lld -> refused: memory is %lld bytes", length,
                (long long)offset, size);
        errno = EINVAL;
        return MAP_FAILED;
    }
    void *map = real(addr, length, prot, flags, fd, offset);
    sim_log("fb0 mmap length %zu offset %lld%s", length, (long long)offset,
            map == MAP_FAILED ? " -> failed" : "");
    return map;
}

} // namespace

extern "C" {

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    return fbMmap<off_t>("mmap", addr, length, prot, flags, fd, offset);
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off64_t offset)
{
    return fbMmap<off64_t>("mmap64", addr, length, prot, flags, fd, offset);
}

} // extern "C"
