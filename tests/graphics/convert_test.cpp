// The pure pieces of drawing: conversion per depth, the 3-3-2 colour map and
// the clipping and placement decisions.
#include "draw.h"
#include "framebuffer/fb.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/ioctl.h>
#include <string.h>

namespace
{

struct ConvertCase {
    int depth;
    int bytes;
    uint32_t white, red, green, blue, mixed; // mixed: 0x12 0x34 0x56
};

const ConvertCase convertCases[] = {
    {8, 1, 0xFF, 0xE0, 0x1C, 0x03, (0x12 & 0xE0) | ((0x34 >> 5) << 2) | (0x56 >> 6)},
    {15, 2, 0x7FFF, 0x7C00, 0x03E0, 0x001F, ((0x12 >> 3) << 10) | ((0x34 >> 3) << 5) | (0x56 >> 3)},
    {16, 2, 0xFFFF, 0xF800, 0x07E0, 0x001F, ((0x12 >> 3) << 11) | ((0x34 >> 2) << 5) | (0x56 >> 3)},
    {24, 4, 0x00FFFFFF, 0x00FF0000, 0x0000FF00, 0x000000FF, 0x00123456},
    {32, 4, 0x00FFFFFF, 0x00FF0000, 0x0000FF00, 0x000000FF, 0x00123456},
};

class Convert : public ::testing::TestWithParam<ConvertCase>
{
};

uint32_t wordAt(const unsigned char *p, int bytes)
{
    if (bytes == 1) return *p;
    if (bytes == 2) {
        uint16_t v;
        memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

TEST_P(Convert, ColoursInTheDepthsFormat)
{
    const ConvertCase &c = GetParam();
    unsigned char rgb[] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0x12, 0x34, 0x56};
    uint32_t want[] = {c.white, c.red, c.green, c.blue, c.mixed};
    int bytes = -1;
    unsigned char *out = convertRGB2FB(-1, rgb, 5, c.depth, &bytes);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(bytes, c.bytes);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(wordAt(out + i * bytes, bytes), want[i]) << "pixel " << i;
    free(out);

    // No pixels: nothing converted, the size still reported.
    bytes = -1;
    out = convertRGB2FB(-1, rgb, 0, c.depth, &bytes);
    EXPECT_EQ(bytes, c.bytes);
    free(out);
}

INSTANTIATE_TEST_SUITE_P(Depths, Convert, ::testing::ValuesIn(convertCases),
                         [](const auto &info) { return std::to_string(info.param.depth); });

TEST(Convert, UnsupportedDepthEndsTheProgram)
{
    for (int depth : {12, 0, 1, 4, 17, 31, 33}) {
        unsigned char rgb[3] = {1, 2, 3};
        int bytes = 0;
        std::string message =
            "Unsupported video mode! You've got: " + std::to_string(depth) + "bpp\n";
        EXPECT_EXIT(convertRGB2FB(-1, rgb, 1, depth, &bytes), ::testing::ExitedWithCode(1),
                    "^" + message + "$")
            << depth;
    }
}

TEST(Colourmap, ThreeThreeTwoLevels)
{
    uint16_t r[256], g[256], b[256];
    fbMake332(r, g, b);
    const uint16_t redLevels[] = {0, 9180, 18360, 27540, 36720, 45900, 55080, 64260};
    const uint16_t blueLevels[] = {0, 21675, 43350, 65025};
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(r[i], redLevels[i >> 5]) << i;
        ASSERT_EQ(g[i], redLevels[(i >> 2) & 7]) << i;
        ASSERT_EQ(b[i], blueLevels[i & 3]) << i;
    }
    EXPECT_EQ(r[255], 64260);
    EXPECT_EQ(g[255], 64260);
    EXPECT_EQ(b[255], 65025);
    EXPECT_EQ(r[0] | g[0] | b[0], 0);
    EXPECT_EQ(r[0x1C], 0);
    EXPECT_EQ(g[0x1C], 64260);
    EXPECT_EQ(b[0x1C], 0);
    // Every 8-bit pixel of a pure colour shows that colour's top level.
    unsigned char green[3] = {0, 255, 0};
    int bytes;
    unsigned char *px = convertRGB2FB(-1, green, 1, 8, &bytes);
    EXPECT_EQ(g[*px], 64260);
    free(px);
}

// Rectangles are cut to the visible screen and the mapping.
struct RectCase {
    const char *name;
    FbGeometry geometry;
    int64_t x, y, w, h;
    FbArea want;
};

FbGeometry geometry(uint32_t w, uint32_t h, uint32_t line, uint32_t map, int bytes)
{
    FbGeometry g;
    g.width = w;
    g.height = h;
    g.lineLength = line;
    g.mapLength = map;
    g.bytesPerPixel = bytes;
    return g;
}

FbArea area(int64_t l, int64_t t, int64_t w, int64_t h)
{
    FbArea a;
    a.left = l;
    a.top = t;
    a.width = w;
    a.height = h;
    return a;
}

const FbGeometry menu = geometry(720, 576, 1440, 720 * 576 * 2, 2);

const RectCase rectCases[] = {
    {"inside", menu, 100, 50, 500, 26, area(100, 50, 500, 26)},
    {"zero_width", menu, 100, 50, 0, 26, area(0, 0, 0, 0)},
    {"negative_height", menu, 100, 50, 10, -3, area(0, 0, 0, 0)},
    {"past_right_and_bottom", menu, 700, 570, 100, 100, area(700, 570, 20, 6)},
    {"negative_corner", menu, -10, -20, 30, 30, area(0, 0, 20, 10)},
    {"wholly_outside", menu, 720, 0, 10, 10, area(0, 0, 0, 0)},
    {"huge", menu, -2147483647LL, -2147483647LL, 4294967294LL, 4294967294LL, area(0, 0, 720, 576)},
    {"padding_not_drawn", geometry(720, 576, 1600, 1600 * 576, 2), 0, 0, 800, 1,
     area(0, 0, 720, 1)},
    {"line_shorter_than_width", geometry(720, 576, 1000, 1000 * 576, 2), 0, 0, 720, 1,
     area(0, 0, 500, 1)},
    {"small_mapping", geometry(720, 576, 1440, 1440 * 10 + 100, 2), 0, 0, 720, 576,
     area(0, 0, 720, 10)},
    {"small_mapping_narrow", geometry(720, 576, 1440, 1440 * 10 + 100, 2), 0, 0, 50, 576,
     area(0, 0, 50, 11)},
    {"no_mode_yet", geometry(0, 0, 0, 829440, 2), 0, 0, 10, 10, area(0, 0, 0, 0)},
};

class ClipRect : public ::testing::TestWithParam<RectCase>
{
};

TEST_P(ClipRect, StaysInsideScreenAndMapping)
{
    const RectCase &c = GetParam();
    FbArea a = fbClipRect(c.geometry, c.x, c.y, c.w, c.h);
    if (c.want.width == 0) {
        EXPECT_TRUE(a.width == 0 || a.height == 0);
        return;
    }
    EXPECT_EQ(a.left, c.want.left);
    EXPECT_EQ(a.top, c.want.top);
    EXPECT_EQ(a.width, c.want.width);
    EXPECT_EQ(a.height, c.want.height);
    // The last byte written lies inside the mapping.
    int64_t last = (a.top + a.height - 1) * c.geometry.lineLength +
                   (a.left + a.width) * c.geometry.bytesPerPixel;
    EXPECT_LE(last, c.geometry.mapLength);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClipRect, ::testing::ValuesIn(rectCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ClipPixel, OffsetsOnlyInsideScreenAndMapping)
{
    const FbGeometry small = geometry(720, 576, 1440, 1440 * 2 + 4, 2);
    const struct {
        FbGeometry g;
        int64_t x, y, want;
    } cases[] = {
        {menu, 0, 0, 0},
        {menu, 719, 575, 575 * 1440 + 719 * 2},
        {menu, 720, 0, -1},
        {menu, 0, 576, -1},
        {menu, -1, 0, -1},
        {menu, 0, -1, -1},
        {small, 1, 2, 1440 * 2 + 2},
        {small, 2, 2, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fbPixelOffset(c.g, c.x, c.y), c.want) << c.x << "," << c.y;
}

TEST(ClearLength, BoundedByTheMapping)
{
    EXPECT_EQ(fbClearLength(1440, 576, 829440), 829440u);
    EXPECT_EQ(fbClearLength(1500, 576, 829440), 829440u);
    EXPECT_EQ(fbClearLength(1440, 100, 829440), 144000u);
    EXPECT_EQ(fbClearLength(0xFFFFFFFF, 0xFFFFFFFF, 1000), 1000u);
}

struct PlaceCase {
    int w, h, scrW, scrH, panX, panY, offX, offY;
    FbPlacement want;
};

FbPlacement place(int px, int py, int ox, int oy)
{
    FbPlacement p;
    p.panX = px;
    p.panY = py;
    p.offX = ox;
    p.offY = oy;
    return p;
}

TEST(PlacePicture, PansAndOffsetsSurviveOnlyWhenTheyFit)
{
    const PlaceCase cases[] = {
        {720, 576, 720, 576, 0, 0, 0, 0, place(0, 0, 0, 0)},
        // An offset survives while the whole picture fits after it.
        {200, 100, 720, 576, 0, 0, 600, 10, place(0, 0, 0, 10)},
        {200, 100, 720, 576, 0, 0, 500, 476, place(0, 0, 500, 476)},
        {200, 100, 720, 576, 0, 0, 520, 477, place(0, 0, 520, 0)},
        // A pan survives while a whole screen of picture remains after it.
        {1000, 800, 720, 576, 280, 224, 0, 0, place(280, 224, 0, 0)},
        {1000, 800, 720, 576, 281, 225, 0, 0, place(0, 0, 0, 0)},
        // A picture narrower than the screen is shown from its first column.
        {200, 100, 720, 576, 5, 5, 0, 0, place(0, 0, 0, 0)},
        // Negative values count as 0.
        {1000, 800, 720, 576, -5, -1, -3, -2, place(0, 0, 0, 0)},
        // No overflow near the ends of int.
        {2147483647, 10, 720, 576, 0, 0, 2147483647, 0, place(0, 0, 0, 0)},
    };
    for (const auto &c : cases) {
        FbPlacement p = fbPlacePicture(c.w, c.h, c.scrW, c.scrH, c.panX, c.panY, c.offX, c.offY);
        EXPECT_EQ(p.panX, c.want.panX) << c.w << "x" << c.h << " pan " << c.panX;
        EXPECT_EQ(p.panY, c.want.panY) << c.w << "x" << c.h << " pan " << c.panY;
        EXPECT_EQ(p.offX, c.want.offX) << c.w << "x" << c.h << " off " << c.offX;
        EXPECT_EQ(p.offY, c.want.offY) << c.w << "x" << c.h << " off " << c.offY;
    }
}

TEST(ClipCopy, NeitherPictureNorScreenIsLeft)
{
    const struct {
        unsigned picW, picH, scrW, scrH, panX, panY, offX, offY, columns, lines;
    } cases[] = {
        {720, 576, 720, 576, 0, 0, 0, 0, 720, 576},
        {1000, 800, 720, 576, 0, 0, 0, 0, 720, 576},
        {1000, 800, 720, 576, 280, 224, 0, 0, 720, 576},
        {200, 100, 720, 576, 0, 0, 500, 10, 200, 100},
        {1, 1, 720, 576, 0, 0, 0, 0, 1, 1},
        // Pans and offsets that do not fit are cut, never followed outside.
        {1000, 800, 720, 576, 500, 700, 0, 0, 500, 100},
        {200, 100, 720, 576, 0, 0, 600, 500, 120, 76},
        {200, 100, 720, 576, 0, 0, 720, 0, 0, 100},
        {200, 100, 720, 576, 300, 0, 0, 0, 0, 100},
    };
    for (const auto &c : cases) {
        FbCopy copy = fbClipCopy(c.picW, c.picH, c.scrW, c.scrH, c.panX, c.panY, c.offX, c.offY);
        EXPECT_EQ(copy.columns, c.columns) << c.picW << " pan " << c.panX << " off " << c.offX;
        EXPECT_EQ(copy.lines, c.lines) << c.picH << " pan " << c.panY << " off " << c.offY;
    }
}

TEST(Requests, PrivateRequestsAreEncodedByThePlatformsRules)
{
    // Write, type 'F', number 0x21, a one-byte argument; then 0x22 without one.
    EXPECT_EQ(_IOC_DIR(fbUpdateSwitchRequest), (unsigned)_IOC_WRITE);
    EXPECT_EQ(_IOC_TYPE(fbUpdateSwitchRequest), (unsigned)'F');
    EXPECT_EQ(_IOC_NR(fbUpdateSwitchRequest), 0x21u);
    EXPECT_EQ(_IOC_SIZE(fbUpdateSwitchRequest), 1u);
    EXPECT_EQ(_IOC_DIR(fbBlitRequest), (unsigned)_IOC_NONE);
    EXPECT_EQ(_IOC_TYPE(fbBlitRequest), (unsigned)'F');
    EXPECT_EQ(_IOC_NR(fbBlitRequest), 0x22u);
    EXPECT_EQ(_IOC_SIZE(fbBlitRequest), 0u);
}

} // namespace
