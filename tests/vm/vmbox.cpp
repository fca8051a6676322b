#include "vmbox.h"
#include "sim/api/files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace
{

bool writeFile(const std::string &path, const std::string &text, int mode = 0644)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return false;
    return chmod(path.c_str(), mode) == 0;
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs a shell command line; its output comes back in out.
int shell(const std::string &command, std::string *out)
{
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        if (out) out->append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void pause(double seconds)
{
    struct timespec ts;
    ts.tv_sec = (time_t)seconds;
    ts.tv_nsec = (long)((seconds - ts.tv_sec) * 1e9);
    nanosleep(&ts, nullptr);
}

bool copyFile(const std::string &from, const std::string &to, int mode, std::string *error)
{
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec || chmod(to.c_str(), mode) != 0) {
        *error = "cannot copy " + from + " to " + to + ": " + ec.message();
        return false;
    }
    return true;
}

// Copies a mipsel program without its debugging information.
bool copyStripped(const std::string &from, const std::string &to, std::string *error)
{
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    std::string out;
    if (shell("mipsel-linux-gnu-strip -o " + quote(to) + " " + quote(from), &out) != 0) {
        *error = "mipsel-linux-gnu-strip " + from + ": " + out;
        return false;
    }
    chmod(to.c_str(), 0755);
    return true;
}

// The firmware's init scripts report on the console in lines the host
// reads back (vm_reports); every root has its own name in /etc/vm-root.
std::string initScript(const std::string &name)
{
    return "#!/bin/sh\n"
           "# The real init of this root, reduced to a report on the console.\n"
           "exec > /dev/console 2>&1\n"
           "echo \"VMREPORT init " +
           name +
           "\"\n"
           "echo \"VMREPORT pid $$\"\n"
           "echo \"VMREPORT argv $0 $*\"\n"
           "echo \"VMREPORT root $(cat /etc/vm-root)\"\n"
           "echo \"VMREPORT selection $(cat /media/quillon/Qvault/.quillon)\"\n"
           "for e in /media/quillon/Qvault/* /media/quillon/Qvault/.[!.]*; do\n"
           "    [ -e \"$e\" ] && echo \"VMREPORT store ${e##*/}\"\n"
           "done\n"
           "while read -r line; do echo \"VMREPORT mount $line\"; done < /proc/mounts\n"
           "echo \"VMREPORT end\"\n"
           "poweroff -f\n";
}

// Stand-in for the firmware's udev start script: device nodes, the disk and
// event-device modules, the by-uuid links (no udev, no blkid here) and the
// marker that udev runs.
const char *const udevScript =
    "#!/bin/sh\n"
    "# udev start on the emulated box: devtmpfs gives the nodes; the links in\n"
    "# /dev/disk/by-uuid are made from each disk's ext4 superblock.\n"
    "[ \"$1\" = start ] || exit 0\n"
    "mount -t devtmpfs devtmpfs /dev\n"
    "for m in evdev virtio_pci virtio_blk crc32c_generic ext4; do modprobe $m; done\n"
    "n=0\n"
    "while [ ! -b /dev/vda ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done\n"
    "mkdir -p /dev/disk/by-uuid\n"
    "for dev in /dev/vd? /dev/sd?; do\n"
    "    [ -b \"$dev\" ] || continue\n"
    "    magic=$(dd if=$dev bs=1 skip=1080 count=2 2>/dev/null | od -An -tx1 | tr -d ' \\n')\n"
    "    [ \"$magic\" = 53ef ] || continue\n"
    "    hex=$(dd if=$dev bs=1 skip=1128 count=16 2>/dev/null | od -An -tx1 | tr -d ' \\n')\n"
    "    uuid=$(echo $hex | sed "
    "'s/^\\(.\\{8\\}\\)\\(.\\{4\\}\\)\\(.\\{4\\}\\)\\(.\\{4\\}\\)/\\1-\\2-\\3-\\4-/')\n"
    "    ln -sf ../../${dev#/dev/} /dev/disk/by-uuid/$uuid\n"
    "done\n"
    "mkdir -p /dev/.udev\n";

const char *const showiframeScript = "#!/bin/sh\n"
                                     "# The boot logo on the emulated box: reported, not shown.\n"
                                     "echo \"SHOWIFRAME $*\" > /dev/console\n";

// Busybox's applets as links; the paths the box fills itself are kept.
bool busyboxLinks(const std::string &root, const std::set<std::string> &keep, std::string *error)
{
    std::string list;
    if (shell("busybox --list-full", &list) != 0) {
        *error = "host busybox --list-full failed (busybox-static): " + list;
        return false;
    }
    std::istringstream in(list);
    for (std::string applet; std::getline(in, applet);) {
        if (applet.empty() || keep.count("/" + applet)) continue;
        std::string link = root + "/" + applet;
        std::error_code ec;
        fs::create_directories(fs::path(link).parent_path(), ec);
        if (fs::exists(fs::symlink_status(link))) continue;
        fs::create_symlink("/bin/busybox", link, ec);
        if (ec) {
            *error = "link " + link + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// A small root: busybox with the applets an init script uses.
bool tinyRoot(const VmKit &kit, const std::string &root, const std::string &rootName,
              const std::string &initName, std::string *error)
{
    if (!copyFile(kit.busybox, root + "/bin/busybox", 0755, error)) return false;
    for (const char *applet :
         {"/bin/sh", "/bin/cat", "/bin/echo", "/bin/ls", "/sbin/poweroff", "/bin/mount"}) {
        std::error_code ec;
        fs::create_directories(fs::path(root + applet).parent_path(), ec);
        fs::create_symlink("/bin/busybox", root + applet, ec);
    }
    for (const char *dir : {"/dev", "/proc", "/sys", "/media", "/etc", "/tmp"}) {
        std::error_code ec;
        fs::create_directories(root + dir, ec);
    }
    return writeFile(root + "/etc/vm-root", rootName + "\n") &&
           writeFile(root + "/sbin/init.sysvinit", initScript(initName), 0755);
}

// The kernel's command line; QUILLON_VM_APPEND adds to it in runs by hand
// (atkbd.softrepeat=1, for example, makes held keys repeat).
std::string kernelArguments()
{
    std::string args = "console=ttyS0 quiet panic=1 vt.global_cursor_default=0 rdinit=/sbin/init";
    const char *extra = getenv("QUILLON_VM_APPEND");
    if (extra && *extra) args += std::string(" ") + extra;
    return args;
}

} // namespace

bool vm_kit_parse(const std::string &text, VmKit *kit, std::string *error)
{
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    struct Field {
        const char *name;
        std::string *value;
        bool file;
    } fields[] = {{"QUILLON_VM_RELEASE", &kit->release, false},
                  {"QUILLON_VM_KERNEL", &kit->kernel, true},
                  {"QUILLON_VM_MODULES", &kit->modules, true},
                  {"QUILLON_VM_REMOTE_MODULE", &kit->remoteModule, true},
                  {"QUILLON_VM_BUSYBOX", &kit->busybox, true},
                  {"QUILLON_VM_BOOTINIT", &kit->bootinit, true},
                  {"QUILLON_VM_QUISEL", &kit->quisel, true}};
    for (const Field &f : fields) {
        auto it = values.find(f.name);
        if (it == values.end() || it->second.empty()) {
            *error = std::string("vm.env names no ") + f.name;
            return false;
        }
        *f.value = it->second;
        if (f.file && !fs::exists(*f.value)) {
            *error = std::string(f.name) + " names " + *f.value + ", which is missing";
            return false;
        }
    }
    kit->libDirs.clear();
    std::string dirs = values["QUILLON_VM_LIBDIRS"];
    for (size_t at = 0; at <= dirs.size();) {
        size_t colon = dirs.find(':', at);
        if (colon == std::string::npos) colon = dirs.size();
        if (colon > at) kit->libDirs.push_back(dirs.substr(at, colon - at));
        at = colon + 1;
    }
    if (kit->libDirs.empty()) {
        *error = "vm.env names no QUILLON_VM_LIBDIRS";
        return false;
    }
    return true;
}

bool vm_kit_load(const std::string &envFile, VmKit *kit, std::string *error)
{
    if (!fs::exists(envFile)) {
        *error = envFile +
                 " is missing: run scripts/vm-prepare.sh first (it fetches the Malta kernel, "
                 "busybox and the headers, and makes the box build), or configure with "
                 "-DQUILLON_VM_TESTS=OFF to leave the emulated box out";
        return false;
    }
    return vm_kit_parse(sim_slurp(envFile), kit, error);
}

std::vector<std::string> module_closure(const std::string &modulesDep,
                                        const std::vector<std::string> &wanted)
{
    std::map<std::string, std::vector<std::string>> deps; // module name -> paths
    std::map<std::string, std::string> pathOf;
    std::istringstream in(modulesDep);
    for (std::string line; std::getline(in, line);) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string path = line.substr(0, colon);
        std::string name = fs::path(path).filename().string();
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        pathOf[name] = path;
        std::istringstream rest(line.substr(colon + 1));
        for (std::string d; rest >> d;)
            deps[path].push_back(d);
    }
    std::vector<std::string> order;
    std::set<std::string> seen;
    std::function<void(const std::string &)> add = [&](const std::string &path) {
        if (!seen.insert(path).second) return;
        // modules.dep lists every dependency, the indirect ones included,
        // the nearest first: load them from the far end.
        const std::vector<std::string> &d = deps[path];
        for (auto it = d.rbegin(); it != d.rend(); ++it)
            add(*it);
        order.push_back(path);
    };
    for (std::string name : wanted) {
        std::replace(name.begin(), name.end(), '-', '_');
        auto it = pathOf.find(name);
        if (it != pathOf.end()) add(it->second);
    }
    return order;
}

bool program_libraries(const std::string &program, const std::vector<std::string> &dirs,
                       std::vector<std::string> *files, std::string *error)
{
    std::vector<std::string> todo = {program};
    std::set<std::string> seen;
    std::string interp;
    while (!todo.empty()) {
        std::string file = todo.back();
        todo.pop_back();
        std::string out;
        if (shell("mipsel-linux-gnu-readelf -d -l " + quote(file), &out) != 0) {
            *error = "mipsel-linux-gnu-readelf " + file + ": " + out;
            return false;
        }
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("[Requesting program interpreter: ");
            if (at != std::string::npos) {
                std::string path = line.substr(at + 33);
                interp = fs::path(path.substr(0, path.find(']'))).filename().string();
                seen.insert(interp);
            }
            at = line.find("(NEEDED)");
            if (at == std::string::npos) continue;
            size_t open = line.find('[', at), close = line.find(']', at);
            if (open == std::string::npos || close == std::string::npos) continue;
            std::string soname = line.substr(open + 1, close - open - 1);
            if (!seen.insert(soname).second) continue;
            std::string found;
            for (const std::string &dir : dirs)
                if (fs::exists(dir + "/" + soname)) {
                    found = dir + "/" + soname;
                    break;
                }
            if (found.empty()) {
                *error =
                    "library " + soname + " (needed by " + file + ") is in none of the folders";
                return false;
            }
            files->push_back(found);
            todo.push_back(found);
        }
    }
    if (interp.empty()) {
        *error = program + " names no program interpreter";
        return false;
    }
    for (const std::string &dir : dirs)
        if (fs::exists(dir + "/" + interp)) {
            files->insert(files->begin(), dir + "/" + interp);
            return true;
        }
    *error = "the interpreter " + interp + " is in none of the folders";
    return false;
}

bool flash_build(const VmKit &kit, const FlashSetup &setup, const std::string &cpio,
                 std::string *error)
{
    std::string tree = cpio + ".tree";
    std::error_code ec;
    fs::remove_all(tree, ec);
    const std::string plugin = "/usr/lib/enigma2/python/Plugins/Extensions/Quillon";
    if (!tinyRoot(kit, tree, "flash", "flash", error)) return false;
    if (!busyboxLinks(tree, {"/sbin/init", "/linuxrc", "/init"}, error)) return false;
    for (const char *dir : {"/media/quillon", "/root", "/var/lib/opkg", "/usr/share"})
        fs::create_directories(tree + dir, ec);
    if (!copyStripped(kit.bootinit, tree + "/sbin/init", error) ||
        !copyStripped(kit.quisel, tree + plugin + "/contrib/quisel", error) ||
        !copyFile(setup.font, tree + plugin + "/font/micron_bold.ttf", 0644, error) ||
        !copyFile(setup.picture, tree + plugin + "/icons/quimenu.png", 0644, error))
        return false;
    if (!writeFile(tree + "/etc/init.d/udev", udevScript, 0755) ||
        !writeFile(tree + "/usr/bin/showiframe", showiframeScript, 0755) ||
        !writeFile(tree + "/etc/videomode", "pal\n") ||
        (!setup.packageStatus.empty() &&
         !writeFile(tree + "/var/lib/opkg/status", setup.packageStatus))) {
        *error = "cannot write the firmware stand-ins into " + tree;
        return false;
    }
    // The programs' libraries, where ld.so.1 looks for them.
    std::set<std::string> libs;
    for (const std::string *program : {&kit.bootinit, &kit.quisel}) {
        std::vector<std::string> files;
        if (!program_libraries(*program, kit.libDirs, &files, error)) return false;
        libs.insert(files.begin(), files.end());
    }
    for (const std::string &lib : libs)
        if (!copyStripped(fs::canonical(lib).string(),
                          tree + "/lib/" + fs::path(lib).filename().string(), error))
            return false;
    // Kernel modules and their dependencies; the remote control's own.
    std::string moddir = tree + "/lib/modules/" + kit.release;
    std::vector<std::string> modules =
        module_closure(sim_slurp(kit.modules + "/modules.dep"),
                       {"evdev", "virtio_pci", "virtio_blk", "crc32c_generic", "ext4"});
    if (modules.size() < 5) {
        *error = "the kernel's modules.dep lacks disk or input modules (" +
                 std::to_string(modules.size()) + " found)";
        return false;
    }
    for (const std::string &m : modules)
        if (!copyFile(kit.modules + "/" + m, moddir + "/" + m, 0644, error)) return false;
    for (const char *f : {"modules.order", "modules.builtin", "modules.builtin.modinfo"})
        if (fs::exists(kit.modules + "/" + f) &&
            !copyFile(kit.modules + "/" + f, moddir + "/" + f, 0644, error))
            return false;
    if (!copyFile(kit.remoteModule, moddir + "/extra/dreambox_keyboard.ko", 0644, error))
        return false;
    std::string out;
    if (shell("depmod -b " + quote(tree) + " " + quote(kit.release), &out) != 0) {
        *error = "depmod -b (kmod): " + out;
        return false;
    }
    // The console the kernel opens for init before anything mounts /dev.
    if (mknod((tree + "/dev/console").c_str(), S_IFCHR | 0600, makedev(5, 1)) != 0 ||
        mknod((tree + "/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        *error = std::string("mknod in the flash tree (needs root): ") + strerror(errno);
        return false;
    }
    if (shell("cd " + quote(tree) +
                  " && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0 > " + quote(cpio),
              &out) != 0) {
        *error = "cpio (package cpio): " + out;
        return false;
    }
    fs::remove_all(tree, ec);
    return true;
}

bool store_build(const VmKit &kit, const StoreSetup &setup, const std::string &image,
                 std::string *error)
{
    std::string tree = image + ".tree";
    std::error_code ec;
    fs::remove_all(tree, ec);
    fs::create_directories(tree + "/Qvault", ec);
    for (const std::string &name : setup.images)
        if (!tinyRoot(kit, tree + "/Qvault/" + name, "image " + name, name, error)) return false;
    if (setup.selection && !writeFile(tree + "/Qvault/.quillon", setup.selection)) {
        *error = "cannot write the selection file";
        return false;
    }
    if (!setup.version.empty() && !writeFile(tree + "/Qvault/.version", setup.version)) {
        *error = "cannot write the version file";
        return false;
    }
    std::string out;
    unlink(image.c_str());
    if (shell("mkfs.ext4 -q -F -U " + quote(setup.uuid) + " -d " + quote(tree) + " " +
                  quote(image) + " 48M",
              &out) != 0) {
        *error = "mkfs.ext4 -d: " + out;
        return false;
    }
    fs::remove_all(tree, ec);
    return true;
}

std::string ext4_uuid(const std::vector<uint8_t> &head)
{
    if (head.size() < 1144 || head[1080] != 0x53 || head[1081] != 0xEF) return "";
    static const char hex[] = "0123456789abcdef";
    std::string uuid;
    for (int i = 0; i < 16; i++) {
        if (i == 4 || i == 6 || i == 8 || i == 10) uuid += '-';
        uuid += hex[head[1128 + i] >> 4];
        uuid += hex[head[1128 + i] & 15];
    }
    return uuid;
}

bool ppm_parse(const std::vector<uint8_t> &data, Picture *picture)
{
    size_t at = 0;
    auto token = [&](std::string *t) {
        t->clear();
        while (at < data.size()) {
            if (data[at] == '#') {
                while (at < data.size() && data[at] != '\n')
                    at++;
            } else if (isspace(data[at])) {
                at++;
            } else {
                break;
            }
        }
        while (at < data.size() && !isspace(data[at]))
            *t += (char)data[at++];
        return !t->empty();
    };
    std::string magic, w, h, max;
    if (!token(&magic) || magic != "P6" || !token(&w) || !token(&h) || !token(&max)) return false;
    if (max != "255" || at >= data.size()) return false;
    at++; // the one white-space byte before the pixels
    char *end = nullptr;
    long width = strtol(w.c_str(), &end, 10);
    if (*end) return false;
    long height = strtol(h.c_str(), &end, 10);
    if (*end || width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;
    size_t size = (size_t)width * (size_t)height * 3;
    if (data.size() - at < size) return false;
    picture->width = (int)width;
    picture->height = (int)height;
    picture->rgb.assign(data.begin() + at, data.begin() + at + size);
    return true;
}

std::string compare565(int width, int height, const std::vector<uint8_t> &a,
                       const std::vector<uint8_t> &b)
{
    size_t size = (size_t)width * height * 3;
    if (a.size() != size || b.size() != size)
        return "sizes differ: " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
               " bytes for " + std::to_string(width) + "x" + std::to_string(height);
    static const int shift[3] = {3, 2, 3};
    size_t count = 0, first = 0;
    for (size_t p = 0; p < size; p += 3) {
        bool same = true;
        for (int c = 0; c < 3; c++)
            same = same && (a[p + c] >> shift[c]) == (b[p + c] >> shift[c]);
        if (!same && count++ == 0) first = p / 3;
    }
    if (count == 0) return "";
    char text[200];
    size_t p = first * 3;
    snprintf(text, sizeof text,
             "%zu pixels differ; the first at (%zu,%zu): %02x%02x%02x against %02x%02x%02x", count,
             first % width, first / width, a[p], a[p + 1], a[p + 2], b[p], b[p + 1], b[p + 2]);
    return text;
}

std::vector<InitReport> vm_reports(const std::string &serial)
{
    std::vector<InitReport> reports;
    std::istringstream in(serial);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t at = line.find("VMREPORT ");
        if (at == std::string::npos) continue;
        std::string rest = line.substr(at + 9);
        size_t space = rest.find(' ');
        std::string key = rest.substr(0, space);
        std::string value = space == std::string::npos ? "" : rest.substr(space + 1);
        if (key == "init") {
            reports.emplace_back();
            reports.back().name = value;
            continue;
        }
        if (reports.empty()) continue;
        InitReport &r = reports.back();
        if (key == "pid")
            r.pid = value;
        else if (key == "argv")
            r.argv = value;
        else if (key == "root")
            r.root = value;
        else if (key == "selection")
            r.selection = value;
        else if (key == "store")
            r.store.push_back(value);
        else if (key == "mount")
            r.mounts.push_back(value);
        else if (key == "end")
            r.complete = true;
    }
    return reports;
}

Machine::~Machine()
{
    kill();
    if (mon >= 0) close(mon);
}

void Machine::kill()
{
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
    }
}

bool Machine::running()
{
    if (pid <= 0) return false;
    if (seconds() > limit) {
        // The safety limit: a machine that hangs is ended.
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
        killed = true;
        return false;
    }
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
        pid = -1;
        return false;
    }
    return true;
}

double Machine::seconds() const
{
    return now() - started;
}

bool Machine::start(const VmKit &kit, const std::string &flash, const std::string &store,
                    bool storeReadOnly, const std::string &dir, int limitSeconds,
                    std::string *error)
{
    folder = dir;
    limit = limitSeconds;
    serialLog = folder + "/serial.log";
    monSock = folder + "/mon.sock";
    unlink(serialLog.c_str());
    unlink(monSock.c_str());
    std::vector<std::string> args = {"qemu-system-mipsel",
                                     "-M",
                                     "malta",
                                     "-cpu",
                                     "24Kf",
                                     "-m",
                                     "256",
                                     "-kernel",
                                     kit.kernel,
                                     "-initrd",
                                     flash,
                                     "-append",
                                     kernelArguments(),
                                     "-display",
                                     "none",
                                     "-serial",
                                     "file:" + serialLog,
                                     "-monitor",
                                     "unix:" + monSock + ",server,nowait",
                                     "-no-reboot",
                                     "-nic",
                                     "none",
                                     "-drive",
                                     "file=" + store + ",if=none,id=d0,format=raw" +
                                         (storeReadOnly ? ",readonly=on" : ""),
                                     "-device",
                                     "virtio-blk-pci,drive=d0"};
    // The command line, for booting the same machine by hand.
    std::string line;
    for (const std::string &a : args)
        line += (line.empty() ? "" : " ") + quote(a);
    writeFile(folder + "/qemu.cmd", line + "\n");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string qemuOut = folder + "/qemu.out";
    fflush(nullptr);
    started = now();
    pid = fork();
    if (pid < 0) {
        *error = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (pid == 0) {
        int fd = open(qemuOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        // qemu goes with the test, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    // The monitor's socket appears once qemu runs.
    while (seconds() < 20) {
        if (!running()) {
            *error =
                "qemu-system-mipsel ended at once (package qemu-system-mips): " + sim_slurp(qemuOut);
            return false;
        }
        mon = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", monSock.c_str());
        if (connect(mon, (struct sockaddr *)&addr, sizeof addr) == 0) {
            std::string banner;
            if (readPrompt(&banner, 10)) return true;
        }
        close(mon);
        mon = -1;
        pause(0.1);
    }
    *error = "the monitor socket " + monSock + " did not answer: " + sim_slurp(qemuOut);
    return false;
}

bool Machine::readPrompt(std::string *text, double limit)
{
    double until = now() + limit;
    while (now() < until) {
        char buf[4096];
        ssize_t n = recv(mon, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            text->append(buf, n);
            if (text->find("(qemu) ") != std::string::npos) return true;
            continue;
        }
        if (n == 0) return false;
        pause(0.02);
    }
    return false;
}

bool Machine::monitor(const std::string &command, std::string *answer)
{
    if (mon < 0) return false;
    std::string line = command + "\n";
    if (send(mon, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size()) return false;
    std::string text;
    bool ok = readPrompt(&text, 30);
    if (answer) *answer = text;
    return ok;
}

bool Machine::screendump(Picture *picture, std::string *error)
{
    std::string file = folder + "/screen.ppm";
    unlink(file.c_str());
    std::string answer;
    if (!monitor("screendump " + file, &answer)) {
        *error = "the monitor did not answer screendump: " + answer;
        return false;
    }
    std::string data = sim_slurp(file);
    if (!ppm_parse(std::vector<uint8_t>(data.begin(), data.end()), picture)) {
        *error = "screendump wrote no P6 picture (" + std::to_string(data.size()) + " bytes)";
        return false;
    }
    return true;
}

bool Machine::waitSerial(const std::string &text, double limit)
{
    double until = now() + limit;
    while (now() < until) {
        if (serial().find(text) != std::string::npos) return true;
        if (!running()) return serial().find(text) != std::string::npos;
        pause(0.1);
    }
    return false;
}

std::string Machine::serial() const
{
    return sim_slurp(serialLog);
}

bool Machine::waitExit(double limit)
{
    double until = now() + limit;
    while (now() < until) {
        if (!running()) return true;
        pause(0.1);
    }
    return !running();
}
