// The framebuffer object whole, driven by fbdriver inside a box with the
// emulated framebuffer: construction, mode change, rectangles, pictures,
// colour maps, the console and objects that must stay inert.
#include "box.h"
#include "bootinit/paths.h"
#include "draw.h"
#include "testpng.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace
{

std::string errorText(int e)
{
    return strerror(e);
}

// The error FreeType gives for opening this font file on the host.
int fontOpenError(const std::string &path)
{
    FT_Library library;
    if (FT_Init_FreeType(&library)) return -1;
    FT_Face face = nullptr;
    int error = FT_New_Face(library, path.c_str(), 0, &face);
    if (!error) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return error;
}

std::string hex2(int code)
{
    char text[16];
    snprintf(text, sizeof text, "0x%.2X", code);
    return text;
}

bool allBytes(const std::vector<uint8_t> &bytes, size_t from, size_t to, uint8_t value)
{
    for (size_t i = from; i < to && i < bytes.size(); i++)
        if (bytes[i] != value) return false;
    return true;
}

size_t countLines(const std::vector<std::string> &log, const std::string &start)
{
    size_t n = 0;
    for (const auto &line : log)
        n += line.rfind(start, 0) == 0;
    return n;
}

// A whole frame of expected values, from a function of the position.
std::vector<uint32_t> wholeFrame(const ScreenFrame &f, const std::function<uint32_t(int, int)> &at)
{
    std::vector<uint32_t> v;
    for (uint32_t y = 0; y < f.height; y++)
        for (uint32_t x = 0; x < f.width; x++)
            v.push_back(at((int)x, (int)y));
    return v;
}

bool inside(int x, int y, int left, int top, int w, int h)
{
    return x >= left && x < left + w && y >= top && y < top + h;
}

// Drawing on an object that is not fully constructed.
const std::vector<std::string> drawingScript = {"setmode 720 576 16",
                                                "fill 0 0 720 576 255 255 255",
                                                "text 10 100 700 0 18 255 255 255 Hi",
                                                "char 65 10 200 700 255 255 255",
                                                "len AV",
                                                "raw /pic.rgb 64 64 0 0 0 0",
                                                "blit",
                                                "state"};

struct ConstructionCase {
    const char *name;
    std::function<void(ScreenPolicy &)> policy;
    bool font;        // install the font
    bool corruptFont; // install a file that is no font
    std::string out;  // construction output; "FONT" is worked out from the font error
    std::string err;
    bool available;
};

const std::string notAvailable = "[Framebuffer] <not available>\n";

const ConstructionCase constructionCases[] = {
    {"available", [](ScreenPolicy &) {}, true, false, "[Framebuffer] available.\n", "", true},
    {"no_device", [](ScreenPolicy &p) { p.fb0 = false; }, true, false, notAvailable,
     "/dev/fb0: " + errorText(ENOENT) + "\n", false},
    {"open_fails", [](ScreenPolicy &p) { p.failures = {"open EIO"}; }, true, false, notAvailable,
     "/dev/fb0: " + errorText(EIO) + "\n", false},
    {"mode_unreadable", [](ScreenPolicy &p) { p.failures = {"FBIOGET_VSCREENINFO"}; }, true, false,
     notAvailable, "FBIOGET_VSCREENINFO: " + errorText(EINVAL) + "\n", false},
    {"fixed_info_unreadable", [](ScreenPolicy &p) { p.failures = {"FBIOGET_FSCREENINFO"}; }, true,
     false, notAvailable, "[Framebuffer] <FBIOGET_FSCREENINFO>: " + errorText(EINVAL) + "\n",
     false},
    {"memory_shorter_than_reported",
     [](ScreenPolicy &p) {
         p.memory = 4096;
         p.smemLen = 720 * 576 * 4;
     },
     true, false, notAvailable, "mmap: " + errorText(EINVAL) + "\n", false},
    {"mapping_fails", [](ScreenPolicy &p) { p.failures = {"mmap ENOMEM"}; }, true, false,
     notAvailable, "mmap: " + errorText(ENOMEM) + "\n", false},
    {"font_missing", [](ScreenPolicy &) {}, false, false, "FONT", "", false},
    {"font_unreadable", [](ScreenPolicy &) {}, true, true, "FONT", "", false},
};

void PrintTo(const ConstructionCase &c, std::ostream *os)
{
    *os << c.name;
}

class Construction : public ::testing::TestWithParam<ConstructionCase>
{
};

TEST_P(Construction, ThreeEndStatesAndInertObjects)
{
    const ConstructionCase &c = GetParam();
    GraphicsBox box;
    ScreenPolicy policy;
    c.policy(policy);
    // Where the device fails no font is installed: a font set-up that ran
    // anyway would print its failure.
    box.prepare(policy, c.font && c.out != notAvailable);
    std::string expectOut = c.out;
    if (c.out == "FONT") {
        std::string host = box.root + "/notafont.ttf";
        if (c.corruptFont) {
            std::string garbage(5000, 'x');
            box.put(paths::menuFont, garbage);
            box.put("/notafont.ttf", garbage);
        }
        int error = fontOpenError(host);
        ASSERT_GT(error, 0);
        expectOut = " failed: " + errorText(error) +
                    "[FONT] <FTC_Manager_Lookup_Face failed with Errorcode " + hex2(error) + ">\n";
    }
    std::vector<uint8_t> picture = gradientRgb(64, 64, 1);
    box.put("/pic.rgb", std::string(picture.begin(), picture.end()));
    DriverRun run = box.run(drawingScript);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, c.err);
    std::vector<std::string> log = box.log();
    if (c.available) {
        EXPECT_EQ(run.out.substr(0, expectOut.size()), expectOut);
        EXPECT_EQ(countLines(log, "tty0 KDSETMODE KD_TEXT"), 1u);
        EXPECT_EQ(box.frames(), 1);
        return;
    }
    // Construction output, then every operation does nothing.
    EXPECT_EQ(run.out, expectOut + "@setmode -1\n@char 0\n@len 0\n@blit -1\n"
                                   "@state map 0 font 0 screen 0x0x0 line 0 pixels 0\n");
    EXPECT_EQ(countLines(log, "tty0"), 0u) << "the terminal was touched";
    EXPECT_EQ(countLines(log, "fb0 FBIOPUT"), 0u);
    EXPECT_EQ(countLines(log, "fb0 BLIT"), 0u);
    EXPECT_EQ(box.frames(), 0);
    std::vector<uint8_t> memory = screen_memory(box.root);
    EXPECT_TRUE(allBytes(memory, 0, memory.size(), 0)) << "the device memory was written";
}

