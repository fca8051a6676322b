// bootinit: the boot selector. Runs as process 1, finds the multiboot store,
// runs the boot menu and boots the flash or the chosen image by handing over
// to its /sbin/init.sysvinit.
#include "bootinit.h"

#include "bootrules.h"
#include "paths.h"
#include "storefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace
{

bool Exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Every step goes on whatever the previous one did: results are not looked at.
void Run(const std::string &command)
{
    int status = system(command.c_str());
    (void)status;
}

} // namespace

int TestMount(std::string device)
{
    Run(MountProbeCommand(device));
    if (Exists(paths::selectionFile)) return 1;
    Run(UmountProbeCommand(device));
    return 0;
}

int DirectoryExists(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir) return 0;
    closedir(dir);
    return 1;
}

std::string Str_trim(std::string text)
{
    size_t lf = text.find('\n');
    if (lf != std::string::npos) text.erase(lf, 1);
    return text;
}

#ifndef BOOTINIT_NO_MAIN
namespace
{

// The flash's root directory, held open across the change into an image.
int flashRoot = -1;

void ChangeDir(const char *path)
{
    int rc = chdir(path);
    (void)rc;
}

void DiscoverStore()
{
    DIR *dir = opendir(paths::byUuid);
    if (!dir) return;
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        if (TestMount(std::string(paths::byUuid) + entry->d_name) == 1) break;
    }
    closedir(dir);
}

// Boots the chosen image: returns true once the root has been changed into it.
bool HandOff(const std::string &name)
{
    if (!IsImageName(name)) return false;
    const std::string image = ImagePath(name);
    if (DirectoryExists(image.c_str()) == 0) return false;
    bool storeAtPlace[6];
    for (int i = 0; i < 6; i++)
        storeAtPlace[i] = Exists(std::string(paths::mediaPlaces[i]) + paths::placeSelectionFile);
    for (const std::string &command :
         HandoffCommands(name, Exists(image + paths::usrLogo), storeAtPlace))
        Run(command);
    // Keep a way back to the flash's root in case the image's init cannot start.
    flashRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return chroot(image.c_str()) == 0;
}

// The whole boot up to the start of init; true after a change of root.
bool Boot()
{
    FILE *mounts = fopen(paths::procMounts, "rt");
    bool procMounted = mounts && ProcIsMounted(mounts);
    if (mounts) fclose(mounts);
    if (!procMounted)
        for (const std::string &command : ProcCommands())
            Run(command);

    if (DirectoryExists(paths::udevMarker) == 0) Run(UdevCommand());

    char saved[cwdBufferSize];
    bool haveSaved = getcwd(saved, sizeof saved) != nullptr;
    ChangeDir(paths::moduleDir);
    for (const std::string &command : ModuleCommands())
        Run(command);
    sleep(1);
    Run(LogoCommand(paths::usrLogo));
    // At boot the working directory is the root; go back there when the
    // saved one did not fit.
    ChangeDir(haveSaved ? saved : "/");
    sleep(4);

    DiscoverStore();

    if (Exists(paths::menuProgram)) Run(paths::menuProgram);

    FILE *selection = OpenStoreFile(paths::selectionFile);
    const std::string name = ReadBootSelection(selection);
    if (selection) fclose(selection);

    bool changedRoot = false;
    if (name == flashName)
        Run(LogoCommand(Exists(paths::bootLogo) ? paths::bootLogo : paths::usrLogo));
    else
        changedRoot = HandOff(name);

    unlink(paths::strayFile);
    return changedRoot;
}

} // namespace

int main(int argc, char **argv)
{
    bool changedRoot = argc == 1 && Boot();
    execve(paths::realInit, argv, environ);
    // The image's init could not start: go back to the flash's root and start
    // the flash's init instead.
    if (changedRoot && flashRoot >= 0 && fchdir(flashRoot) == 0 && chroot(".") == 0)
        execve(paths::realInit, argv, environ);
    return 0;
}
#endif
