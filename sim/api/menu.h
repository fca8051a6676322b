// The real boot menu in a box root: the program at its fixed path, the
// font, the project's background picture, the emulated framebuffer and a
// remote control that presses the given keys once the menu has opened it.
#pragma once

#include <string>

// The font the menu is given (Debian's fonts-dejavu-core).
extern const char *const menuHostFont;

// Lays the menu out in the box root. keys: a comma-separated key list
// ("down,down,ok"; empty: a remote control that presses nothing), the first
// press `start` seconds after the menu opened the device, `step` apart.
bool menu_install(const std::string &root, const std::string &quiselBinary, const std::string &keys,
                  std::string *error, double start = 1.0, double step = 0.8);

// The frames the menu's screen showed (PNG files), copied into folder in
// order; returns how many, -1 when the folder cannot be written.
int menu_copy_screens(const std::string &root, const std::string &folder);
