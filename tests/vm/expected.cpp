#include "expected.h"
#include "sim/api/files.h"

#include "bootinit/paths.h"
#include "menu.h"
#include "sandbox.h"

#include <dirent.h>
#include <errno.h>
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

#ifndef QUISEL_HOST
#error "QUISEL_HOST must name the host build of the menu"
#endif

namespace fs = std::filesystem;

namespace
{

// In the child: the store on its mount point, its listing, the menu run.
std::string runInside(const std::string &root, const std::string &storeImage,
                      std::vector<std::string> *entries)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return std::string("a mount namespace (needs root): ") + strerror(errno);
    std::string mountPoint = root + paths::mountPoint;
    std::string command = "mount -o loop,ro,noload '" + storeImage + "' '" + mountPoint + "' 2>&1";
    if (system(command.c_str()) != 0)
        return "cannot mount the store image read-only on a loop device: " + command;
    std::string store = root + paths::store;
    if (DIR *d = opendir(store.c_str())) {
        while (dirent *e = readdir(d)) {
            if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
            struct stat st;
            if (stat((store + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                entries->push_back(e->d_name);
        }
        closedir(d);
    }
    SandboxRun box;
    box.root = root;
    box.argv = {paths::menuProgram};
    box.stdoutPath = box.stderrPath = root + ".out";
    box.timeoutSeconds = 60;
    SandboxResult result;
    std::string error;
    if (!sandbox_run(box, &result))
        error = "the simulated box did not run: " + result.error;
    else if (result.timedOut)
        error = "the simulated menu did not end";
    umount2(mountPoint.c_str(), MNT_DETACH);
    return error;
}

} // namespace

bool expected_menu(const std::string &storeImage, const std::string &packageStatus,
                   const std::string &keys, ExpectedMenu *menu, std::string *error)
{
    const char *tmp = getenv("TMPDIR");
    std::string stem = std::string(tmp && *tmp ? tmp : "/tmp") + "/vmexpected.XXXXXX";
    std::vector<char> name(stem.begin(), stem.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        *error = std::string("mkdtemp: ") + strerror(errno);
        return false;
    }
    std::string root = name.data();
    struct Cleanup {
        std::string root;
        ~Cleanup()
        {
            std::error_code ec;
            fs::remove_all(root, ec);
            fs::remove(root + ".out", ec);
            fs::remove(root + ".list", ec);
        }
    } cleanup{root};

    if (!menu_install(root, QUISEL_HOST, keys, error, 1.0, 1.0)) return false;
    std::error_code ec;
    fs::create_directories(root + paths::mountPoint, ec);
    if (!packageStatus.empty()) {
        fs::create_directories(fs::path(root + paths::packageStatus).parent_path(), ec);
        std::ofstream(root + paths::packageStatus, std::ios::binary) << packageStatus;
    }
    // The box's own clock, so that the menu's waits cost no real time.
    fs::create_directories(root + sandboxCtlDir, ec);
    int64_t start = 1767225600LL * 1000000000LL;
    std::ofstream(root + sandboxCtlDir + "/clock", std::ios::binary)
        .write(reinterpret_cast<const char *>(&start), sizeof start);

    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        *error = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (child == 0) {
        std::vector<std::string> entries;
        std::string failure = runInside(root, storeImage, &entries);
        std::ofstream out(root + ".list", std::ios::binary);
        out << failure << '\0';
        for (const std::string &e : entries)
            out << e << '\0';
        out.close();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::string list = sim_slurp(root + ".list");
    size_t nul = list.find('\0');
    if (nul == std::string::npos) {
        *error = "the simulator's child left no report";
        return false;
    }
    if (nul > 0) {
        *error = list.substr(0, nul);
        return false;
    }
    menu->entries = {"Flash"};
    for (size_t at = nul + 1; at < list.size();) {
        size_t end = list.find('\0', at);
        menu->entries.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    menu->console = sim_slurp(root + ".out");
    int count = screen_frame_count(root);
    for (int n = 1; n <= count; n++) {
        ScreenFrame frame;
        if (!screen_read_frame(root, n, &frame, error)) return false;
        menu->frames.push_back(frame);
    }
    if (menu->frames.empty()) {
        *error = "the simulated menu drew nothing: " + menu->console;
        return false;
    }
    return true;
}
