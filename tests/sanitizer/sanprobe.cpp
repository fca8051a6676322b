// Runs in a box, sanitized: asks the emulated devices through the preloaded
// library, or makes the fault its argument names.
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/input.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *what = argc > 1 ? argv[1] : "";
    if (!strcmp(what, "devices")) {
        // A plain file would refuse both requests; the emulated devices answer.
        int fb = open("/dev/fb0", O_RDWR);
        struct fb_var_screeninfo var;
        memset(&var, 0, sizeof var);
        int got = ioctl(fb, FBIOGET_VSCREENINFO, &var);
        printf("fb %d %ux%ux%u\n", got, var.xres, var.yres, var.bits_per_pixel);
        int rc = open("/dev/input/event0", O_RDONLY);
        char name[128] = {};
        got = ioctl(rc, EVIOCGNAME(sizeof name), name);
        printf("name %d %s\n", got, name);
        struct input_event ev;
        ssize_t n = -1;
        for (int tries = 0; tries < 100 && n != (ssize_t)sizeof ev; tries++)
            n = read(rc, &ev, sizeof ev);
        printf("record %d %d %d\n", (int)(n == (ssize_t)sizeof ev), ev.code, ev.value);
        return 0;
    }
    if (!strcmp(what, "freed")) {
        static char *volatile kept;
        kept = (char *)malloc(16);
        memset(kept, 'x', 16);
        free(kept);
        return kept[3];
    }
    if (!strcmp(what, "undefined")) {
        volatile int big = 0x7fffffff;
        int sum = big + (argc > 2 ? 1 : 1);
        return sum & 1;
    }
    return 0;
}
