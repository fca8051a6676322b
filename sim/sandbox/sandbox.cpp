#include "sandbox.h"

#include "boxrecord.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <utility>

#ifndef BOXSIM_PRELOAD_PATH
#define BOXSIM_PRELOAD_PATH ""
#endif
// A host build for the box build runs mipsel programs in its boxes: their
// preloaded library, the unpacked mipsel libraries and qemu-user (an
// interpreter that keeps argv[0], "...-binfmt-P").
#ifndef BOXSIM_TARGET_PRELOAD_PATH
#define BOXSIM_TARGET_PRELOAD_PATH ""
#endif
#ifndef BOXSIM_TARGET_SYSROOT
#define BOXSIM_TARGET_SYSROOT ""
#endif
#ifndef BOXSIM_TARGET_INTERPRETER
#define BOXSIM_TARGET_INTERPRETER ""
#endif

const char *const sandboxCtlDir = "/.boxsim";

namespace
{

// Host library folders that every box sees, bound read-only.
const char *const hostLibraryDirs[] = {"/usr/lib/x86_64-linux-gnu", "/usr/lib/mipsel-linux-gnu",
                                       "/usr/mipsel-linux-gnu"};

bool makeDirs(const std::string &path)
{
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

// Boxes that run mipsel programs.
const bool targetBox = *BOXSIM_TARGET_INTERPRETER != 0;
// The dynamic loader expands $LIB to lib/<triplet>, so one LD_PRELOAD entry
// names the right library for host and mipsel programs alike.
const char *const targetPreloadEnv = "/.boxsim/$LIB/libboxsim.so";
const char *const hostPreloadPath = "/lib/x86_64-linux-gnu/libboxsim.so";
const char *const targetPreloadPath = "/lib/mipsel-linux-gnu/libboxsim.so";
const char *const targetSysroot = "/mipsel-sysroot";
// The cross compiler's C library (bound from the host like the other library
// folders) holds the mipsel loader; programs ask for it as /lib/ld.so.1. No
// qemu-user prefix: it would answer every absolute path that also exists
// under the prefix from there, "/" included.
const char *const targetLoader = "/lib/ld.so.1";
const char *const targetLoaderFile = "/usr/mipsel-linux-gnu/lib/ld.so.1";
const char *const targetCLibrary = "/usr/mipsel-linux-gnu/lib";

// binfmt_misc: mipsel o32 ELF executables and shared objects (n32 excluded).
const char *const binfmtDir = "/proc/sys/fs/binfmt_misc";
const char *const mipselMagic =
    "\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
    "\\x00\\x00\\x02\\x00\\x08\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
    "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00";
const char *const mipselMask =
    "\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00\\xfe\\xff\\xff\\xff\\xff\\xff"
    "\\xff\\xff\\xfe\\xff\\xff\\xff\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
    "\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x20";

bool writeText(const std::string &path, const std::string &text)
{
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size();
    close(fd);
    return ok;
}

bool isDir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

[[noreturn]] void fail(int pipeFd, const char *what)
{
    char msg[512];
    int n = snprintf(msg, sizeof msg, "%s: %s", what, strerror(errno));
    if (pipeFd >= 0) {
        ssize_t w = write(pipeFd, msg, n);
        (void)w;
    }
    _exit(127);
}

// Lets the kernel run mipsel programs through qemu-user while the box runs.
// binfmt_misc is mounted in the box keeper's own mount namespace only; an
// entry lives no longer than the last mount of binfmt_misc, so it goes with
// the box even when the keeper is killed, and is removed explicitly anyway.
// The entry is opened at registration (F), so it works in every root.
std::string registerMipsel(int pipeFd)
{
    if (mount("binfmt_misc", binfmtDir, "binfmt_misc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) !=
        0)
        fail(pipeFd, "mount binfmt_misc for mipsel programs");
    std::string name = "boxsim-mipsel-" + std::to_string(getpid());
    std::string rule = ":" + name + ":M::" + mipselMagic + ":" + mipselMask + ":" +
                       BOXSIM_TARGET_INTERPRETER + ":POF";
    if (!writeText(std::string(binfmtDir) + "/register", rule))
        fail(pipeFd, "register qemu-user for mipsel programs");
    return std::string(binfmtDir) + "/" + name;
}

void redirect(const SandboxRun &run)
{
    int out = -1;
    if (!run.stdoutPath.empty()) {
        out = open(run.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) dup2(out, 1);
    }
    if (!run.stderrPath.empty()) {
        if (run.stderrPath == run.stdoutPath && out >= 0) {
            dup2(out, 2);
        } else {
            int err = open(run.stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (err >= 0) dup2(err, 2);
            if (err > 2) close(err);
        }
    }
    if (out > 2) close(out);
}

void holdDescriptor(const std::string &dir, int fd, int pipeFd)
{
    int opened = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (opened < 0 || dup2(opened, fd) < 0) fail(pipeFd, "open a folder for the box");
    close(opened);
}

// Sanitized programs in a box write their reports into the control folder
// (the preloaded library sets their options). Removes the reports of an
// earlier run; with collect, gathers them instead.
std::string sanitizerReports(const std::string &root, bool collect)
{
    std::string ctl = root + sandboxCtlDir, reports;
    DIR *dir = opendir(ctl.c_str());
    if (!dir) return reports;
    while (struct dirent *entry = readdir(dir)) {
        if (strncmp(entry->d_name, "sanitizer.", strlen("sanitizer.")) != 0) continue;
        std::string path = ctl + "/" + entry->d_name;
        FILE *in = collect ? fopen(path.c_str(), "r") : nullptr;
        char buf[4096];
        size_t n = 0;
        std::string text;
        while (in && text.size() < 65536 && (n = fread(buf, 1, sizeof buf, in)) > 0)
            text.append(buf, n);
        if (in) fclose(in);
        // Warnings of a runtime are no reports.
        if (text.find("ERROR: ") != std::string::npos ||
            text.find("SUMMARY: ") != std::string::npos)
            reports += text;
        unlink(path.c_str());
    }
    closedir(dir);
    return reports;
}

// Runs as the box's first process (PID 1 of the new PID namespace).
[[noreturn]] void boxFirst(const SandboxRun &run, const std::string &preload, int pipeFd)
{
    const std::string &root = run.root;
    for (const char *dir : hostLibraryDirs) {
        if (!isDir(dir)) continue;
        std::string lib = dir;
        std::string targets[] = {root + lib, root + "/lib" + lib.substr(strlen("/usr/lib"))};
        for (size_t t = 0; t < 2; t++) {
            if (t == 1 && lib.rfind("/usr/lib/", 0) != 0) continue;
            if (!makeDirs(targets[t])) fail(pipeFd, "mkdir library mount point");
            if (mount(dir, targets[t].c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
                fail(pipeFd, "bind host libraries");
            mount(nullptr, targets[t].c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
        }
    }
    std::string ctl = root + sandboxCtlDir;
    std::string proc = ctl + "/proc";
    if (!makeDirs(proc)) fail(pipeFd, "mkdir control folder");
    if (mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        fail(pipeFd, "mount proc for the box");
    if (run.preload && !preload.empty()) {
        std::string target = ctl + "/libboxsim.so";
        int fd = open(target.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) close(fd);
        if (mount(preload.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
            fail(pipeFd, "bind preload library");
        if (targetBox) {
            std::pair<std::string, std::string> libs[] = {
                {preload, ctl + hostPreloadPath},
                {BOXSIM_TARGET_PRELOAD_PATH, ctl + targetPreloadPath}};
            for (const auto &lib : libs) {
                if (!makeDirs(lib.second.substr(0, lib.second.rfind('/'))))
                    fail(pipeFd, "mkdir preload folder");
                fd = open(lib.second.c_str(), O_WRONLY | O_CREAT, 0644);
                if (fd >= 0) close(fd);
                if (mount(lib.first.c_str(), lib.second.c_str(), nullptr, MS_BIND, nullptr) != 0)
                    fail(pipeFd, "bind preload library");
            }
        }
    }
    if (targetBox) {
        std::string sysroot = ctl + targetSysroot;
        if (!makeDirs(sysroot)) fail(pipeFd, "mkdir mipsel library folder");
        if (mount(BOXSIM_TARGET_SYSROOT, sysroot.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail(pipeFd, "bind mipsel libraries");
        mount(nullptr, sysroot.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
    }
    // The control folder and the box's proc stay reachable through these
    // descriptors even after a program in the box changes its root.
    holdDescriptor(ctl, boxrec::ctlFd, pipeFd);
    holdDescriptor(proc, boxrec::procFd, pipeFd);
    redirect(run);
    if (dup2(1, boxrec::consoleFd) < 0) fail(pipeFd, "hold the console");
    if (chroot(root.c_str()) != 0) fail(pipeFd, "chroot into box root");
    if (chdir("/") != 0) fail(pipeFd, "chdir /");

    std::vector<std::string> envStore = {
        "PATH=/usr/sbin:/usr/bin:/sbin:/bin", std::string("BOXSIM_CTL=") + sandboxCtlDir,
        std::string(boxrec::ctlFdEnv) + "=" + std::to_string(boxrec::ctlFd)};
    if (run.preload && !preload.empty())
        envStore.push_back(std::string("LD_PRELOAD=") +
                           (targetBox ? targetPreloadEnv : "/.boxsim/libboxsim.so"));
    if (targetBox) {
        std::string libs = std::string(sandboxCtlDir) + targetSysroot;
        envStore.push_back(std::string("LD_LIBRARY_PATH=") + targetCLibrary + ":" + libs +
                           "/usr/lib/mipsel-linux-gnu:" + libs + "/lib/mipsel-linux-gnu");
    }
    for (const auto &e : run.env)
        envStore.push_back(e);
    std::vector<char *> envp, argv;
    for (auto &e : envStore)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    for (const auto &a : run.argv)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    fail(pipeFd, "exec in box");
}

// Runs in a child of the caller: enters the new namespaces, starts the box's
// first process and waits for it. Its exit status carries the outcome.
[[noreturn]] void boxKeeper(const SandboxRun &run, const std::string &preload, int pipeFd,
                            int statusFd)
{
    if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0) fail(pipeFd, "unshare mount and PID namespaces");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail(pipeFd, "make mounts private");
    std::string binfmtEntry;
    if (targetBox) binfmtEntry = registerMipsel(pipeFd);
    pid_t first = fork();
    if (first < 0) fail(pipeFd, "fork");
    if (first == 0) boxFirst(run, preload, pipeFd);
    close(pipeFd);

    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int status = 0;
    for (;;) {
        pid_t r = waitpid(first, &status, WNOHANG);
        if (r == first) break;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= run.timeoutSeconds) {
            kill(first, SIGKILL);
            waitpid(first, &status, 0);
            if (!binfmtEntry.empty()) writeText(binfmtEntry, "-1");
            _exit(2);
        }
        struct timespec pause = {0, 2000000};
        nanosleep(&pause, nullptr);
    }
    if (!binfmtEntry.empty()) writeText(binfmtEntry, "-1");
    ssize_t w = write(statusFd, &status, sizeof status);
    _exit(w == sizeof status ? 0 : 1);
}

} // namespace

bool sandbox_prepare_root(const std::string &root, std::string *error)
{
    std::string loader = root + "/lib64/ld-linux-x86-64.so.2";
    if (!makeDirs(root + sandboxCtlDir) || !makeDirs(root + "/lib64")) {
        if (error) *error = "cannot create box root folders under " + root;
        return false;
    }
    struct stat st;
    if (lstat(loader.c_str(), &st) != 0 &&
        symlink("/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", loader.c_str()) != 0) {
        if (error) *error = "cannot create the loader link in " + root;
        return false;
    }
    std::string targetLoaderLink = root + targetLoader;
    if (targetBox && lstat(targetLoaderLink.c_str(), &st) != 0 &&
        (!makeDirs(root + "/lib") || symlink(targetLoaderFile, targetLoaderLink.c_str()) != 0)) {
        if (error) *error = "cannot create the mipsel loader link in " + root;
        return false;
    }
#ifdef BOXSIM_SANITIZED
    // Sanitized programs read their own /proc/self (name, maps, environment):
    // the box's /proc/self leads to the box's process file system.
    std::string self = root + "/proc/self";
    if (lstat(self.c_str(), &st) != 0 &&
        (!makeDirs(root + "/proc") || symlink("/.boxsim/proc/self", self.c_str()) != 0)) {
        if (error) *error = "cannot create /proc/self in " + root;
        return false;
    }
#endif
    return true;
}

bool sandbox_run(const SandboxRun &run, SandboxResult *result)
{
    *result = SandboxResult();
    std::string preload = run.preloadLibrary.empty() ? BOXSIM_PRELOAD_PATH : run.preloadLibrary;
    if (run.argv.empty()) {
        result->error = "no program given";
        return false;
    }
    if (!sandbox_prepare_root(run.root, &result->error)) return false;
    sanitizerReports(run.root, false);
    int pipeFds[2], statusFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0 || pipe2(statusFds, O_CLOEXEC) != 0) {
        result->error = "pipe failed";
        return false;
    }
    fflush(nullptr);
    pid_t keeper = fork();
    if (keeper < 0) {
        result->error = "fork failed";
        return false;
    }
    if (keeper == 0) {
        close(pipeFds[0]);
        close(statusFds[0]);
        boxKeeper(run, preload, pipeFds[1], statusFds[1]);
    }
    close(pipeFds[1]);
    close(statusFds[1]);
    char msg[512];
    ssize_t n = read(pipeFds[0], msg, sizeof msg - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(keeper, &status, 0);
    if (n > 0) {
        msg[n] = 0;
        result->error = std::string("sandbox: ") + msg +
                        " (the box simulator needs root, mount and PID namespaces)";
        return false;
    }
    int firstStatus = 0;
    ssize_t got = read(statusFds[0], &firstStatus, sizeof firstStatus);
    close(statusFds[0]);
    // A sanitizer report from any program of the box fails the run.
    std::string reports = sanitizerReports(run.root, true);
    if (!reports.empty()) {
        result->error = "sanitizer report in the box (the whole report of the undefined-behaviour "
                        "sanitizer is on the box's standard error):\n" +
                        reports;
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
        result->timedOut = true;
        return true;
    }
    if (got != sizeof firstStatus) {
        result->error = "sandbox: the box keeper ended without a status";
        return false;
    }
    result->waitStatus = firstStatus;
    return true;
}
