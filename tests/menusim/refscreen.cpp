#include "refscreen.h"

#include <sstream>

namespace
{

FT_Error requestFace(FTC_FaceID id, FT_Library library, FT_Pointer, FT_Face *face)
{
    FT_Error error = FT_New_Face(library, static_cast<const char *>(id), 0, face);
    if (!error) FT_Select_Charmap(*face, FT_ENCODING_UNICODE);
    return error;
}

} // namespace

RefScreen::RefScreen(int w, int h, int bitsPerPixel, const std::string &font)
    : width(w), height(h), bpp(bitsPerPixel), pixels((size_t)w * h, 0), fontFile(font)
{
    if (FT_Init_FreeType(&library)) return;
    if (FTC_Manager_New(library, 10, 20, 4194304, requestFace, nullptr, &manager)) return;
    if (FTC_SBitCache_New(manager, &cache)) return;
    FTC_FaceID id = (FTC_FaceID)fontFile.c_str();
    if (FTC_Manager_LookupFace(manager, id, &face)) return;
    type.face_id = id;
    type.flags = FT_LOAD_MONOCHROME;
    ready = true;
}

RefScreen::~RefScreen()
{
    if (manager) FTC_Manager_Done(manager);
    if (library) FT_Done_FreeType(library);
}

uint32_t RefScreen::pixel(int r, int g, int b) const
{
    r &= 0xff;
    g &= 0xff;
    b &= 0xff;
    if (bpp == 8) return (r & 0xE0) | ((g >> 5) << 2) | (b >> 6);
    return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}

void RefScreen::picture(const std::vector<unsigned char> &rgb, int w, int h)
{
    for (int y = 0; y < h && y < height; y++)
        for (int x = 0; x < w && x < width; x++) {
            const unsigned char *p = &rgb[((size_t)y * w + x) * 3];
            pixels[(size_t)y * width + x] = pixel(p[0], p[1], p[2]);
        }
}

void RefScreen::fillRect(int x, int y, int w, int h, int r, int g, int b)
{
    for (int row = y; row < y + h; row++)
        for (int col = x; col < x + w; col++)
            if (row >= 0 && row < height && col >= 0 && col < width)
                pixels[(size_t)row * width + col] = pixel(r, g, b);
}

FTC_SBit RefScreen::glyph(unsigned char c, unsigned int *previous, int *advance, int *kerning)
{
    FT_UInt index = FT_Get_Char_Index(face, c);
    if (!index) return nullptr;
    FTC_SBit sbit = nullptr;
    if (FTC_SBitCache_Lookup(cache, &type, index, &sbit, nullptr)) return nullptr;
    *kerning = 0;
    if (FT_HAS_KERNING(face)) {
        FT_Vector delta{};
        FT_Get_Kerning(face, *previous, index, FT_KERNING_DEFAULT, &delta);
        *kerning = (int)(delta.x >> 6);
        *previous = index;
    }
    *advance = sbit->xadvance + *kerning;
    return sbit;
}

void RefScreen::text(const std::string &s, int x, int y, int maxWidth, int alignment, int sz, int r,
                     int g, int b)
{
    if (!ready) return;
    type.width = type.height = (FT_UInt)sz;
    unsigned int previous = 0;
    int advance = 0, kerning = 0;
    if (alignment != 0) {
        int length = 0;
        for (unsigned char c : s) {
            if (!c) break;
            if (glyph(c, &previous, &advance, &kerning)) length += advance;
        }
        if (length < maxWidth) {
            if (alignment == 1) x += (maxWidth - length) / 2;
            if (alignment == 2) x += maxWidth - length;
        }
    }
    int limit = x + maxWidth;
    previous = 0;
    int pen = x;
    uint32_t value = pixel(r, g, b);
    for (unsigned char c : s) {
        if (!c) break;
        FTC_SBit sbit = glyph(c, &previous, &advance, &kerning);
        if (!sbit) continue;
        if (pen + sbit->xadvance >= limit) break;
        for (int row = 0; row < sbit->height; row++)
            for (int col = 0; col < sbit->width; col++) {
                if (!(sbit->buffer[row * sbit->pitch + col / 8] & (0x80 >> (col % 8)))) continue;
                int sy = y - sbit->top + row, sx = pen + sbit->left + kerning + col;
                if (sy >= 0 && sy < height && sx >= 0 && sx < width)
                    pixels[(size_t)sy * width + sx] = value;
            }
        pen += advance;
    }
}

void RefScreen::menu(const std::vector<std::string> &entries, int highlighted,
                     const std::vector<std::string> &info)
{
    int rows = entries.size() < 10 ? (int)entries.size() : 10;
    for (int i = 0; i < rows; i++) {
        if (i == highlighted) fillRect(100, 50 + 28 * i, 500, 26, 0, 0, 255);
        text(entries[i], 100, 70 + 28 * i, 600, 0, 18, 255, 255, 255);
    }
    text(info[0], 70, 350, 500, 0, 14, 255, 255, 255);
    text("Linux kernel version:", 70, 380, 200, 0, 12, 255, 255, 255);
    text(info[1], 400, 380, 250, 2, 12, 0, 255, 0);
    text("Dreambox drivers version:", 70, 405, 200, 0, 12, 255, 255, 255);
    text(info[2], 400, 405, 250, 2, 12, 0, 255, 0);
    text("Dreambox secondstage version:", 70, 430, 300, 0, 12, 255, 255, 255);
    text(info[3], 400, 430, 250, 2, 12, 0, 255, 0);
}

std::string RefScreen::compare(const ScreenFrame &frame) const
{
    std::ostringstream why;
    if ((int)frame.width != width || (int)frame.height != height ||
        (int)frame.bitsPerPixel != bpp) {
        why << "frame is " << frame.width << "x" << frame.height << "x" << frame.bitsPerPixel
            << ", expected " << width << "x" << height << "x" << bpp;
        return why.str();
    }
    long differ = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint32_t got = frame.value(x, y), want = pixels[(size_t)y * width + x];
            if (got == want) continue;
            if (!differ++)
                why << "first difference at (" << x << "," << y << "): 0x" << std::hex << got
                    << " instead of 0x" << want << std::dec;
        }
    if (differ) why << "; " << differ << " pixels differ";
    return why.str();
}
