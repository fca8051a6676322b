// The menu as the box simulator draws it: the host build of quisel in a
// simulated box whose store is the very disk image the emulated box gets,
// mounted read-only, so both list the images in the same order.
#pragma once

#include "screen.h"

#include <string>
#include <vector>

struct ExpectedMenu {
    std::vector<std::string> entries; // "Flash", then the store's images in listing order
    std::vector<ScreenFrame> frames;  // the screens, one per blit
    std::string console;              // what the menu printed
};

// keys: the remote control's presses in the simulator ("down,down,ok").
bool expected_menu(const std::string &storeImage, const std::string &packageStatus,
                   const std::string &keys, ExpectedMenu *menu, std::string *error);
