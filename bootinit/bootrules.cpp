#include "bootrules.h"

#include "bootinit.h"
#include "paths.h"

#include <string.h>

namespace
{

bool isPlainByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '/';
}

} // namespace

std::string ShellWord(const std::string &piece)
{
    bool plain = !piece.empty();
    for (unsigned char c : piece)
        if (!isPlainByte(c)) plain = false;
    if (plain) return piece;
    std::string word = "'";
    for (char c : piece) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + "'";
}

bool LineNamesProc(const char *line)
{
    return strstr(line, paths::procDir) != nullptr;
}

bool ProcIsMounted(FILE *mounts)
{
    char line[lineBufferSize];
    while (fgets(line, sizeof line, mounts))
        if (LineNamesProc(line)) return true;
    return false;
}

std::string ReadBootSelection(FILE *selection)
{
    if (!selection) return flashName;
    char line[lineBufferSize];
    if (!fgets(line, sizeof line, selection)) return flashName;
    std::string name = Str_trim(line);
    return name.empty() ? flashName : name;
}

bool IsImageName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string ImagePath(const std::string &name)
{
    return paths::store + name;
}

std::vector<std::string> ProcCommands()
{
    const std::string mount = paths::mountTool;
    return {mount + " -t proc proc " + paths::procDir + quiet,
            mount + " -t sysfs sysfs " + paths::sysDir + quiet,
            std::string(paths::depmodTool) + " -Ae" + quiet};
}

std::string UdevCommand()
{
    return std::string(paths::udevScript) + " start" + quiet;
}

std::vector<std::string> ModuleCommands()
{
    return {"modprobe dreambox_keyboard", "modprobe fp", "modprobe bcm7400",
            std::string("cat ") + paths::videoModeSaved + " > " + paths::videoModeProc};
}

std::string LogoCommand(const char *logo)
{
    return std::string(paths::showiframe) + " " + logo + quiet;
}

std::string MountProbeCommand(const std::string &device)
{
    return "mount " + ShellWord(device) + " " + paths::mountPoint + quiet;
}

std::string UmountProbeCommand(const std::string &device)
{
    return "umount " + ShellWord(device) + " " + paths::mountPoint + quiet;
}

std::vector<std::string> HandoffCommands(const std::string &name, bool imageHasUsrLogo,
                                         const bool storeAtPlace[6])
{
    const std::string image = ShellWord(ImagePath(name));
    const std::string bind = std::string(paths::mountTool) + " -o bind ";
    const std::string store = paths::mountPoint;
    std::vector<std::string> commands;
    commands.push_back(std::string(paths::showiframe) + " " + image +
                       (imageHasUsrLogo ? paths::usrLogo : paths::bootLogo));
    for (const char *dir : {paths::devDir, paths::procDir, paths::sysDir})
        commands.push_back(bind + dir + " " + image + dir);
    commands.push_back("rm " + image + store + quiet);
    commands.push_back("mkdir " + image + store + quiet);
    commands.push_back(bind + store + " " + image + store);
    for (int i = 0; i < 6; i++)
        if (storeAtPlace[i]) commands.push_back(bind + store + " " + image + paths::mediaPlaces[i]);
    return commands;
}
