#include "box.h"
#include "files.h"

#include "sandbox.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#ifndef BOXSIM_BOOTINIT
#define BOXSIM_BOOTINIT ""
#endif
#ifndef BOXSIM_BOXTOOL
#define BOXSIM_BOXTOOL ""
#endif

namespace
{

constexpr int64_t defaultClockStart = 1767225600LL * 1000000000LL; // 2026-01-01 00:00 UTC

// The firmware programs the stand-in takes the place of.
const char *const standinPaths[] = {
    "/bin/mount", "/bin/umount", "/sbin/depmod", "/sbin/modprobe",      "/etc/init.d/udev",
    "/bin/cat",   "/bin/rm",     "/bin/mkdir",   "/usr/bin/showiframe", "/sbin/init.sysvinit"};
// Plain tools of the firmware, from busybox.
const char *const busyboxApplets[] = {"ls", "echo", "true",  "false", "test", "cp",
                                      "mv", "ln",   "touch", "chmod", "grep", "sync"};

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a host command; its output is returned, its status stored.
std::string shell(const std::string &command, int *status = nullptr)
{
    std::string out;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

std::string parentOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

void writeFile(const std::string &path, const std::string &content, int mode)
{
    sim_make_dirs(parentOf(path));
    unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << content;
    chmod(path.c_str(), mode);
}

void makeLink(const std::string &target, const std::string &path)
{
    sim_make_dirs(parentOf(path));
    unlink(path.c_str());
    if (symlink(target.c_str(), path.c_str()) != 0) perror(path.c_str());
}

void removeTree(const std::string &path)
{
    shell("rm -rf " + quote(path));
}

// Links path to the stand-in (one copy per file system, linked under every name).
void placeStandin(const std::string &boxtool, const std::string &path)
{
    sim_make_dirs(parentOf(path));
    unlink(path.c_str());
    if (::link(boxtool.c_str(), path.c_str()) != 0)
        shell("cp " + quote(boxtool) + " " + quote(path));
}

void writeFile(const std::string &path, const std::string &content, int mode);

// A bootable root file system in a host folder, its init a stand-in.
void makeImage(const std::string &top, const std::string &name, const std::string &boxtool)
{
    for (const char *d : {"/dev", "/proc", "/sys", "/media/cf", "/media/card", "/media/hdd",
                          "/media/usb", "/media/usb2", "/media/usb3"})
        sim_make_dirs(top + d);
    placeStandin(boxtool, top + "/sbin/init.sysvinit");
    writeFile(top + "/usr/share/bootlogo.mvi", "image logo", 0644);
    writeFile(top + "/&1", "", 0644);
    writeFile(top + "/.boxsim-root", "image " + name + "\n", 0644);
}

std::string argvText(const boxrec::Record &r)
{
    std::string text;
    for (const std::string &a : r.all("arg")) {
        bool plain = !a.empty();
        for (unsigned char c : a)
            if (!(isalnum(c) || strchr("/._-=:,+@%", c))) plain = false;
        text += (text.empty() ? "" : " ") + (plain ? a : quote(boxrec::escape(a)));
    }
    return text;
}

} // namespace

int BoxResult::exitCode() const
{
    return ran() && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

std::vector<boxrec::Record> BoxResult::of(const std::string &kind) const
{
    std::vector<boxrec::Record> found;
    for (const auto &r : records)
        if (r.kind == kind) found.push_back(r);
    return found;
}

std::vector<std::string> BoxResult::commands() const
{
    std::vector<std::string> lines;
    for (const auto &r : records)
        if (r.kind == "system") lines.push_back(r.get("cmd"));
    return lines;
}

std::vector<boxrec::Record> BoxResult::execs(const std::string &tool) const
{
    std::vector<boxrec::Record> found;
    for (const auto &r : records)
        if (r.kind == "exec" && (tool.empty() || r.get("tool") == tool)) found.push_back(r);
    return found;
}

const boxrec::Record *BoxResult::init() const
{
    for (const auto &r : records)
        if (r.kind == "init") return &r;
    return nullptr;
}

std::string BoxResult::trace() const
{
    std::string text;
    for (const auto &r : records) {
        if (r.kind == "system") {
            text += "shell   " + boxrec::escape(r.get("cmd")) + "\n";
        } else if (r.kind == "exec") {
            std::string results;
            for (const std::string &v : r.all("result"))
                results += ", " + v;
            text += "  run   " + argvText(r) + "   [cwd " + r.get("cwd") + ", out " + r.get("out") +
                    ", err " + r.get("err") + results + "]\n";
        } else if (r.kind == "sleep") {
            int64_t ns = atoll(r.get("ns").c_str());
            char line[96];
            snprintf(line, sizeof line, "sleep   %lld.%03llds (%s, instant)\n",
                     static_cast<long long>(ns / 1000000000),
                     static_cast<long long>(ns % 1000000000 / 1000000), r.get("call").c_str());
            text += line;
        } else if (r.kind == "init") {
            text += "init    " + r.get("path") + " of the " + r.get("root") +
                    " took over: " + argvText(r) + "   [cwd " + r.get("cwd") + ", /&1 " +
                    r.get("stray") + "]\n";
            for (const std::string &m : r.all("mount")) {
                // "source target type options 0 0": show where, what and from where.
                std::istringstream fields(m);
                std::string source, target, type;
                fields >> source >> target >> type;
                text += "          sees " + target + " (" + type + " from " + source + ")\n";
            }
        } else {
            text += r.kind + "\n";
        }
    }
    return text;
}

Device::Device(const std::string &uuid, const std::string &entry, const std::string &folder,
               const std::string &boxtool)
    : uuid(uuid), entry(entry), folder(folder), imageFile(folder + ".img"), boxtool(boxtool)
{
    sim_make_dirs(folder);
}

void Device::file(const std::string &path, const std::string &content, int mode)
{
    writeFile(folder + path, content, mode);
    built = false;
}

void Device::dir(const std::string &path)
{
    sim_make_dirs(folder + path);
    built = false;
}

void Device::link(const std::string &target, const std::string &path)
{
    makeLink(target, folder + path);
    built = false;
}

void Device::remove(const std::string &path)
{
    removeTree(folder + path);
    built = false;
}

void Device::store(const char *selection)
{
    dir("/Qvault");
    if (selection) file("/Qvault/.quillon", selection);
}

void Device::image(const std::string &name)
{
    makeImage(folder + "/Qvault/" + name, name, boxtool);
    built = false;
}

std::string Device::typeAfterRun(const std::string &path) const
{
    int status = 0;
    std::string out =
        shell("debugfs -R " + quote("stat \"" + path + "\"") + " " + quote(imageFile), &status);
    size_t at = out.find("Type: ");
    if (at == std::string::npos) return "";
    size_t end = out.find_first_of(" \n", at + 6);
    return out.substr(at + 6, end - at - 6);
}

std::string Device::readAfterRun(const std::string &path) const
{
    return shell("(debugfs -R " + quote("cat \"" + path + "\"") + " " + quote(imageFile) +
                 " 2>/dev/null)");
}

Box::Box() : clockStartNs(defaultClockStart)
{
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/boxsim.XXXXXX";
    if (!mkdtemp(&tmpl[0])) {
        setupError = "cannot make a temporary folder " + tmpl;
        return;
    }
    baseDir = tmpl;
    // The box's device nodes (/dev/null, the loop devices) live in this folder.
    struct statvfs fs;
    if (statvfs(baseDir.c_str(), &fs) == 0 && (fs.f_flag & ST_NODEV)) {
        setupError = "the file system of " + baseDir +
                     " does not allow device nodes (nodev); set TMPDIR to a folder elsewhere";
        return;
    }
    rootDir = baseDir + "/root";
    const std::string boxtool = BOXSIM_BOXTOOL;
    if (access(boxtool.c_str(), X_OK) != 0 || access(BOXSIM_BOOTINIT, X_OK) != 0) {
        setupError = "the stand-ins or bootinit are not built";
        return;
    }
    if (!sandbox_prepare_root(rootDir, &setupError)) return;
    // The shell searches the path for every command, so the stand-ins run.
    copy("/usr/bin/dash", "/bin/sh");
    copy("/bin/busybox", "/bin/busybox");
    for (const char *applet : busyboxApplets)
        link("busybox", std::string("/bin/") + applet);
    copy(boxtool, "/.boxsim/boxtool");
    for (const char *path : standinPaths)
        placeStandin(host("/.boxsim/boxtool"), host(path));
    copy(BOXSIM_BOOTINIT, "/sbin/init");
    for (const char *d :
         {"/sys", "/dev/disk/by-uuid", "/media/quillon", "/media/cf", "/media/card", "/media/hdd",
          "/media/usb", "/media/usb2", "/media/usb3", "/tmp", "/var", "/boot"})
        dir(d);
    if (mknod(host("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        setupError = "cannot make /dev/null in the box";
    file("/proc/stb/video/videomode", "");
    file("/etc/videomode", "720p50\n");
    file("/usr/share/bootlogo.mvi", "flash logo");
    file("/&1", "");
    file("/.boxsim-root", "flash\n");
}

Box::~Box()
{
    detach();
    if (!baseDir.empty()) removeTree(baseDir);
}

void Box::file(const std::string &path, const std::string &content, int mode)
{
    writeFile(host(path), content, mode);
}

void Box::copy(const std::string &hostFile, const std::string &path, int mode)
{
    sim_make_dirs(parentOf(host(path)));
    shell("cp " + quote(hostFile) + " " + quote(host(path)));
    chmod(host(path).c_str(), mode);
}

void Box::dir(const std::string &path)
{
    sim_make_dirs(host(path));
}

void Box::link(const std::string &target, const std::string &path)
{
    makeLink(target, host(path));
}

void Box::remove(const std::string &path)
{
    removeTree(host(path));
}

void Box::image(const std::string &dir, const std::string &name)
{
    makeImage(host(dir), name, host("/.boxsim/boxtool"));
}

bool Box::exists(const std::string &path) const
{
    struct stat st;
    return lstat(host(path).c_str(), &st) == 0;
}

std::string Box::read(const std::string &path) const
{
    return sim_slurp(host(path));
}

void Box::procMounts(const char *content)
{
    if (content)
        file("/proc/mounts", content);
    else
        unlink(host("/proc/mounts").c_str());
}

void Box::menu(const char *choice)
{
    placeStandin(host("/.boxsim/boxtool"),
                 host("/usr/lib/enigma2/python/Plugins/Extensions/Quillon/contrib/quisel"));
    if (choice)
        file("/.boxsim/menu-choice", choice);
    else
        unlink(host("/.boxsim/menu-choice").c_str());
}

Device &Box::device(const std::string &uuid, const std::string &entry)
{
    std::string name = entry.empty() ? uuid : entry;
    std::string folder = baseDir + "/device" + std::to_string(devices.size());
    devices.emplace_back(uuid, name, folder, host("/.boxsim/boxtool"));
    // The link is made now so that the listing order is known; it is pointed
    // at the loop device when the box runs.
    link("../../loop-unattached", "/dev/disk/by-uuid/" + name);
    return devices.back();
}

std::vector<std::string> Box::byUuidOrder() const
{
    std::vector<std::string> names;
    DIR *d = opendir(host("/dev/disk/by-uuid").c_str());
    if (!d) return names;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    return names;
}

bool Box::attach(std::string *error)
{
    for (Device &dev : devices) {
        if (!dev.built) {
            unlink(dev.imageFile.c_str());
            int status = 0;
            // The directory hash seed follows the UUID, so a device lists its
            // folders in the same (unsorted) order on every run.
            std::string out = shell("mkfs.ext4 -q -F -d " + quote(dev.folder) + " -U " +
                                        quote(dev.uuid) + " -E hash_seed=" + quote(dev.uuid) +
                                        " " + quote(dev.imageFile) + " 32M",
                                    &status);
            if (status != 0) {
                *error = "mkfs.ext4 failed: " + out;
                return false;
            }
            dev.built = true;
        }
        int status = 0;
        std::string loop = shell("losetup -f --show " + quote(dev.imageFile), &status);
        while (!loop.empty() && loop.back() == '\n')
            loop.pop_back();
        struct stat st;
        if (status != 0 || stat(loop.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
            *error = "losetup cannot attach a loop device (the box simulator needs root and "
                     "loop devices): " +
                     loop;
            return false;
        }
        dev.loop = loop;
        std::string node = "/dev/" + loop.substr(loop.rfind('/') + 1);
        unlink(host(node).c_str());
        if (mknod(host(node).c_str(), S_IFBLK | 0660, st.st_rdev) != 0) {
            *error = "cannot make " + node + " in the box";
            return false;
        }
        std::string linkPath = "/dev/disk/by-uuid/" + dev.entry;
        struct stat lst;
        if (lstat(host(linkPath).c_str(), &lst) == 0 && S_ISLNK(lst.st_mode))
            link("../.." + node.substr(strlen("/dev")), linkPath);
    }
    return true;
}

void Box::detach()
{
    for (Device &dev : devices) {
        if (dev.loop.empty()) continue;
        shell("losetup -d " + quote(dev.loop));
        // The box's mount namespace may still be going away, in which case
        // the kernel only marks the device to be cleared once the file system
        // is unmounted: wait for that (bounded) so no device outlives the box.
        const std::string name = dev.loop.substr(dev.loop.rfind('/') + 1);
        const std::string backing = "/sys/block/" + name + "/loop/backing_file";
        for (int i = 0; i < 500 && access(backing.c_str(), F_OK) == 0; i++)
            usleep(10000);
        unlink(host("/dev/" + name).c_str());
        dev.loop.clear();
    }
}

BoxResult Box::run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   bool asPid1)
{
    BoxResult result;
    if (!ready()) {
        result.error = setupError;
        return result;
    }
    const std::string log = host("/.boxsim/log"), console = baseDir + "/console";
    unlink(log.c_str());
    unlink(console.c_str());
    int fd = open(host("/.boxsim/clock").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, &clockStartNs, sizeof clockStartNs) != sizeof clockStartNs)
        result.error = "cannot set the box's clock";
    if (fd >= 0) close(fd);
    if (!result.error.empty() || !attach(&result.error)) {
        detach();
        return result;
    }
    SandboxRun run;
    run.root = rootDir;
    run.env = env;
    run.stdoutPath = run.stderrPath = console;
    run.timeoutSeconds = 60;
    if (asPid1) {
        run.argv = argv;
    } else {
        run.argv = {"/bin/sh", "-c", "\"$@\"; exit $?", "sh"};
        run.argv.insert(run.argv.end(), argv.begin(), argv.end());
    }
    SandboxResult sr;
    bool ok = sandbox_run(run, &sr);
    detach();
    if (!ok) {
        result.error = sr.error;
        return result;
    }
    result.timedOut = sr.timedOut;
    result.waitStatus = sr.waitStatus;
    std::istringstream lines(sim_slurp(log));
    std::string line;
    while (std::getline(lines, line)) {
        boxrec::Record r;
        if (boxrec::parse(line, &r)) result.records.push_back(r);
    }
    result.console = sim_slurp(console);
    return result;
}

BoxResult Box::boot(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"/sbin/init"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}
