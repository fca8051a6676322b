// The PNG reader against pictures written with libpng's writer: every colour
// type and depth decodes to the packed RGB its samples stand for.
#include "picture/png.h"
#include "testpng.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace
{

class TempDir
{
  public:
    TempDir()
    {
        char tmpl[] = "/tmp/pngtest.XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string &name) const { return dir + "/" + name; }
    std::string dir;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Kind {
    int colorType;
    int bitDepth;
};

std::string kindName(const Kind &k)
{
    return "type" + std::to_string(k.colorType) + "_depth" + std::to_string(k.bitDepth);
}

// Every colour type with every depth PNG allows for it.
std::vector<Kind> allKinds()
{
    std::vector<Kind> kinds;
    for (int depth : {1, 2, 4, 8, 16})
        kinds.push_back({0, depth});
    for (int depth : {8, 16})
        kinds.push_back({2, depth});
    for (int depth : {1, 2, 4, 8})
        kinds.push_back({3, depth});
    for (int depth : {8, 16})
        kinds.push_back({4, depth});
    for (int depth : {8, 16})
        kinds.push_back({6, depth});
    return kinds;
}

class Decode : public ::testing::TestWithParam<Kind>
{
  protected:
    TempDir temp;
};

std::vector<uint8_t> load(const std::string &file, int *code)
{
    int w = 0, h = 0;
    EXPECT_EQ(fh_png_getsize(file.c_str(), &w, &h, INT_MAX, INT_MAX), 0);
    std::vector<uint8_t> rgb((size_t)w * h * 3, 0xAA);
    *code = fh_png_load(file.c_str(), rgb.data(), w, h);
    return rgb;
}

TEST_P(Decode, PackedRgbEqualsTheSamplesAndInterlacingChangesNothing)
{
    const Kind k = GetParam();
    // Odd sizes, so that the last byte of a row of small samples is partial
    // and every interlace pass has work.
    TestPicture plain = testPattern(37, 23, k.colorType, k.bitDepth, false, 5);
    TestPicture laced = plain;
    laced.interlaced = true;
    ASSERT_TRUE(writeTestPng(temp.path("plain.png"), plain));
    ASSERT_TRUE(writeTestPng(temp.path("laced.png"), laced));

    int w = 0, h = 0;
    ASSERT_EQ(fh_png_getsize(temp.path("plain.png").c_str(), &w, &h, INT_MAX, INT_MAX), 0);
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 23);

    int code = -1;
    std::vector<uint8_t> fromPlain = load(temp.path("plain.png"), &code);
    ASSERT_EQ(code, 0);
    std::vector<uint8_t> fromLaced = load(temp.path("laced.png"), &code);
    ASSERT_EQ(code, 0);
    std::vector<uint8_t> want = expectedRgb(plain);
    EXPECT_EQ(fromPlain, want);
    EXPECT_EQ(fromLaced, fromPlain);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, Decode, ::testing::ValuesIn(allKinds()),
                         [](const auto &info) { return kindName(info.param); });

TEST(Decode, TransparentPaletteEntriesComeOutBlack)
{
    TempDir temp;
    TestPicture p;
    p.width = 4;
    p.height = 1;
    p.colorType = 3;
    p.bitDepth = 8;
    p.palette = {255, 255, 255, 10, 200, 30, 255, 0, 0, 1, 2, 3};
    p.alpha = {0, 255, 0}; // entry 3 has no alpha entry: opaque
    p.samples = {0, 1, 2, 3};
    ASSERT_TRUE(writeTestPng(temp.path("t.png"), p));
    int code = -1;
    std::vector<uint8_t> rgb = load(temp.path("t.png"), &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 0, 10, 200, 30, 0, 0, 0, 1, 2, 3}));
}

TEST(Identify, SignatureInTheSecondToFourthByte)
{
    TempDir temp;
    const struct {
        std::string bytes;
        int want;
    } cases[] = {
        {"\x89PNG\r\n\x1a\n", 1}, {"xPNG", 1}, {"PNG", 0},    {"", 0},
        {"\x89PNg", 0},           {"PNGx", 0}, {"GIF89a", 0},
    };
    for (const auto &c : cases) {
        spit(temp.path("f"), c.bytes);
        EXPECT_EQ(fh_png_id(temp.path("f").c_str()), c.want) << c.bytes;
    }
    EXPECT_EQ(fh_png_id(temp.path("missing").c_str()), 0);
}

