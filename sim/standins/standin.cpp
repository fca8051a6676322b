// boxtool: the recording stand-ins for the box firmware's programs.
//
// One static program, installed in the box under every name it stands in
// for (mount, umount, depmod, modprobe, the udev start script, cat, rm, mkdir,
// showiframe, the init programs of the flash and of each image, the boot
// menu). It takes its part from the path it was started by, records its
// argument vector, working directory and where its output goes, and then does
// the real work the boot relies on: real mounts, removals, directories and
// copies. It is linked statically so that it also runs inside an image root,
// where no libraries are.
#include "boxrecord.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{

std::string readAll(int dirFd, const char *path)
{
    std::string text;
    int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, n);
    close(fd);
    return text;
}

// Where a descriptor points: "console", "closed" or the path it names.
std::string target(int fd)
{
    struct stat st, console;
    if (fstat(fd, &st) != 0) return "closed";
    if (fstat(boxrec::consoleFd, &console) == 0 && st.st_dev == console.st_dev &&
        st.st_ino == console.st_ino)
        return "console";
    char link[64], buf[4096];
    snprintf(link, sizeof link, "self/fd/%d", fd);
    ssize_t n = readlinkat(boxrec::procFd, link, buf, sizeof buf - 1);
    if (n < 0) return "?";
    return std::string(buf, n);
}

// The working directory as the kernel reports it: a directory outside the
// root (after a change of root) reads "(unreachable)/...".
std::string currentDir()
{
    char buf[4096];
    long n = syscall(SYS_getcwd, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string("?");
}

std::string baseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The common part of every record.
boxrec::Line record(const char *kind, const std::string &tool, const char *path, int argc,
                    char **argv)
{
    boxrec::Line line(kind);
    line.add("tool", tool).add("path", path);
    for (int i = 0; i < argc; i++)
        line.add("arg", argv[i]);
    line.add("cwd", currentDir()).add("out", target(1)).add("err", target(2));
    return line;
}

// The mount point of a mounted device, from the real mount table.
std::string mountPointOf(const std::string &device)
{
    std::string table = readAll(boxrec::procFd, "self/mounts");
    size_t pos = 0, found = std::string::npos;
    std::string point;
    while (pos < table.size()) {
        size_t end = table.find('\n', pos);
        if (end == std::string::npos) end = table.size();
        std::string line = table.substr(pos, end - pos);
        size_t sp = line.find(' ');
        if (sp != std::string::npos && line.substr(0, sp) == device) {
            size_t sp2 = line.find(' ', sp + 1);
            point = line.substr(sp + 1, sp2 - sp - 1);
            found = pos;
        }
        pos = end + 1;
    }
    return found == std::string::npos ? std::string() : point;
}

int fail(const char *tool, const std::string &what)
{
    fprintf(stderr, "%s: %s: %s\n", tool, what.c_str(), strerror(errno));
    return 1;
}

int doMount(int argc, char **argv, boxrec::Line &line)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string type, options;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "-t" && i + 1 < args.size())
            type = args[++i];
        else if (args[i] == "-o" && i + 1 < args.size())
            options = args[++i];
        else
            rest.push_back(args[i]);
    }
    if (rest.size() != 2) {
        line.add("result", "usage").write();
        fprintf(stderr, "mount: bad usage\n");
        return 1;
    }
    int rc;
    if (type == "proc" || type == "sysfs") {
        // The box's /proc and /sys stay plain folders that the scenario controls.
        line.add("result", "simulated").write();
        return 0;
    } else if (options == "bind") {
        rc = mount(rest[0].c_str(), rest[1].c_str(), nullptr, MS_BIND, nullptr);
    } else {
        char device[4096];
        if (!realpath(rest[0].c_str(), device)) {
            line.add("result", strerror(errno)).write();
            fail("mount", rest[0]);
            return 32;
        }
        rc = mount(device, rest[1].c_str(), type.empty() ? "ext4" : type.c_str(), 0, nullptr);
    }
    if (rc != 0) {
        line.add("result", strerror(errno)).write();
        fail("mount", rest[1]);
        return 32;
    }
    line.add("result", "ok").write();
    return 0;
}

