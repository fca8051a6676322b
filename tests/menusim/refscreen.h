// What the menu's screen must look like, drawn by the test itself: the
// background picture, the highlight bar and the texts placed as the menu's
// layout says, glyphs from the real font through FreeType's bitmap cache,
// pixels in the format of the depth. Compared with a saved frame as a whole.
#pragma once

#include "screen.h"

#include <stdint.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H

#include <string>
#include <vector>

class RefScreen
{
  public:
    RefScreen(int width, int height, int bitsPerPixel, const std::string &fontFile);
    ~RefScreen();
    RefScreen(const RefScreen &) = delete;
    RefScreen &operator=(const RefScreen &) = delete;

    // The device's value of one colour at this depth.
    uint32_t pixel(int r, int g, int b) const;
    void picture(const std::vector<unsigned char> &rgb, int width, int height);
    void fillRect(int x, int y, int width, int height, int r, int g, int b);
    void text(const std::string &text, int x, int y, int maxWidth, int alignment, int size, int r,
              int g, int b);

    // One whole menu frame: entries (at most ten shown), the highlighted
    // row and the four information slots.
    void menu(const std::vector<std::string> &entries, int highlighted,
              const std::vector<std::string> &info);

    // Empty when the frame holds exactly this screen; else where it differs.
    std::string compare(const ScreenFrame &frame) const;

    bool fontReady() const { return ready; }

  private:
    // Glyph of a character at the current size (null when the font lacks
    // it); its pen advance including the kerning after *previous.
    FTC_SBit glyph(unsigned char c, unsigned int *previous, int *advance, int *kerning);

    int width, height, bpp;
    std::vector<uint32_t> pixels;
    std::string fontFile;
    bool ready = false;
    FT_Library library = nullptr;
    FTC_Manager manager = nullptr;
    FTC_SBitCache cache = nullptr;
    FT_Face face = nullptr;
    FTC_ImageTypeRec type{};
};
