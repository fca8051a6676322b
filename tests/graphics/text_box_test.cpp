// Text on the emulated screen, compared with what FreeType itself renders
// for the same font, size and pen positions.
#include "box.h"
#include "draw.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <stdio.h>

#include <map>

namespace
{

// Glyphs straight from FreeType, without its cache: the same face, pixel
// size and one-bit rendering the menu asks the cache for.
class Typesetter
{
  public:
    Typesetter()
    {
        ok = FT_Init_FreeType(&library) == 0 &&
             FT_New_Face(library, testFontPath(), 0, &face) == 0 &&
             FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0;
        kerning = ok && FT_HAS_KERNING(face);
    }
    ~Typesetter()
    {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }

    struct Glyph {
        int left = 0, top = 0, width = 0, rows = 0, pitch = 0, advance = 0;
        std::vector<uint8_t> bits;
    };

    const Glyph &glyph(unsigned index, int size)
    {
        auto key = std::make_pair(index, size);
        auto found = glyphs.find(key);
        if (found != glyphs.end()) return found->second;
        Glyph g;
        FT_Set_Pixel_Sizes(face, size, size);
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_MONOCHROME) == 0) {
            FT_GlyphSlot slot = face->glyph;
            g.left = slot->bitmap_left;
            g.top = slot->bitmap_top;
            g.width = (int)slot->bitmap.width;
            g.rows = (int)slot->bitmap.rows;
            g.pitch = slot->bitmap.pitch;
            g.advance = (int)((slot->advance.x + 32) >> 6);
            g.bits.assign(slot->bitmap.buffer, slot->bitmap.buffer + (size_t)g.rows * g.pitch);
        }
        return glyphs[key] = g;
    }

    int kern(unsigned previous, unsigned index, int size)
    {
        if (!kerning) return 0;
        FT_Set_Pixel_Sizes(face, size, size);
        FT_Vector delta{0, 0};
        FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &delta);
        return (int)(delta.x >> 6);
    }

    unsigned index(unsigned char code) { return FT_Get_Char_Index(face, code); }

    static std::string missing(unsigned char code)
    {
        char text[128];
        snprintf(text, sizeof text,
                 "Glyphor <FT_Get_Char_Index for Char \"%c\" failed: \"undefined character "
                 "code\">\n",
                 code);
        return text;
    }

    // The width of a text, with the messages for characters the font lacks.
    int measure(const std::string &text, int size, std::string *messages)
    {
        int length = 0;
        unsigned previous = 0;
        for (unsigned char code : text) {
            unsigned i = index(code);
            if (!i) {
                *messages += missing(code);
                continue;
            }
            int k = kern(previous, i, size);
            if (kerning) previous = i;
            length += glyph(i, size).advance + k;
        }
        return length;
    }

    // Sets the pixels of a drawn text in on (width x height); returns the
    // messages printed on the way.
    std::string draw(const std::string &text, int x, int y, int maxWidth, int alignment, int size,
                     std::vector<bool> &on, int width, int height)
    {
        std::string messages;
        if (alignment != 0) {
            int length = measure(text, size, &messages);
            if (length < maxWidth && alignment == 1) x += (maxWidth - length) / 2;
            if (length < maxWidth && alignment == 2) x += maxWidth - length;
        }
        int limit = x + maxWidth;
        unsigned previous = 0;
        for (unsigned char code : text) {
            unsigned i = index(code);
            if (!i) {
                messages += missing(code);
                continue;
            }
            int k = kern(previous, i, size);
            if (kerning) previous = i;
            const Glyph &g = glyph(i, size);
            if (x + g.advance >= limit) break;
            for (int row = 0; row < g.rows; row++)
                for (int column = 0; column < g.width; column++) {
                    if (!(g.bits[(size_t)row * g.pitch + column / 8] & (0x80 >> (column % 8))))
                        continue;
                    int px = x + g.left + k + column, py = y - g.top + row;
                    if (px >= 0 && py >= 0 && px < width && py < height)
                        on[(size_t)py * width + px] = true;
                }
            x += g.advance + k;
        }
        return messages;
    }

    bool ok = false;
    bool kerning = false;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::map<std::pair<unsigned, int>, Glyph> glyphs;
};

struct TextCase {
    const char *name;
    std::string text;
    int x, y, maxWidth, alignment, size;
    int r, g, b;
};

