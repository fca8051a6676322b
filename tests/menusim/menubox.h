// A simulated box for the boot menu alone: the real quisel at its fixed path
// in a box root with the store, the font, the background picture, the
// package status file, the emulated framebuffer, remote controls and clock.
#pragma once

#include "remote.h"
#include "screen.h"

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// The moment a menu box is switched on (2026-01-01 00:00:00 UTC) in ns.
constexpr int64_t boxStartNs = 1767225600LL * 1000000000LL;

struct MenuRun {
    int exitStatus = -1; // -1 when the program did not end normally
    std::string out;     // standard output
    std::string err;     // standard error
    int64_t endNs = 0;   // the box's clock when the program had ended
    std::string inside;  // what the run's `after` hook reported
};

class MenuBox
{
  public:
    MenuBox();
    ~MenuBox();
    MenuBox(const MenuBox &) = delete;
    MenuBox &operator=(const MenuBox &) = delete;

    std::string path(const std::string &inBox) const { return root + inBox; }
    // Writes a file in the box, making its folders.
    void write(const std::string &inBox, const std::string &content) const;
    void mkdirs(const std::string &inBox) const;
    void remove(const std::string &inBox) const;
    bool exists(const std::string &inBox) const;
    std::string read(const std::string &inBox) const;

    // Image directories in the store (made in the given order).
    void images(const std::vector<std::string> &names) const;
    // The menu's entries as the menu must list them: "Flash", then every
    // directory of the store in directory-listing order.
    std::vector<std::string> entries() const;

    // The clock's start (nanoseconds since the epoch).
    void clockStart(int64_t ns) const;
    // One remote control "/dev/input/eventN".
    void remote(int number, const RemoteDevice &dev) const;
    // A remote control at event0 that presses the given keys, the first
    // at `start` seconds after the menu opened it, `step` apart.
    void keys(const std::string &list, double start = 0.5, double step = 0.4) const;
    // The emulated framebuffer (present by default, 720x576 at 16 bits).
    void screen(const ScreenPolicy &policy) const;

    // Runs the menu. With a prepare hook the box starts in a fresh mount
    // namespace of the test's own: prepare runs there before the box (false:
    // it failed), `after` there once the box has ended, while the hook's
    // mounts still stand; its text comes back in MenuRun::inside.
    MenuRun run(const std::function<bool()> &prepare = nullptr,
                const std::function<std::string()> &after = nullptr) const;

    std::string selection() const { return read(selectionPath); }
    bool selectionExists() const { return exists(selectionPath); }

    std::string root;
    static const char *const selectionPath;
};

// The program's path in the build.
const char *quisel_binary();
