// Fixed paths shared by bootinit and the menu. Nothing here is configurable:
// both programs must agree on every one of them.
#pragma once

namespace paths
{

// The multiboot store, as seen through the store device's mount point.
constexpr const char *mountPoint = "/media/quillon";
constexpr const char *store = "/media/quillon/Qvault/";
constexpr const char *selectionFile = "/media/quillon/Qvault/.quillon";
constexpr const char *versionFile = "/media/quillon/Qvault/.version";
// Temporary file the menu writes before renaming it over the selection file.
constexpr const char *selectionTemp = "/media/quillon/Qvault/.quillon.new";

// The media places at which a running system may also see the store.
constexpr const char *mediaPlaces[] = {"/media/cf",  "/media/card", "/media/hdd",
                                       "/media/usb", "/media/usb2", "/media/usb3"};

// Devices probed for the store.
constexpr const char *byUuid = "/dev/disk/by-uuid/";

// The plug-in's installed files.
constexpr const char *menuProgram =
    "/usr/lib/enigma2/python/Plugins/Extensions/Quillon/contrib/quisel";
constexpr const char *menuFont =
    "/usr/lib/enigma2/python/Plugins/Extensions/Quillon/font/micron_bold.ttf";
constexpr const char *menuPicture =
    "/usr/lib/enigma2/python/Plugins/Extensions/Quillon/icons/quimenu.png";

// The box.
constexpr const char *realInit = "/sbin/init.sysvinit";
constexpr const char *packageStatus = "/var/lib/opkg/status";
constexpr const char *procMounts = "/proc/mounts";
constexpr const char *udevMarker = "/dev/.udev";
constexpr const char *framebuffer = "/dev/fb0";
constexpr const char *console = "/dev/tty0";
constexpr const char *inputPattern = "/dev/input/event%d";

// Where a store seen at a media place keeps its selection file, relative to the place.
constexpr const char *placeSelectionFile = "/Qvault/.quillon";

// The box's own tools and files that the boot selector uses.
constexpr const char *mountTool = "/bin/mount";
constexpr const char *depmodTool = "/sbin/depmod";
constexpr const char *udevScript = "/etc/init.d/udev";
constexpr const char *showiframe = "/usr/bin/showiframe";
constexpr const char *videoModeSaved = "/etc/videomode";
constexpr const char *videoModeProc = "/proc/stb/video/videomode";
constexpr const char *usrLogo = "/usr/share/bootlogo.mvi";
constexpr const char *bootLogo = "/boot/bootlogo.mvi";
constexpr const char *moduleDir = "/sbin";
constexpr const char *procDir = "/proc";
constexpr const char *sysDir = "/sys";
constexpr const char *devDir = "/dev";
// A stray file that the firmware's scripts leave behind; removed before init starts.
constexpr const char *strayFile = "/&1";

} // namespace paths