// Byte strings for the driver's script.
std::string escaped(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c > 32 && c < 127 && c != '\\') {
            out += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::vector<TextCase> textCases(Typesetter &t)
{
    std::string none;
    int hello = t.measure("Boot menu", 18, &none);
    int ab = t.measure("A", 18, &none) + t.measure("B", 18, &none);
    return {
        {"left", "Hello, World", 40, 100, 600, 0, 18, 255, 255, 255},
        // An odd difference: the extra pixel goes to the right.
        {"centred_odd", "Boot menu", 41, 150, hello + 101, 1, 18, 255, 200, 0},
        {"right", "Flash", 100, 200, 500, 2, 18, 0, 255, 0},
        {"other_alignment_measures_and_starts_at_x", "Flash", 100, 200, 500, 7, 18, 0, 0, 255},
        // Too wide for its width: starts at x, ends before the limit.
        {"right_too_wide", "WWWWWWWWWWWWWWWWWWWW", 100, 250, 150, 2, 18, 255, 255, 255},
        {"centred_too_wide", "WWWWWWWWWWWWWWWWWWWW", 100, 250, 150, 1, 18, 255, 255, 255},
        // The second glyph would end exactly at the limit: not drawn.
        {"exact_limit", "AB", 300, 300, ab, 0, 18, 255, 255, 255},
        {"one_past_limit", "AB", 300, 300, ab + 1, 0, 18, 255, 255, 255},
        {"kerning", "AVATAYToLTP,", 20, 350, 680, 0, 18, 255, 255, 255},
        {"missing_glyph_left",
         "A\x01"
         "B",
         20, 400, 600, 0, 18, 255, 255, 255},
        {"missing_glyph_right",
         "A\x01"
         "B",
         20, 400, 600, 2, 18, 255, 255, 255},
        {"space", "A B  C", 20, 450, 600, 0, 18, 255, 255, 255},
        {"high_bytes", "\xe9\xc4\xf1\xdf\xb5\xa9\xff\x80", 20, 500, 600, 0, 18, 255, 255, 255},
        {"empty_centred", "", 20, 500, 600, 1, 18, 255, 255, 255},
        {"small_sizes", "Image 1.2.3", 20, 540, 600, 2, 12, 255, 255, 255},
        {"size_14", "Image 1.2.3", 20, 540, 600, 0, 14, 255, 255, 255},
        {"glyphs_past_the_screen", "Edge", 700, 10, 600, 0, 18, 255, 255, 255},
        {"colour_low_bytes", "Low", 20, 100, 600, 0, 18, 256 + 18, 512 + 52, -256 + 86},
    };
}

struct DepthCase {
    const char *name;
    std::string mode;
    int depth;
};

void PrintTo(const DepthCase &c, std::ostream *os)
{
    *os << c.name;
}

class Text : public ::testing::TestWithParam<DepthCase>
{
};

TEST_P(Text, EveryCaseMatchesFreeTypesOwnRendering)
{
    const DepthCase &d = GetParam();
    Typesetter t;
    ASSERT_TRUE(t.ok) << "cannot open " << testFontPath();
    ASSERT_TRUE(t.kerning) << "the test font has no kerning";
    std::vector<TextCase> cases = textCases(t);
    std::vector<std::string> script;
    std::string expected = "[Framebuffer] available.\n";
    for (const auto &c : cases) {
        char op[256];
        snprintf(op, sizeof op, "text %d %d %d %d %d %d %d %d ", c.x, c.y, c.maxWidth, c.alignment,
                 c.size, c.r, c.g, c.b);
        script.push_back("setmode 720 576 16");
        script.push_back(op + escaped(c.text));
        script.push_back("blit");
        std::vector<bool> on(720 * 576);
        expected += "@setmode 0\n" +
                    t.draw(c.text, c.x, c.y, c.maxWidth, c.alignment, c.size, on, 720, 576) +
                    "@blit 0\n";
    }
    GraphicsBox box;
    ScreenPolicy policy;
    policy.mode = d.mode;
    box.prepare(policy);
    DriverRun run = box.run(script);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);
    ASSERT_EQ(box.frames(), (int)cases.size());
    for (size_t n = 0; n < cases.size(); n++) {
        const TextCase &c = cases[n];
        std::vector<bool> on(720 * 576);
        std::string ignored =
            t.draw(c.text, c.x, c.y, c.maxWidth, c.alignment, c.size, on, 720, 576);
        uint32_t ink =
            fbConvertPixel((unsigned char)c.r, (unsigned char)c.g, (unsigned char)c.b, d.depth);
        std::vector<uint32_t> want;
        for (bool set : on)
            want.push_back(set ? ink : 0);
        ScreenFrame frame = box.frame((int)n + 1);
        ASSERT_EQ(frame.bitsPerPixel, (uint32_t)d.depth);
        EXPECT_EQ(screen_region_matches(frame, 0, 0, 720, 576, want), "") << c.name;
        bool anything = std::find(on.begin(), on.end(), true) != on.end();
        EXPECT_EQ(anything, c.text != "") << c.name << ": the expected rendering is empty";
    }
}

