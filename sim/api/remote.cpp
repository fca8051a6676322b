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

namespace
{

// "NAME" or "NAME*N": the key's code and its count of auto-repeat records.
bool parseKey(const std::string &item, int *code, int *repeats)
{
    size_t star = item.find('*');
    *repeats = 0;
    if (star != std::string::npos) {
        std::string count = item.substr(star + 1);
        char *end = nullptr;
        long n = strtol(count.c_str(), &end, 10);
        if (count.empty() || count[0] < '0' || count[0] > '9' || *end != 0 || n > 1000)
            return false;
        *repeats = (int)n;
    }
    *code = remote_key_code(item.substr(0, star));
    return *code >= 0;
}

} // namespace

bool remote_key_records(const std::string &keys, double start, double step,
                        std::vector<RemoteRecord> *records)
{
    std::stringstream in(keys);
    std::string item;
    double at = start;
    while (std::getline(in, item, ',')) {
        int code, repeats;
        if (!parseKey(item, &code, &repeats)) return false;
        RemoteRecord r;
        r.code = code;
        r.at = at;
        r.value = 1;
        records->push_back(r);
        for (int i = 1; i <= repeats; i++) {
            r.at = at + i * step / 4;
            r.value = 2;
            records->push_back(r);
        }
        r.at = at + (repeats + 2) * step / 4;
        r.value = 0;
        records->push_back(r);
        at += step + repeats * step / 4;
    }
    return true;
}

std::string remote_script(const RemoteDevice &dev)
{
    std::ostringstream script;
    script.precision(10);
    if (dev.nameFails)
        script << "name-fails\n";
    else
        script << "name " << dev.name << "\n";
    if (dev.openFails) script << "open-fails\n";
    if (dev.idleReal) script << "idle real\n";
    for (const RemoteRecord &r : dev.records) {
        if (r.shortBytes >= 0) {
            script << "short " << r.at << " " << r.shortBytes << " " << r.type << " " << r.code
                   << " " << r.value << "\n";
            continue;
        }
        script << "record " << r.at << " " << r.type << " " << r.code << " " << r.value << "\n";
        if (dev.syncReports) script << "record " << r.at << " 0 0 0\n";
    }
    return script.str();
}

bool remote_install(const std::string &root, int number, const RemoteDevice &dev)
{
    std::string node = root + "/dev/input/event" + std::to_string(number);
    std::string scriptDir = root + "/.boxsim/input";
    if (!sim_make_dirs(root + "/dev/input") || !sim_make_dirs(scriptDir)) return false;
    std::ofstream(node).flush();
    std::ofstream script(scriptDir + "/event" + std::to_string(number) + ".conf",
                         std::ios::trunc);
    script << remote_script(dev);
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
