// Test side of the emulated framebuffer: prepares "/dev/fb0" and "/dev/tty0"
// in a box root with a policy, and reads back what the device saw: the
// frames saved at each blit, the device memory and the request log.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct ScreenPolicy {
    std::string initial = "720x576x32"; // mode before any mode set
    std::string mode = "accept";        // "accept", "refuse" or a forced "WxHxB"
    uint32_t pad = 0;                   // bytes of padding at the end of each line
    uint64_t memory = 720 * 576 * 4;    // size of fb0, the device memory
    int64_t smemLen = -1;               // reported smem_len; -1: the size of fb0
    // "WHAT [ERRNO] [from N]" lines, see sim/preload/fb.cpp.
    std::vector<std::string> failures;
    bool fb0 = true;  // create /dev/fb0
    bool tty0 = true; // create /dev/tty0
};

// Creates the device files and the policy in the box root (and empties any
// earlier frames, state and log of the device).
bool screen_prepare(const std::string &root, const ScreenPolicy &policy, std::string *error);

// One saved frame: the visible lines as stored and as a person sees them.
struct ScreenFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t lineLength = 0;
    std::vector<uint8_t> raw; // height x lineLength bytes
    std::vector<uint8_t> rgb; // width x height x 3, decoded from the saved PNG

    // Bytes one pixel takes in the device memory (8: 1, 15/16: 2, 24: 3, 32: 4).
    uint32_t bytesPerPixel() const { return (bitsPerPixel + 7) / 8; }
    // The stored value of the pixel at (x, y), in the machine's byte order.
    uint32_t value(uint32_t x, uint32_t y) const;
    // The colour a person sees at (x, y), as 0xRRGGBB.
    uint32_t colour(uint32_t x, uint32_t y) const;
};

// Number of frames saved so far.
int screen_frame_count(const std::string &root);
// Reads frame number n (1 is the first blit).
bool screen_read_frame(const std::string &root, int n, ScreenFrame *frame, std::string *error);
// The whole device memory as it is now.
std::vector<uint8_t> screen_memory(const std::string &root);
// The device's log lines ("fb0 ..." and "tty0 ..."), without the process id.
std::vector<std::string> screen_log(const std::string &root);
// Log lines that start with the given text.
std::vector<std::string> screen_log_matching(const std::string &root, const std::string &start);

// A rectangle of a frame compared against something; the text names the
// first pixel that differs and how many differ, empty when all agree.
std::string screen_region_is(const ScreenFrame &frame, uint32_t x, uint32_t y, uint32_t width,
                             uint32_t height, uint32_t value);
// The region of a compared with the same-sized region of b placed at (bx, by).
std::string screen_regions_equal(const ScreenFrame &a, uint32_t ax, uint32_t ay,
                                 const ScreenFrame &b, uint32_t bx, uint32_t by, uint32_t width,
                                 uint32_t height);
// The region compared with expected values, width x height of them, row by row.
std::string screen_region_matches(const ScreenFrame &frame, uint32_t x, uint32_t y, uint32_t width,
                                  uint32_t height, const std::vector<uint32_t> &expected);
