// boxsim: the box simulator's command line.
//
//   boxsim run --root DIR [--no-preload] [--env NAME=VALUE]... [--out FILE] -- PROGRAM [ARG]...
//
// runs PROGRAM (a path inside the box root) as the first process of a fresh
// box and exits with its exit status.
//
//   boxsim boot --example [--select NAME] [--keys LIST] [--screens DIR] [--args ARG]...
//
// boots the real bootinit as PID 1 in a built-in example box (a data stick
// without a store, and a hard disk whose store holds three images and a
// selection file naming the first) and prints the recorded boot. bootinit
// runs the real boot menu on the emulated framebuffer (720x576) and remote
// control; --keys presses the keys of LIST ("down,down,ok"; up, down, ok,
// left, right, red, ..., 0-9) once the menu is up, one every 0.8 s, and
// "down*5" holds down for five auto-repeats; like a Linux evdev device the
// remote control follows every record with an EV_SYN report. Without --keys
// the menu ends by its timeout. The menu's screens are left as PNG files
// in DIR (default /tmp/boxsim-screens). --select writes NAME into the
// selection file first ("Flash" pre-selects the flash); --args passes
// arguments to bootinit as the kernel would.
#include "box.h"
#include "menu.h"
#include "sandbox.h"

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include <string>

#ifndef BOXSIM_QUISEL
#define BOXSIM_QUISEL "the boot menu is not built"
#endif

namespace
{

int usage()
{
    fprintf(stderr, "usage: boxsim run --root DIR [--no-preload] [--env NAME=VALUE]... "
                    "[--out FILE] -- PROGRAM [ARG]...\n"
                    "       boxsim boot --example [--select NAME] [--keys LIST] [--screens DIR] "
                    "[--args ARG]...\n");
    return 2;
}

int bootUsage()
{
    fprintf(stderr, "usage: boxsim boot --example [--select NAME] [--keys LIST] [--screens DIR] "
                    "[--args ARG]...\n");
    return 2;
}

int bootCommand(int argc, char **argv)
{
    bool example = false;
    std::string selection = "openimage-4.2";
    std::vector<std::string> args;
    std::string keys, screens = "/tmp/boxsim-screens";
    for (int i = 0; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--example")
            example = true;
        else if (a == "--select" && i + 1 < argc)
            selection = argv[++i];
        else if (a == "--keys" && i + 1 < argc)
            keys = argv[++i];
        else if (a == "--screens" && i + 1 < argc)
            screens = argv[++i];
        else if (a == "--args" && i + 1 < argc)
            args.push_back(argv[++i]);
        else
            return bootUsage();
    }
    if (!example) return bootUsage();
    Box box;
    if (!box.ready()) {
        fprintf(stderr, "boxsim: %s\n", box.error().c_str());
        return 125;
    }
    Device &stick = box.device("5d0c1e2f-0000-4000-8000-000000000001");
    stick.file("/photos/holiday.jpg", "not a store");
    Device &disk = box.device("5d0c1e2f-0000-4000-8000-000000000002");
    disk.store(selection.c_str());
    disk.file("/Qvault/.version", "2.1\n");
    disk.image("openimage-4.2");
    disk.image("backup_2026");
    disk.image("test-build");
    box.dir("/media/hdd/Qvault");
    box.file("/media/hdd/Qvault/.quillon", "");
    box.file("/var/lib/opkg/status", "Package: busybox\nVersion: 1.13.2-r19\n\n"
                                     "Package: kernel-image\nVersion: 2.6.18-7.4\n\n"
                                     "Package: dreambox-dvb-modules\nVersion: 2.6.18-20100410\n\n"
                                     "Package: dreambox-secondstage\nVersion: 84\n");
    std::string error;
    if (!menu_install(box.root(), BOXSIM_QUISEL, keys, &error)) {
        fprintf(stderr, "boxsim: %s\n", error.c_str());
        return 2;
    }

    printf("Example box: flash root with the firmware stand-ins; devices in /dev/disk/by-uuid/ "
           "(listing order):\n");
    for (const std::string &name : box.byUuidOrder())
        printf("  %s%s\n", name.c_str(),
               name == disk.entry ? "  (store: openimage-4.2, backup_2026, test-build)"
                                  : "  (no store)");
    printf("Selection file: \"%s\"\n", selection.c_str());
    printf("Keys on the remote control: %s\n\n",
           keys.empty() ? "none (the menu ends by its timeout)" : keys.c_str());

    BoxResult result = box.boot(args);
    if (!result.ran()) {
        fprintf(stderr, "boxsim: %s\n",
                result.timedOut ? "the box did not end in time" : result.error.c_str());
        return 125;
    }
    printf("Recorded boot (\"shell\": a command line bootinit handed to the shell; "
           "\"run\": a firmware program it started):\n%s\n",
           result.trace().c_str());
    printf("Console:%s%s", result.console.empty() ? " (nothing)\n" : "\n", result.console.c_str());
    int frames = menu_copy_screens(box.root(), screens);
    if (frames > 0)
        printf("\nThe menu's screens: %d frames in %s/ (0001.png the first drawing, %04d.png "
               "the blank one at its end).\n",
               frames, screens.c_str(), frames);
    else
        printf("\nThe menu left no screens%s.\n",
               frames < 0 ? (" (cannot write " + screens + ")").c_str() : "");
    printf("The menu wrote the selection \"%s\".\n", disk.readAfterRun("/Qvault/.quillon").c_str());
    const boxrec::Record *init = result.init();
    if (init)
        printf("\nThe %s's /sbin/init.sysvinit took over as PID %d.\n", init->get("root").c_str(),
               init->pid);
    else
        printf("\nNo init took over; bootinit ended with status %d.\n", result.exitCode());
    return 0;
}

int runCommand(int argc, char **argv)
{
    SandboxRun run;
    int i = 0;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--") {
            i++;
            break;
        } else if (a == "--root" && i + 1 < argc) {
            run.root = argv[++i];
        } else if (a == "--env" && i + 1 < argc) {
            run.env.push_back(argv[++i]);
        } else if (a == "--out" && i + 1 < argc) {
            run.stdoutPath = run.stderrPath = argv[++i];
        } else if (a == "--no-preload") {
            run.preload = false;
        } else {
            return usage();
        }
    }
    if (run.root.empty() || i >= argc) return usage();
    for (; i < argc; i++)
        run.argv.push_back(argv[i]);
    SandboxResult result;
    if (!sandbox_run(run, &result)) {
        fprintf(stderr, "boxsim: %s\n", result.error.c_str());
        return 125;
    }
    if (result.timedOut) {
        fprintf(stderr, "boxsim: the box did not end in time and was killed\n");
        return 124;
    }
    if (WIFEXITED(result.waitStatus)) return WEXITSTATUS(result.waitStatus);
    fprintf(stderr, "boxsim: the box's first process died of signal %d\n",
            WTERMSIG(result.waitStatus));
    return 128 + WTERMSIG(result.waitStatus);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "run") == 0) return runCommand(argc - 2, argv + 2);
    if (argc >= 2 && strcmp(argv[1], "boot") == 0) return bootCommand(argc - 2, argv + 2);
    return usage();
}
