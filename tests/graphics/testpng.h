// Test pictures: PNG files written with libpng's writer from known samples,
// and the packed RGB those samples stand for, worked out from the samples
// themselves.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct TestPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    int colorType = 2; // PNG colour type: 0, 2, 3, 4 or 6
    int bitDepth = 8;  // 1, 2, 4, 8 or 16
    bool interlaced = false;
    // Samples, channels per pixel as the colour type has them (palette
    // pictures: one index), row after row.
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette; // r, g, b per entry
    std::vector<uint8_t> alpha;   // tRNS entries for a palette picture
};

int testChannels(int colorType);
// A picture filled with a varied pattern that uses the whole sample range.
TestPicture testPattern(uint32_t width, uint32_t height, int colorType, int bitDepth,
                        bool interlaced, uint32_t seed);
bool writeTestPng(const std::string &path, const TestPicture &picture);
// Packed RGB as the menu's reader must produce it: samples widened to 8 bits,
// 16-bit samples cut to their high byte, grey and palette pictures composed
// onto black by their alpha, RGB pictures with alpha losing it.
std::vector<uint8_t> expectedRgb(const TestPicture &picture);
// Packed RGB of a simple gradient, for pictures shown on the screen.
std::vector<uint8_t> gradientRgb(uint32_t width, uint32_t height, uint32_t seed);