int doUmount(int argc, char **argv, boxrec::Line &line)
{
    int status = 0;
    for (int i = 1; i < argc; i++) {
        std::string point = argv[i];
        struct stat st;
        char device[4096];
        if (stat(argv[i], &st) == 0 && S_ISBLK(st.st_mode) && realpath(argv[i], device)) {
            point = mountPointOf(device);
            if (point.empty()) {
                line.add("result", std::string(argv[i]) + ": not mounted");
                fprintf(stderr, "umount: %s: not mounted.\n", argv[i]);
                status = 32;
                continue;
            }
        }
        if (umount2(point.c_str(), 0) != 0) {
            line.add("result", point + ": " + strerror(errno));
            fail("umount", argv[i]);
            status = 32;
        } else {
            line.add("result", point + ": ok");
        }
    }
    line.write();
    return status;
}

int doEach(int argc, char **argv, boxrec::Line &line, const char *tool, int (*act)(const char *))
{
    int status = 0;
    for (int i = 1; i < argc; i++) {
        if (act(argv[i]) != 0) {
            line.add("result", std::string(argv[i]) + ": " + strerror(errno));
            fail(tool, argv[i]);
            status = 1;
        } else {
            line.add("result", std::string(argv[i]) + ": ok");
        }
    }
    line.write();
    return status;
}

int removeOne(const char *path)
{
    return unlink(path);
}

int makeOne(const char *path)
{
    return mkdir(path, 0755);
}

int copyOne(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        if (write(1, buf, n) != n) break;
    close(fd);
    return n < 0 ? -1 : 0;
}

int showOne(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    close(fd);
    return 0;
}

// The menu stand-in writes the choice the scenario left for it.
int doMenu(boxrec::Line &line)
{
    std::string choice;
    int fd = boxrec::openCtl("menu-choice", O_RDONLY);
    if (fd >= 0) {
        close(fd);
        choice = readAll(boxrec::ctlFd, "menu-choice");
        FILE *out = fopen("/media/quillon/Qvault/.quillon", "w");
        line.add("choice", choice).add("written", out ? "yes" : "no");
        if (out) {
            fwrite(choice.data(), 1, choice.size(), out);
            fclose(out);
        }
    }
    line.write();
    return 0;
}

int doInit(boxrec::Line &line)
{
    std::string root = readAll(AT_FDCWD, "/.boxsim-root");
    while (!root.empty() && root.back() == '\n')
        root.pop_back();
    line.add("root", root.empty() ? "unknown" : root);
    line.add("stray", access("/&1", F_OK) == 0 ? "present" : "absent");
    std::string table = readAll(boxrec::procFd, "self/mounts");
    size_t pos = 0;
    while (pos < table.size()) {
        size_t end = table.find('\n', pos);
        if (end == std::string::npos) end = table.size();
        line.add("mount", table.substr(pos, end - pos));
        pos = end + 1;
    }
    line.write();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
    if (!path) path = argv[0];
    std::string tool = baseName(path);
    if (tool == "init.sysvinit") {
        boxrec::Line line = record("init", tool, path, argc, argv);
        return doInit(line);
    }
    boxrec::Line line = record("exec", tool, path, argc, argv);
    if (tool == "mount") return doMount(argc, argv, line);
    if (tool == "umount") return doUmount(argc, argv, line);
    if (tool == "rm") return doEach(argc, argv, line, "rm", removeOne);
    if (tool == "mkdir") return doEach(argc, argv, line, "mkdir", makeOne);
    if (tool == "cat") return doEach(argc, argv, line, "cat", copyOne);
    if (tool == "showiframe") return doEach(argc, argv, line, "showiframe", showOne);
    if (tool == "quisel") return doMenu(line);
    // depmod, modprobe, the udev start script: nothing to do in the box.
    line.write();
    return 0;
}
