#include "remote.h"
#include "files.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace
{

const struct {
    const char *name;
    int code;
} keyNames[] = {
    {"1", 2},
    {"2", 3},
    {"3", 4},
    {"4", 5},
    {"5", 6},
    {"6", 7},
    {"7", 8},
    {"8", 9},
    {"9", 10},
    {"0", 11},
    {"esc", 1},
    {"up", 103},
    {"left", 105},
    {"right", 106},
    {"down", 108},
    {"mute", 113},
    {"volumedown", 114},
    {"volumeup", 115},
    {"power", 116},
    {"help", 138},
    {"menu", 139},
    {"exit", 174},
    {"ok", 352},
    {"red", 398},
    {"green", 399},
    {"yellow", 400},
    {"blue", 401},
};

} // namespace

int remote_key_code(const std::string &name)
{
    for (const auto &k : keyNames)
        if (name == k.name) return k.code;
    if (name.rfind("code", 0) == 0 && name.size() > 4) {
        char *end = nullptr;
        long code = strtol(name.c_str() + 4, &end, 10);
        if (*end == 0 && code >= 0 && code <= 0xffff) return (int)code;
    }
    return -1;
}

bool remote_key_records(const std::string &keys, double start, double step,
                        std::vector<RemoteRecord> *records)
{
    std::stringstream in(keys);
    std::string name;
    double at = start;
    while (std::getline(in, name, ',')) {
        int code = remote_key_code(name);
        if (code < 0) return false;
        RemoteRecord press, release;
        press.at = at;
        press.code = release.code = code;
        press.value = 1;
        release.at = at + step / 2;
        release.value = 0;
        records->push_back(press);
        records->push_back(release);
        at += step;
    }
    return true;
}

bool remote_install(const std::string &root, int number, const RemoteDevice &dev)
{
    std::string node = root + "/dev/input/event" + std::to_string(number);
    std::string scriptDir = root + "/.boxsim/input";
    if (!sim_make_dirs(root + "/dev/input") || !sim_make_dirs(scriptDir)) return false;
    std::ofstream(node).flush();
    std::ofstream script(scriptDir + "/event" + std::to_string(number) + ".conf");
    if (dev.nameFails)
        script << "name-fails\n";
    else
        script << "name " << dev.name << "\n";
    if (dev.openFails) script << "open-fails\n";
    for (const RemoteRecord &r : dev.records) {
        if (r.shortBytes >= 0)
            script << "short " << r.at << " " << r.shortBytes << " " << r.type << " " << r.code
                   << " " << r.value << "\n";
        else
            script << "record " << r.at << " " << r.type << " " << r.code << " " << r.value << "\n";
    }
    script.flush();
    return (bool)script;
}

std::vector<RemoteEvent> remote_log(const std::string &root)
{
    std::vector<RemoteEvent> events;
    std::ifstream in(root + "/.boxsim/input.log");
    std::string line;
    while (std::getline(in, line)) {
        RemoteEvent e;
        std::stringstream s(line);
        std::string device;
        s >> e.atNs >> device;
        if (device.rfind("event", 0) == 0) e.device = atoi(device.c_str() + 5);
        std::getline(s >> std::ws, e.what);
        events.push_back(e);
    }
    return events;
}
