// The framebuffer object: device opening, video mode, colour conversion,
// rectangles, pictures and the construction that ties them together.
// Text drawing lives in font.cpp.
#include "fb.h"
#include "draw.h"

#include "bootinit/paths.h"

#include <errno.h>
#include <limits.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <linux/kd.h>

const unsigned long fbUpdateSwitchRequest = _IOW('F', 0x21, unsigned char);
const unsigned long fbBlitRequest = _IO('F', 0x22);

unsigned char *convertRGB2FB(int fd, unsigned char *rgbbuff, unsigned long count, int bpp,
                             int *bypp)
{
    (void)fd;
    int bytes = fbBytesPerPixel(bpp);
    if (bytes == 0) {
        fprintf(stderr, "Unsupported video mode! You've got: %dbpp\n", bpp);
        exit(1);
    }
    *bypp = bytes;
    if (count > SIZE_MAX / 4) return nullptr;
    size_t size = count * (size_t)bytes;
    unsigned char *out = (unsigned char *)malloc(size ? size : 1);
    if (!out) return nullptr;
    fbConvertPixels(rgbbuff, count, bpp, out);
    return out;
}

fbClass::fbClass()
{
    // Device opening.
    mapLength = 0;
    fbFd = open(paths::framebuffer, O_RDWR);
    if (fbFd < 0) {
        unavailable(paths::framebuffer);
        return;
    }
    if (ioctl(fbFd, FBIOGET_VSCREENINFO, &modeInfo) < 0) {
        unavailable("FBIOGET_VSCREENINFO");
        return;
    }
    savedModeInfo = modeInfo;
    fb_fix_screeninfo fix{};
    if (ioctl(fbFd, FBIOGET_FSCREENINFO, &fix) < 0) {
        unavailable("[Framebuffer] <FBIOGET_FSCREENINFO>");
        return;
    }
    mapLength = fix.smem_len;
    void *map = mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, fbFd, 0);
    if (map == MAP_FAILED) {
        unavailable("mmap");
        return;
    }
    screenMap = (unsigned char *)map;

    if (!setupFont()) return;
    showConsole(1);
    puts("[Framebuffer] available.");
}

void fbClass::unavailable(const char *what)
{
    perror(what);
    screenMap = nullptr;
    puts("[Framebuffer] <not available>");
}

int fbClass::SetMode(unsigned int x, unsigned int y, unsigned int bpp)
{
    // Without a mapping the mode record may never have been read.
    if (!screenMap) return -1;

    modeInfo.xres = x;
    modeInfo.xres_virtual = x;
    modeInfo.yres = y;
    modeInfo.yres_virtual = y;
    modeInfo.xoffset = 0;
    modeInfo.yoffset = 0;
    modeInfo.bits_per_pixel = bpp;
    modeInfo.height = 0;
    modeInfo.width = 0;
    if (ioctl(fbFd, FBIOPUT_VSCREENINFO, &modeInfo) < 0) {
        perror("[FB-SET] <FBIOPUT_VSCREENINFO>");
        return -1;
    }
    if (modeInfo.xres != x && modeInfo.yres != y && modeInfo.bits_per_pixel != bpp)
        printf("[FB-SET] <SetMode failed: wanted: %dx%dx%d, got %dx%dx%d>\n", (int)x, (int)y,
               (int)bpp, (int)modeInfo.xres, (int)modeInfo.yres, (int)modeInfo.bits_per_pixel);
    screenWidth = modeInfo.xres;
    screenHeight = modeInfo.yres;
    bitsPerPixel = modeInfo.bits_per_pixel;

    fb_fix_screeninfo fix{};
    if (ioctl(fbFd, FBIOGET_FSCREENINFO, &fix) < 0) {
        perror("[FB-SET] <FBIOGET_FSCREENINFO>");
        // No line length is known for this mode: draw nothing until the
        // next mode change that can read one.
        lineLength = 0;
        linePixels = 0;
        return -1;
    }
    lineLength = fix.line_length;
    linePixels = bitsPerPixel ? (uint32_t)(((uint64_t)lineLength * 8) / bitsPerPixel) : 0;

    memset(screenMap, 0, fbClearLength(lineLength, screenHeight, mapLength));
    palette();

    unsigned char on = 1;
    ioctl(fbFd, fbUpdateSwitchRequest, &on);
    return 0;
}

void fbClass::palette()
{
    unsigned char black[3] = {0, 0, 0};
    int bypp = 0;
    unsigned char *pixel = convertRGB2FB(fbFd, black, 1, modeInfo.bits_per_pixel, &bypp);
    if (!pixel) {
        puts("malloc");
        return;
    }
    blit2FB(pixel, nullptr, 1, 1, linePixels, screenHeight, 0, 0, 0, 0, bypp);
    free(pixel);
}

int fbClass::blit()
{
    if (!screenMap) return -1;
    return ioctl(fbFd, fbBlitRequest);
}

int fbClass::showConsole(int show)
{
    int fd = open(paths::console, O_RDWR);
    if (fd < 0) return 0;
    if (ioctl(fd, KDSETMODE, show ? KD_TEXT : KD_GRAPHICS) < 0)
        perror("[CONSOLE] <setting /dev/tty0 status failed>");
    close(fd);
    return 0;
}

