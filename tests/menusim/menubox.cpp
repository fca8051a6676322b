#include "menubox.h"
#include "sim/api/files.h"

#include "backdrop.h"
#include "bootinit/paths.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

const char *const MenuBox::selectionPath = paths::selectionFile;

#ifndef QUISEL_BINARY
#error "QUISEL_BINARY must name the built program"
#endif

const char *quisel_binary()
{
    return QUISEL_BINARY;
}

namespace
{

const char *const hostFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// A new name for mkdtemp or mkstemp in the temporary folder (TMPDIR, else /tmp).
std::vector<char> tempName(const char *stem)
{
    const char *dir = getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/" + stem + ".XXXXXX";
    return std::vector<char>(name.c_str(), name.c_str() + name.size() + 1);
}

// The background picture is made once per test program and copied.
std::string backdropFile()
{
    static std::string file;
    if (file.empty()) {
        std::vector<char> tmpl = tempName("menubackdrop");
        int fd = mkstemp(tmpl.data());
        if (fd >= 0) close(fd);
        if (fd >= 0 && backdrop_write(tmpl.data(), 720, 576)) file = tmpl.data();
        static struct Remover {
            ~Remover()
            {
                if (!file.empty()) unlink(file.c_str());
            }
        } remover;
    }
    return file;
}

} // namespace

MenuBox::MenuBox()
{
    std::vector<char> tmpl = tempName("menubox");
    if (!mkdtemp(tmpl.data())) {
        ADD_FAILURE() << "cannot make a box root: " << strerror(errno);
        return;
    }
    root = tmpl.data();
    mkdirs(std::string(paths::menuProgram).substr(0, std::string(paths::menuProgram).rfind('/')));
    mkdirs(std::string(paths::menuFont).substr(0, std::string(paths::menuFont).rfind('/')));
    mkdirs(std::string(paths::menuPicture).substr(0, std::string(paths::menuPicture).rfind('/')));
    mkdirs(paths::store);
    std::error_code ec;
    fs::copy_file(quisel_binary(), path(paths::menuProgram), ec);
    EXPECT_FALSE(ec) << "copy the menu program: " << ec.message();
    fs::copy_file(hostFont, path(paths::menuFont), ec);
    EXPECT_FALSE(ec) << "copy the font " << hostFont << ": " << ec.message();
    std::string picture = backdropFile();
    EXPECT_FALSE(picture.empty()) << "cannot write the background picture";
    fs::copy_file(picture, path(paths::menuPicture), ec);
    EXPECT_FALSE(ec) << "copy the background picture: " << ec.message();
    clockStart(boxStartNs);
    screen(ScreenPolicy());
}

MenuBox::~MenuBox()
{
    if (root.empty()) return;
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::remove(root + ".out", ec);
    fs::remove(root + ".err", ec);
}

void MenuBox::write(const std::string &inBox, const std::string &content) const
{
    std::string file = path(inBox);
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    EXPECT_TRUE(out.good()) << "write " << file;
}

void MenuBox::mkdirs(const std::string &inBox) const
{
    std::error_code ec;
    fs::create_directories(path(inBox), ec);
    EXPECT_FALSE(ec) << "mkdir " << inBox << ": " << ec.message();
}

void MenuBox::remove(const std::string &inBox) const
{
    std::error_code ec;
    fs::remove_all(path(inBox), ec);
}

bool MenuBox::exists(const std::string &inBox) const
{
    struct stat st;
    return lstat(path(inBox).c_str(), &st) == 0;
}

std::string MenuBox::read(const std::string &inBox) const
{
    return sim_slurp(path(inBox));
}

void MenuBox::images(const std::vector<std::string> &names) const
{
    for (const std::string &name : names)
        mkdirs(std::string(paths::store) + name);
}

