// A simulated box for the graphics tests: a temporary box root with the
// emulated framebuffer, the menu font at its fixed path and the fbdriver.
#pragma once

#include "screen.h"

#include <string>
#include <vector>

struct DriverRun {
    int status = -1; // exit status, or -1 when the driver did not exit
    std::string out; // standard output
    std::string err; // standard error
};

class GraphicsBox
{
  public:
    GraphicsBox();
    ~GraphicsBox();

    // Prepares the devices; installs the font unless told not to.
    void prepare(const ScreenPolicy &policy, bool font = true);
    // Writes a file into the box root (path inside the box).
    void put(const std::string &path, const std::string &bytes);
    // Runs the driver on a script; fails the test when the box cannot run.
    DriverRun run(const std::vector<std::string> &script);

    ScreenFrame frame(int n) const;
    int frames() const { return screen_frame_count(root); }
    std::vector<std::string> log() const { return screen_log(root); }
    std::vector<std::string> log(const std::string &start) const
    {
        return screen_log_matching(root, start);
    }

    std::string root;
};

// The font the box uses, on the host.
const char *testFontPath();