void fbClass::FillRect(int x, int y, int width, int height, int r, int g, int b)
{
    if (!screenMap) return;
    unsigned char rgb[3] = {(unsigned char)r, (unsigned char)g, (unsigned char)b};
    int bypp = 0;
    unsigned char *pixel = convertRGB2FB(fbFd, rgb, 1, modeInfo.bits_per_pixel, &bypp);
    if (!pixel) {
        puts("malloc");
        return;
    }
    FbArea area = fbClipRect(screenGeometry(bypp), x, y, width, height);
    for (int64_t line = area.top; line < area.top + area.height; line++)
        fbFillPixels(screenMap + line * lineLength + area.left * bypp, pixel, bypp,
                     (size_t)area.width);
    free(pixel);
}

FbGeometry fbClass::screenGeometry(int bypp) const
{
    FbGeometry geometry;
    geometry.width = screenWidth;
    geometry.height = screenHeight;
    geometry.lineLength = lineLength;
    geometry.mapLength = mapLength;
    geometry.bytesPerPixel = bypp;
    return geometry;
}

void fbClass::blit2FB(void *fbbuff, unsigned char *alpha, unsigned int pic_xs, unsigned int pic_ys,
                      unsigned int scr_xs, unsigned int scr_ys, unsigned int xp, unsigned int yp,
                      unsigned int xoffs, unsigned int yoffs, int cpp)
{
    (void)alpha;
    if (!screenMap || cpp <= 0) return;
    FbCopy copy = fbClipCopy(pic_xs, pic_ys, scr_xs, scr_ys, xp, yp, xoffs, yoffs);
    uint64_t length = (uint64_t)scr_xs * scr_ys * (unsigned)cpp;
    if (length == 0 || length > SIZE_MAX) return;

    // A large copy has the kernel fill in the whole mapping at once instead
    // of one page fault per page; the device sees the same mapping.
    int flags = MAP_SHARED | (fbPrefaultCopy(copy, cpp) ? MAP_POPULATE : 0);
    void *map = mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, fbFd, 0);
    if (map == MAP_FAILED) {
        perror("mmap");
        return;
    }
    if (cpp == 1) make332map();
    unsigned char *dst = (unsigned char *)map + ((uint64_t)yoffs * scr_xs + xoffs) * cpp;
    const unsigned char *src =
        (const unsigned char *)fbbuff + ((uint64_t)yp * pic_xs + xp) * (unsigned)cpp;
    size_t lineBytes = (size_t)copy.columns * cpp;
    if (copy.lines > 0 && pic_xs == scr_xs && copy.columns == pic_xs) {
        // Picture and screen lines of the same length: one block for all.
        memcpy(dst, src, lineBytes * copy.lines);
    } else {
        for (unsigned int line = 0; line < copy.lines; line++) {
            memcpy(dst, src, lineBytes);
            dst += (size_t)scr_xs * cpp;
            src += (size_t)pic_xs * cpp;
        }
    }
    if (cpp == 1) make8map();
    munmap(map, length);
}

int fbClass::make332map()
{
    fbMake332(cmapRed, cmapGreen, cmapBlue);
    return make8map();
}

int fbClass::make8map()
{
    fb_cmap cmap{};
    cmap.start = 0;
    cmap.len = 256;
    cmap.red = cmapRed;
    cmap.green = cmapGreen;
    cmap.blue = cmapBlue;
    cmap.transp = cmapTransp;
    return ioctl(fbFd, FBIOPUTCMAP, &cmap);
}

void fbClass::fb_display(unsigned char *rgbbuff, unsigned char *alpha, int x_size, int y_size,
                         int x_pan, int y_pan, int x_offs, int y_offs)
{
    if (!screenMap || x_size <= 0 || y_size <= 0) return;
    FbPlacement place = fbPlacePicture(x_size, y_size, (int)linePixels, (int)screenHeight, x_pan,
                                       y_pan, x_offs, y_offs);
    uint64_t count = (uint64_t)x_size * (uint64_t)y_size;
    if (count > ULONG_MAX) return;
    int bypp = 0;
    unsigned char *converted = keptConversion(rgbbuff, x_size, y_size, &bypp);
    bool fresh = converted == nullptr;
    if (fresh)
        converted =
            convertRGB2FB(fbFd, rgbbuff, (unsigned long)count, modeInfo.bits_per_pixel, &bypp);
    if (!converted) return;
    blit2FB(converted, alpha, x_size, y_size, linePixels, screenHeight, place.panX, place.panY,
            place.offX, place.offY, bypp);
    if (fresh) free(converted);
}

void fbClass::keepPicture(const unsigned char *rgbbuff, int x_size, int y_size)
{
    free(kept.converted);
    kept = KeptPicture();
    kept.source = rgbbuff;
    kept.width = x_size;
    kept.height = y_size;
}

// The kept conversion of the declared picture for the current depth, made
// now when there is none yet; null for any other picture, or when the
// conversion cannot be made (the caller then converts as usual).
unsigned char *fbClass::keptConversion(unsigned char *rgbbuff, int x_size, int y_size, int *bypp)
{
    if (!rgbbuff || rgbbuff != kept.source || x_size != kept.width || y_size != kept.height)
        return nullptr;
    int depth = (int)modeInfo.bits_per_pixel;
    if (!kept.converted || kept.depth != depth) {
        free(kept.converted);
        kept.converted = convertRGB2FB(fbFd, rgbbuff, (unsigned long)x_size * (unsigned long)y_size,
                                       depth, &kept.bytesPerPixel);
        kept.depth = kept.converted ? depth : -1;
    }
    *bypp = kept.bytesPerPixel;
    return kept.converted;
}
