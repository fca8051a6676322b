// The boot selector's decisions: reading rules and the command lines it
// hands to the shell. Nothing here touches the system.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

// Size of the line buffer used for /proc/mounts and the selection file.
constexpr int lineBufferSize = 256;
// Size of the buffer that holds the saved working directory.
constexpr int cwdBufferSize = 50;
// The reserved name of the box's own root file system.
constexpr const char *flashName = "Flash";
// Appended to the command lines whose output nobody should see.
constexpr const char *quiet = " > /dev/null 2>&1";

// One piece read at run time (a name, an image path, a device path) as a
// single literal shell word: unchanged when made only of letters, digits,
// '.', '_', '-' and '/', otherwise in single quotes.
std::string ShellWord(const std::string &piece);

// True when a line of the mount table names /proc anywhere.
bool LineNamesProc(const char *line);
// Reads the mount table line by line; true at the first line naming /proc.
bool ProcIsMounted(FILE *mounts);

// The selection by the boot rule: the first line of the selection file
// without its line-feed, or "Flash" when there is no file (null), no line or
// an empty one. Does not close the file.
std::string ReadBootSelection(FILE *selection);

// True when the name can be the entry name of an image directory of the
// store: not empty, not "." or "..", and without a slash.
bool IsImageName(const std::string &name);
// "/media/quillon/Qvault/" + name.
std::string ImagePath(const std::string &name);

// The command lines of the boot sequence.
std::vector<std::string> ProcCommands();
std::string UdevCommand();
std::vector<std::string> ModuleCommands();
std::string LogoCommand(const char *logo);
std::string MountProbeCommand(const std::string &device);
std::string UmountProbeCommand(const std::string &device);

// The hand-off's command lines, in order: the image's logo (from
// /usr/share when imageHasUsrLogo, else from /boot), the binds of /dev,
// /proc and /sys, preparing and binding the store's mount point, and one
// bind for every media place at which the running system sees a store.
std::vector<std::string> HandoffCommands(const std::string &name, bool imageHasUsrLogo,
                                         const bool storeAtPlace[6]);