INSTANTIATE_TEST_SUITE_P(States, Construction, ::testing::ValuesIn(constructionCases),
                         [](const auto &info) { return std::string(info.param.name); });

// SetMode against devices that set what was asked, something else, or pad
// their lines.
struct ModeCase {
    const char *name;
    std::string mode; // device policy
    uint32_t pad;
    uint32_t width, height, depth, line;
    bool mismatchMessage;
    size_t colourMapLoads; // by the one palette() of SetMode
};

const ModeCase modeCases[] = {
    {"accepted", "accept", 0, 720, 576, 16, 1440, false, 0},
    {"eight_bits_same_size", "720x576x8", 0, 720, 576, 8, 720, false, 2},
    {"all_three_differ", "640x480x8", 0, 640, 480, 8, 640, true, 2},
    {"only_depth_and_width_differ", "640x576x32", 0, 640, 576, 32, 2560, false, 0},
    {"fifteen_bits", "720x576x15", 0, 720, 576, 15, 1440, false, 0},
    {"padded_lines", "accept", 64, 720, 576, 16, 1504, false, 0},
};

void PrintTo(const ModeCase &c, std::ostream *os)
{
    *os << c.name;
}

class Mode : public ::testing::TestWithParam<ModeCase>
{
};

TEST_P(Mode, ClearsTheScreenAndUsesTheModeTheDeviceSet)
{
    const ModeCase &c = GetParam();
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = c.mode;
    policy.pad = c.pad;
    box.prepare(policy);
    // The device memory starts out all 0xFF: the clear must reach exactly
    // the visible lines.
    box.put("/dev/fb0", std::string(policy.memory, '\xFF'));
    DriverRun run = box.run({"setmode 720 576 16", "state", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string message = c.mismatchMessage
                              ? "[FB-SET] <SetMode failed: wanted: 720x576x16, got " +
                                    std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                                    std::to_string(c.depth) + ">\n"
                              : "";
    char state[160];
    snprintf(state, sizeof state, "@state map 1 font 1 screen %ux%ux%u line %u pixels %u\n",
             c.width, c.height, c.depth, c.line, c.line * 8 / c.depth);
    EXPECT_EQ(run.out,
              "[Framebuffer] available.\n" + message + "@setmode 0\n" + state + "@blit 0\n");
    EXPECT_EQ(run.err, "");

    std::vector<std::string> log = box.log();
    ASSERT_EQ(countLines(log, "fb0 FBIOPUT_VSCREENINFO 720x576x16 virtual 720x576 offset 0,0 "
                              "size 0x0mm"),
              1u);
    EXPECT_EQ(countLines(log, "fb0 FBIOPUTCMAP start 0 len 256 transp yes last 64260,64260,65025"),
              c.colourMapLoads);
    EXPECT_EQ(countLines(log, "fb0 UPDATE 1"), 1u);
    // The switch comes after the mode set, the blit after the switch.
    auto at = [&](const std::string &start) {
        for (size_t i = 0; i < log.size(); i++)
            if (log[i].rfind(start, 0) == 0) return i;
        return log.size();
    };
    EXPECT_LT(at("fb0 FBIOPUT_VSCREENINFO"), at("fb0 UPDATE 1"));
    EXPECT_LT(at("fb0 UPDATE 1"), at("fb0 BLIT"));

    std::vector<uint8_t> memory = screen_memory(box.root);
    size_t cleared = (size_t)c.line * c.height;
    EXPECT_TRUE(allBytes(memory, 0, cleared, 0)) << "visible lines not cleared";
    EXPECT_TRUE(allBytes(memory, cleared, memory.size(), 0xFF)) << "cleared past the screen";
    ScreenFrame frame = box.frame(1);
    EXPECT_EQ(frame.width, c.width);
    EXPECT_EQ(frame.height, c.height);
    EXPECT_EQ(frame.bitsPerPixel, c.depth);
    EXPECT_EQ(screen_region_is(frame, 0, 0, c.width, c.height, 0), "");
}

INSTANTIATE_TEST_SUITE_P(Devices, Mode, ::testing::ValuesIn(modeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Mode, RefusedModeLeavesEverythingAlone)
{
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = "refuse";
    box.prepare(policy);
    box.put("/dev/fb0", std::string(policy.memory, '\x5A'));
    DriverRun run = box.run({"setmode 720 576 16", "fill 0 0 10 10 255 255 255", "state"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "[FB-SET] <FBIOPUT_VSCREENINFO>: " + errorText(EINVAL) + "\n");
    EXPECT_EQ(run.out, "[Framebuffer] available.\n@setmode -1\n"
                       "@state map 1 font 1 screen 0x0x0 line 0 pixels 0\n");
    EXPECT_EQ(countLines(box.log(), "fb0 UPDATE"), 0u);
    EXPECT_EQ(countLines(box.log(), "fb0 FBIOPUTCMAP"), 0u);
    std::vector<uint8_t> memory = screen_memory(box.root);
    EXPECT_TRUE(allBytes(memory, 0, memory.size(), 0x5A)) << "screen touched";
}

TEST(Mode, DepthWithoutConversionEndsTheProgram)
{
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = "720x576x12";
    box.prepare(policy);
    DriverRun run = box.run({"setmode 720 576 16", "state"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Unsupported video mode! You've got: 12bpp\n");
    EXPECT_EQ(run.out, "[Framebuffer] available.\n");
    EXPECT_EQ(countLines(box.log(), "fb0 UPDATE"), 0u);
}

TEST(Mode, UnreadableLineLengthDrawsNothing)
{
    GraphicsBox box;
    ScreenPolicy policy;
    // Readable at construction, not in SetMode.
    policy.failures = {"FBIOGET_FSCREENINFO from 2"};
    box.prepare(policy);
    box.put("/dev/fb0", std::string(policy.memory, '\x11'));
    DriverRun run = box.run({"setmode 720 576 16", "fill 0 0 720 576 255 0 0",
                             "text 10 100 700 0 18 255 255 255 Hello", "state"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "[FB-SET] <FBIOGET_FSCREENINFO>: " + errorText(EINVAL) + "\n");
    EXPECT_EQ(run.out, "[Framebuffer] available.\n@setmode -1\n"
                       "@state map 1 font 1 screen 720x576x16 line 0 pixels 0\n");
    std::vector<uint8_t> memory = screen_memory(box.root);
    EXPECT_TRUE(allBytes(memory, 0, memory.size(), 0x11)) << "drawn without a line length";
}

struct FillCase {
    const char *name;
    std::string mode;
    uint32_t blue; // the stored value of pure blue in that depth
    uint32_t seen; // the colour a person sees for it
};

const FillCase fillCases[] = {
    {"depth16", "accept", 0x001F, 0x0000FF},
    {"depth15", "720x576x15", 0x001F, 0x0000FF},
    // The 3-3-2 map's top blue level is 65025 of 65535.
    {"depth8", "720x576x8", 0x03, 0x0000FE},
    {"depth32", "720x576x32", 0x0000FF, 0x0000FF},
};

void PrintTo(const FillCase &c, std::ostream *os)
{
    *os << c.name;
}

class Fill : public ::testing::TestWithParam<FillCase>
{
};

TEST_P(Fill, RectanglesLandWhereAskedAndAreCutAtTheEdges)
{
    const FillCase &c = GetParam();
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = c.mode;
    box.prepare(policy);
    DriverRun run = box.run(
        {"setmode 720 576 16", "fill 100 50 500 26 0 0 255", "fill 300 300 0 40 0 0 255",
         "fill 300 300 40 -1 0 0 255", "fill -10 -20 30 40 0 0 255", "fill 700 560 100 100 0 0 255",
         "fill 2000 300 5 5 0 0 255", "fill 100 -100 5 50 512 768 1279", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ScreenFrame frame = box.frame(1);
    ASSERT_EQ(frame.width, 720u);
    // Colour components count by their low 8 bits: 512, 768, 1279 is blue.
    std::vector<uint32_t> want = wholeFrame(frame, [&](int x, int y) {
        bool on = inside(x, y, 100, 50, 500, 26) || inside(x, y, 0, 0, 20, 20) ||
                  inside(x, y, 700, 560, 20, 16) || inside(x, y, 100, 0, 5, 0);
        return on ? c.blue : 0u;
    });
    EXPECT_EQ(screen_region_matches(frame, 0, 0, frame.width, frame.height, want), "");
    // What a person sees there is blue.
    EXPECT_EQ(frame.colour(100, 50), c.seen);
    EXPECT_EQ(frame.colour(599, 75), c.seen);
}

INSTANTIATE_TEST_SUITE_P(Depths, Fill, ::testing::ValuesIn(fillCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Fill, SmallDeviceMemoryIsNeverWrittenPast)
{
    // The device reports and maps only 100 lines of the 16-bit screen.
    GraphicsBox box;
    ScreenPolicy policy;
    policy.memory = 1440 * 100;
    box.prepare(policy);
    box.put("/dev/fb0", std::string(policy.memory, '\x77'));
    std::vector<uint8_t> picture = gradientRgb(720, 576, 2);
    box.put("/pic.rgb", std::string(picture.begin(), picture.end()));
    DriverRun run = box.run({"setmode 720 576 16", "fill 0 0 720 576 255 255 255",
                             "text 10 300 700 0 18 255 255 255 Hello", "fill 0 99 720 1 0 0 255",
                             "raw /pic.rgb 720 576 0 0 0 0", "blit"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // The picture copy needs a mapping of the whole screen, which the device
    // refuses (once for the palette's pixel, once for the picture).
    EXPECT_EQ(run.err, "mmap: " + errorText(EINVAL) + "\nmmap: " + errorText(EINVAL) + "\n");
    std::vector<uint8_t> memory = screen_memory(box.root);
    ASSERT_EQ(memory.size(), 1440u * 100);
    EXPECT_TRUE(allBytes(memory, 0, 1440 * 99, 0xFF));
    for (size_t i = 1440 * 99; i < memory.size(); i += 2)
        ASSERT_EQ(memory[i] | memory[i + 1] << 8, 0x001F) << i;
}

struct DisplayCase {
    const char *name;
    std::string mode;
    int width, height, panX, panY, offX, offY;
    int wantPanX, wantPanY, wantOffX, wantOffY; // where the picture must end up
};

const DisplayCase displayCases[] = {
    {"full_screen", "accept", 720, 576, 0, 0, 0, 0, 0, 0, 0, 0},
    {"larger_shows_top_left", "accept", 800, 600, 0, 0, 0, 0, 0, 0, 0, 0},
    {"pan_survives", "accept", 1000, 800, 280, 224, 0, 0, 280, 224, 0, 0},
    {"pan_resets", "accept", 1000, 800, 281, 225, 0, 0, 0, 0, 0, 0},
    {"offset_survives", "accept", 200, 100, 0, 0, 500, 476, 0, 0, 500, 476},
    {"offset_resets_to_left_edge", "accept", 200, 100, 0, 0, 600, 30, 0, 0, 0, 30},
    {"negative_values", "accept", 200, 100, -5, -5, -300, -2, 0, 0, 0, 0},
    {"eight_bits", "720x576x8", 200, 100, 0, 0, 500, 40, 0, 0, 500, 40},
    {"thirty_two_bits", "720x576x32", 1000, 800, 10, 20, 0, 0, 10, 20, 0, 0},
    {"padded_lines", "accept", 200, 100, 0, 0, 500, 40, 0, 0, 500, 40},
};

void PrintTo(const DisplayCase &c, std::ostream *os)
{
    *os << c.name;
}

class Display : public ::testing::TestWithParam<DisplayCase>
{
};

TEST_P(Display, PicturePlacementAndColourMapLoads)
{
    const DisplayCase &c = GetParam();
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = c.mode;
    if (std::string(c.name) == "padded_lines") policy.pad = 32;
    box.prepare(policy);
    std::vector<uint8_t> picture = gradientRgb(c.width, c.height, 3);
    box.put("/pic.rgb", std::string(picture.begin(), picture.end()));
    char show[160];
    snprintf(show, sizeof show, "raw /pic.rgb %d %d %d %d %d %d", c.width, c.height, c.panX, c.panY,
             c.offX, c.offY);
    // A red background shows what the picture leaves as it was.
    DriverRun run = box.run({"setmode 720 576 16", "fill 0 0 720 576 255 0 0", show, "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ScreenFrame frame = box.frame(1);
    int depth = (int)frame.bitsPerPixel;
    // With padded lines the screen is as wide as a whole line.
    int screenW = (int)(frame.lineLength * 8 / depth), screenH = (int)frame.height;
    int w = std::min(c.width - c.wantPanX, screenW - c.wantOffX);
    int h = std::min(c.height - c.wantPanY, screenH - c.wantOffY);
    std::vector<uint32_t> want = wholeFrame(frame, [&](int x, int y) {
        if (!inside(x, y, c.wantOffX, c.wantOffY, w, h)) return fbConvertPixel(255, 0, 0, depth);
        const uint8_t *p = &picture[(((size_t)(y - c.wantOffY + c.wantPanY)) * c.width +
                                     (x - c.wantOffX + c.wantPanX)) *
                                    3];
        return fbConvertPixel(p[0], p[1], p[2], depth);
    });
    EXPECT_EQ(screen_region_matches(frame, 0, 0, frame.width, frame.height, want), "");
    // One-byte modes load the colour map twice per copy (palette's and the
    // picture's); others never.
    EXPECT_EQ(countLines(box.log(), "fb0 FBIOPUTCMAP"), depth == 8 ? 4u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Placements, Display, ::testing::ValuesIn(displayCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Display, PngThroughTheReaderOnTheScreen)
{
    GraphicsBox box;
    box.prepare(ScreenPolicy());
    TestPicture p = testPattern(300, 200, 6, 16, true, 4);
    ASSERT_TRUE(writeTestPng(box.root + "/bg.png", p));
    DriverRun run = box.run({"setmode 720 576 16", "png /bg.png 0 0 100 50", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[Framebuffer] available.\n@setmode 0\n@png id 1 size 0 300x200 load 0\n"
                       "@blit 0\n");
    ScreenFrame frame = box.frame(1);
    std::vector<uint8_t> rgb = expectedRgb(p);
    std::vector<uint32_t> want = wholeFrame(frame, [&](int x, int y) {
        if (!inside(x, y, 100, 50, 300, 200)) return 0u;
        const uint8_t *px = &rgb[((size_t)(y - 50) * 300 + (x - 100)) * 3];
        return fbConvertPixel(px[0], px[1], px[2], 16);
    });
    EXPECT_EQ(screen_region_matches(frame, 0, 0, 720, 576, want), "");
}

TEST(Display, FailedTemporaryMappingChangesNothing)
{
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = "720x576x8";
    // The construction's and SetMode's mappings work, the picture's does not.
    policy.failures = {"mmap ENOMEM from 3"};
    box.prepare(policy);
    std::vector<uint8_t> picture = gradientRgb(100, 100, 5);
    box.put("/pic.rgb", std::string(picture.begin(), picture.end()));
    DriverRun run = box.run(
        {"setmode 720 576 16", "fill 0 0 720 576 0 255 0", "raw /pic.rgb 100 100 0 0 0 0", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "mmap: " + errorText(ENOMEM) + "\n");
    EXPECT_EQ(screen_region_is(box.frame(1), 0, 0, 720, 576, 0x1C), "");
    EXPECT_EQ(countLines(box.log(), "fb0 FBIOPUTCMAP"), 2u) << "only the palette's loads";
}

TEST(Device, KeepsItsModeAndColourMapForTheNextProgram)
{
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = "720x576x8";
    box.prepare(policy);
    DriverRun first = box.run({"setmode 720 576 16", "fill 0 0 100 100 0 255 0", "blit"});
    ASSERT_EQ(first.status, 0) << first.err;
    // The next program finds the 8-bit mode, the picture and the 3-3-2 map
    // in place: a blit without a mode change shows the same frame.
    DriverRun second = box.run({"state", "blit"});
    ASSERT_EQ(second.status, 0) << second.err;
    std::vector<std::string> reads = box.log("fb0 FBIOGET_VSCREENINFO");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0], "fb0 FBIOGET_VSCREENINFO -> 720x576x32 virtual 720x576 offset 0,0");
    EXPECT_EQ(reads[1], "fb0 FBIOGET_VSCREENINFO -> 720x576x8 virtual 720x576 offset 0,0");
    EXPECT_EQ(second.out, "[Framebuffer] available.\n"
                          "@state map 1 font 1 screen 0x0x0 line 0 pixels 0\n@blit 0\n");
    ASSERT_EQ(box.frames(), 2);
    ScreenFrame before = box.frame(1), after = box.frame(2);
    EXPECT_EQ(after.bitsPerPixel, 8u);
    EXPECT_EQ(screen_regions_equal(after, 0, 0, before, 0, 0, 720, 576), "");
    EXPECT_EQ(after.rgb, before.rgb);
    EXPECT_EQ(after.colour(50, 50), 0x00FB00u);
}

TEST(Device, EightBitFramesShowTheLoadedColourMap)
{
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = "720x576x8";
    box.prepare(policy);
    DriverRun run = box.run({"setmode 720 576 16", "fill 0 0 100 100 0 255 0",
                             "fill 100 0 100 100 255 255 255", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    ScreenFrame frame = box.frame(1);
    // Green 0x1C has only green 64260; white 0xFF is 64260, 64260, 65025.
    EXPECT_EQ(frame.colour(50, 50), 0x00FB00u);
    EXPECT_EQ(frame.colour(150, 50), 0xFBFBFEu);
    EXPECT_EQ(frame.colour(250, 50), 0u);
}

struct ConsoleCase {
    const char *name;
    std::function<void(ScreenPolicy &)> policy;
    std::string script;
    std::string log; // the terminal's last log line, empty: none
    std::string err;
};

const ConsoleCase consoleCases[] = {
    {"graphics", [](ScreenPolicy &) {}, "console 0", "tty0 KDSETMODE KD_GRAPHICS", ""},
    {"text", [](ScreenPolicy &) {}, "console 1", "tty0 KDSETMODE KD_TEXT", ""},
    {"refused", [](ScreenPolicy &p) { p.failures = {"KDSETMODE from 2"}; }, "console 0",
     "tty0 KDSETMODE KD_GRAPHICS -> failed: " + errorText(EINVAL),
     "[CONSOLE] <setting /dev/tty0 status failed>: " + errorText(EINVAL) + "\n"},
    {"no_terminal", [](ScreenPolicy &p) { p.tty0 = false; }, "console 0", "", ""},
};

void PrintTo(const ConsoleCase &c, std::ostream *os)
{
    *os << c.name;
}

class Console : public ::testing::TestWithParam<ConsoleCase>
{
};

TEST_P(Console, DisplayModeOfTheTerminal)
{
    const ConsoleCase &c = GetParam();
    GraphicsBox box;
    ScreenPolicy policy;
    c.policy(policy);
    box.prepare(policy);
    DriverRun run = box.run({c.script});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[Framebuffer] available.\n@console 0\n");
    EXPECT_EQ(run.err, c.err);
    std::vector<std::string> modes = box.log("tty0 KDSETMODE");
    if (c.log.empty()) {
        EXPECT_TRUE(modes.empty());
    } else {
        ASSERT_EQ(modes.size(), 2u) << "construction's and the script's";
        EXPECT_EQ(modes[0], "tty0 KDSETMODE KD_TEXT");
        EXPECT_EQ(modes[1], c.log);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Console, ::testing::ValuesIn(consoleCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