std::vector<std::string> MenuBox::entries() const
{
    std::vector<std::string> list = {"Flash"};
    std::string store = path(paths::store);
    DIR *dir = opendir(store.c_str());
    if (!dir) return list;
    while (dirent *e = readdir(dir)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (stat((store + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            list.push_back(e->d_name);
    }
    closedir(dir);
    return list;
}

void MenuBox::clockStart(int64_t ns) const
{
    mkdirs(sandboxCtlDir);
    std::ofstream out(path(std::string(sandboxCtlDir) + "/clock"), std::ios::binary);
    out.write(reinterpret_cast<const char *>(&ns), sizeof ns);
}

void MenuBox::remote(int number, const RemoteDevice &dev) const
{
    EXPECT_TRUE(remote_install(root, number, dev)) << "remote control event" << number;
}

void MenuBox::keys(const std::string &list, double start, double step) const
{
    RemoteDevice dev;
    EXPECT_TRUE(remote_key_records(list, start, step, &dev.records)) << "keys " << list;
    remote(0, dev);
}

void MenuBox::screen(const ScreenPolicy &policy) const
{
    std::string error;
    EXPECT_TRUE(screen_prepare(root, policy, &error)) << error;
}

MenuRun MenuBox::run(const std::function<bool()> &prepare,
                     const std::function<std::string()> &after) const
{
    MenuRun result;
    SandboxRun box;
    box.root = root;
    box.argv = {paths::menuProgram};
    box.stdoutPath = root + ".out";
    box.stderrPath = root + ".err";
    box.timeoutSeconds = 60;
    unlink(box.stdoutPath.c_str());
    unlink(box.stderrPath.c_str());

    SandboxResult ran;
    std::string error;
    if (!prepare) {
        if (!sandbox_run(box, &ran)) error = ran.error;
    } else {
        // A mount namespace of our own holds what the hook mounts; it goes
        // with the child, so nothing reaches the host.
        std::vector<char> tmpl = tempName("menubox-report");
        int reportFd = mkstemp(tmpl.data());
        if (reportFd < 0) {
            ADD_FAILURE() << "report file: " << strerror(errno);
            return result;
        }
        close(reportFd);
        std::string report = tmpl.data();
        fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            std::string msg, inside;
            SandboxResult inner;
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                msg = std::string("a mount namespace for the test: ") + strerror(errno) +
                      " (the menu simulator needs root and mount namespaces)";
            else if (!prepare())
                msg = std::string("the test's mounts failed: ") + strerror(errno);
            else if (!sandbox_run(box, &inner))
                msg = inner.error;
            else if (inner.timedOut)
                msg = "timeout";
            if (msg.empty() && after) inside = after();
            std::ofstream out(report, std::ios::binary | std::ios::trunc);
            out << inner.waitStatus << "\n" << msg << '\0' << inside;
            out.close();
            _exit(0);
        }
        int childStatus = 0;
        waitpid(child, &childStatus, 0);
        std::string text = sim_slurp(report);
        unlink(report.c_str());
        size_t lf = text.find('\n'), nul = text.find('\0');
        if (lf == std::string::npos || nul == std::string::npos || nul < lf) {
            error = "the test's namespace child ended without a report";
        } else {
            ran.waitStatus = atoi(text.substr(0, lf).c_str());
            error = text.substr(lf + 1, nul - lf - 1);
            result.inside = text.substr(nul + 1);
            if (error == "timeout") {
                ran.timedOut = true;
                error.clear();
            }
        }
    }
    if (!error.empty()) {
        ADD_FAILURE() << "the box did not run: " << error;
        return result;
    }
    EXPECT_FALSE(ran.timedOut) << "the menu did not end in time";
    if (!ran.timedOut && WIFEXITED(ran.waitStatus)) result.exitStatus = WEXITSTATUS(ran.waitStatus);
    result.out = sim_slurp(box.stdoutPath);
    result.err = sim_slurp(box.stderrPath);
    std::string clock = read(std::string(sandboxCtlDir) + "/clock");
    if (clock.size() >= sizeof result.endNs)
        memcpy(&result.endNs, clock.data(), sizeof result.endNs);
    return result;
}
