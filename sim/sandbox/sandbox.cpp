#include "sandbox.h"

#include "boxrecord.h"

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

#ifndef BOXSIM_PRELOAD_PATH
#define BOXSIM_PRELOAD_PATH ""
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
        envStore.push_back(std::string("LD_PRELOAD=") + sandboxCtlDir + "/libboxsim.so");
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
            _exit(2);
        }
        struct timespec pause = {0, 2000000};
        nanosleep(&pause, nullptr);
    }
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
