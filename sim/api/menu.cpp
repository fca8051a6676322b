#include "menu.h"

#include "backdrop.h"
#include "bootinit/paths.h"
#include "remote.h"
#include "screen.h"

#include <dirent.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

const char *const menuHostFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

namespace
{

bool place(const std::string &from, const std::string &to, std::string *error)
{
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec && error) *error = "cannot copy " + from + " to " + to + ": " + ec.message();
    return !ec;
}

} // namespace

bool menu_install(const std::string &root, const std::string &quiselBinary, const std::string &keys,
                  std::string *error, double start, double step)
{
    if (!place(quiselBinary, root + paths::menuProgram, error)) return false;
    fs::permissions(root + paths::menuProgram, fs::perms(0755));
    if (!place(menuHostFont, root + paths::menuFont, error)) return false;
    std::error_code ec;
    fs::create_directories(fs::path(root + paths::menuPicture).parent_path(), ec);
    if (!backdrop_write(root + paths::menuPicture, 720, 576)) {
        if (error) *error = "cannot write the background picture";
        return false;
    }
    ScreenPolicy screen;
    if (!screen_prepare(root, screen, error)) return false;
    RemoteDevice remote;
    if (!remote_key_records(keys, start, step, &remote.records)) {
        if (error) *error = "unknown key in \"" + keys + "\"";
        return false;
    }
    if (!remote_install(root, 0, remote)) {
        if (error) *error = "cannot lay out the remote control in " + root;
        return false;
    }
    return true;
}

int menu_copy_screens(const std::string &root, const std::string &folder)
{
    std::vector<std::string> frames;
    std::string dir = root + "/.boxsim/frames";
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0)
                frames.push_back(name);
        }
        closedir(d);
    }
    std::sort(frames.begin(), frames.end());
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return -1;
    for (const std::string &f : frames)
        if (!place(dir + "/" + f, folder + "/" + f, nullptr)) return -1;
    return (int)frames.size();
}