TEST(Failures, CodesForMissingForeignCutAndCorruptFiles)
{
    TempDir temp;
    TestPicture good = testPattern(64, 64, 2, 8, false, 9);
    ASSERT_TRUE(writeTestPng(temp.path("good.png"), good));
    std::string bytes = slurp(temp.path("good.png"));
    ASSERT_GT(bytes.size(), 200u);
    spit(temp.path("text.png"), "this is not a picture at all\n");
    spit(temp.path("empty.png"), "");
    spit(temp.path("header.png"), bytes.substr(0, 40));            // inside the header chunk
    spit(temp.path("cut.png"), bytes.substr(0, bytes.size() / 2)); // inside the image data
    std::string corrupt = bytes;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; i++)
        corrupt[i] ^= 0x5A;
    spit(temp.path("corrupt.png"), corrupt);

    const struct {
        const char *name;
        int size, load;
    } cases[] = {
        {"missing.png", 1, 1}, {"text.png", 2, 2}, {"empty.png", 2, 2},
        {"header.png", 2, 2},  {"cut.png", 0, 2},  {"corrupt.png", 0, 2},
    };
    for (const auto &c : cases) {
        std::string file = temp.path(c.name);
        int w = -7, h = -7;
        EXPECT_EQ(fh_png_getsize(file.c_str(), &w, &h, INT_MAX, INT_MAX), c.size) << c.name;
        if (c.size != 0) {
            // Out-parameters untouched on failure.
            EXPECT_EQ(w, -7) << c.name;
            EXPECT_EQ(h, -7) << c.name;
        }
        std::vector<uint8_t> buffer(64 * 64 * 3);
        EXPECT_EQ(fh_png_load(file.c_str(), buffer.data(), 64, 64), c.load) << c.name;
    }
}

TEST(Failures, LoadRefusesASizeOtherThanTheFiles)
{
    TempDir temp;
    TestPicture p = testPattern(40, 30, 2, 8, false, 3);
    ASSERT_TRUE(writeTestPng(temp.path("p.png"), p));
    const std::string file = temp.path("p.png");
    // The buffer is guarded on both sides; nothing may be written to it.
    const struct {
        int w, h;
    } sizes[] = {{10, 10}, {40, 29}, {39, 30}, {41, 30}, {0, 0}, {-40, -30}, {30, 40}};
    for (const auto &s : sizes) {
        std::vector<uint8_t> buffer(40 * 30 * 3 + 64, 0xAA);
        EXPECT_EQ(fh_png_load(file.c_str(), buffer.data() + 32, s.w, s.h), 2) << s.w << "x" << s.h;
        EXPECT_EQ(buffer, std::vector<uint8_t>(40 * 30 * 3 + 64, 0xAA)) << s.w << "x" << s.h;
    }
    std::vector<uint8_t> buffer(40 * 30 * 3);
    EXPECT_EQ(fh_png_load(file.c_str(), buffer.data(), 40, 30), 0);
    EXPECT_EQ(buffer, expectedRgb(p));
}

TEST(Failures, PictureSizesBeyondMemoryCannotBeLoaded)
{
    // The packed size of a picture, or 0 when no buffer can hold it.
    const struct {
        int w, h;
        uint64_t bytes;
    } cases[] = {
        {720, 576, 720 * 576 * 3},
        {1, 1, 3},
        {0, 5, 0},
        {-1, 5, 0},
        {INT_MAX, INT_MAX, 0},
        {65536, 65536, sizeof(size_t) > 4 ? 65536ull * 65536 * 3 : 0},
        {1 << 20, 1 << 20, sizeof(size_t) > 4 ? (1ull << 40) * 3 : 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fh_png_bytes(c.w, c.h), c.bytes) << c.w << "x" << c.h;
}

} // namespace