const DepthCase depthCases[] = {
    {"depth16", "accept", 16}, {"depth8", "720x576x8", 8}, {"depth32", "720x576x32", 32}};

INSTANTIATE_TEST_SUITE_P(Depths, Text, ::testing::ValuesIn(depthCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Text, AlignmentMovesTheSameRenderingAlong)
{
    // Alignment 2 draws exactly what alignment 0 draws from x + width - length.
    Typesetter t;
    std::string none;
    int length = t.measure("Quillon", 18, &none);
    GraphicsBox box;
    box.prepare(ScreenPolicy());
    DriverRun run =
        box.run({"setmode 720 576 16", "text 100 100 400 2 18 255 255 255 Quillon", "blit",
                 "setmode 720 576 16",
                 "text " + std::to_string(100 + 400 - length) + " 100 400 0 18 255 255 255 Quillon",
                 "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    ScreenFrame right = box.frame(1), left = box.frame(2);
    EXPECT_EQ(screen_regions_equal(right, 0, 0, left, 0, 0, 720, 576), "");
    EXPECT_NE(screen_region_is(right, 0, 80, 720, 30, 0), "") << "nothing was drawn";
}

TEST(Text, KerningFollowsTheSizeOfEachString)
{
    // The same kerned text at 36, at 12 and at 36 again: the third must
    // equal the first, although its glyphs now come from the cache.
    Typesetter t;
    const std::string text = "LTP,ToLTP,";
    ASSERT_NE(t.kern(t.index('L'), t.index('T'), 36), t.kern(t.index('L'), t.index('T'), 12));
    GraphicsBox box;
    box.prepare(ScreenPolicy());
    DriverRun run = box.run({"setmode 720 576 16", "text 20 100 680 0 36 255 255 255 " + text,
                             "blit", "setmode 720 576 16",
                             "text 20 100 680 0 12 255 255 255 " + text, "setmode 720 576 16",
                             "text 20 100 680 0 36 255 255 255 " + text, "blit", "len " + text});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string none;
    EXPECT_EQ(screen_regions_equal(box.frame(1), 0, 0, box.frame(2), 0, 0, 720, 576), "");
    EXPECT_NE(run.out.find("@len " + std::to_string(t.measure(text, 36, &none)) + "\n"),
              std::string::npos)
        << run.out;
}

TEST(Text, MeasuringAndSingleCharacters)
{
    Typesetter t;
    std::string none;
    int a = t.glyph(t.index('A'), 18).advance;
    int hello = t.measure("Hello", 18, &none);
    int missing = t.measure("A\x01"
                            "B",
                            18, &none);
    GraphicsBox box;
    box.prepare(ScreenPolicy());
    std::string limit = std::to_string(10 + a);
    DriverRun run = box.run({"setmode 720 576 16", "size 18", "len Hello", "len ", "len A\\x01B",
                             "char 65 10 100 -1 -1 0 0", "char 65 10 100 " + limit + " 255 255 255",
                             "char 65 10 100 " + std::to_string(10 + a + 1) + " 255 255 255",
                             "char 1 10 100 700 255 255 255", "blit"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[Framebuffer] available.\n@setmode 0\n@len " + std::to_string(hello) +
                           "\n@len 0\n" + Typesetter::missing(1) + "@len " +
                           std::to_string(missing) + "\n@char " + std::to_string(a) +
                           "\n@char -1\n@char " + std::to_string(a) + "\n" +
                           Typesetter::missing(1) + "@char 0\n@blit 0\n");
    // Only the one character that fitted was drawn.
    std::vector<bool> on(720 * 576);
    std::string ignored = t.draw("A", 10, 100, 700, 0, 18, on, 720, 576);
    std::vector<uint32_t> want;
    for (bool set : on)
        want.push_back(set ? 0xFFFF : 0);
    EXPECT_EQ(screen_region_matches(box.frame(1), 0, 0, 720, 576, want), "");
}

} // namespace
