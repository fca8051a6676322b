// The menu's screens as whole frames: the real program's frames, saved by
// the emulated framebuffer at each blit, against the screen the layout
// describes, drawn by the test from the picture, the bar and the real font.
#include "backdrop.h"
#include "bootinit/paths.h"
#include "menubox.h"
#include "refscreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace
{

const char *const fontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

const std::string na = "[ n/a ]";

const std::string fullStatus = "Package: busybox\nVersion: 1.1\n\n"
                               "Package: kernel-image\nVersion: 2.6.18-7.1\n\n"
                               "Package: dreambox-dvb-modules\nVersion: 20090424\n\n"
                               "Package: dreambox-secondstage\nVersion: 84\n";

struct ScreenCase {
    const char *what;
    int bpp;
    std::function<void(MenuBox &)> setup;
    const char *keys;
    int frame; // frame compared: 1 the first drawing, 2 the next
    std::function<int(const std::vector<std::string> &)> highlighted;
    std::vector<std::string> info;
    bool picture = true;
};

void PrintTo(const ScreenCase &c, std::ostream *os)
{
    *os << c.what;
}

class Screens : public ::testing::TestWithParam<ScreenCase>
{
};

TEST_P(Screens, FramesHoldWhatTheLayoutPlaces)
{
    const ScreenCase &c = GetParam();
    MenuBox box;
    ScreenPolicy policy;
    if (c.bpp != 16) policy.mode = "720x576x" + std::to_string(c.bpp);
    box.screen(policy);
    c.setup(box);
    if (c.keys) box.keys(c.keys);
    MenuRun run = box.run();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.find("[FB-SET]"), std::string::npos) << run.out;

    std::vector<std::string> entries = box.entries();
    RefScreen want(720, 576, c.bpp, fontFile);
    ASSERT_TRUE(want.fontReady());
    if (c.picture) want.picture(backdrop_pixels(720, 576), 720, 576);
    want.menu(entries, c.highlighted(entries), c.info);

    ScreenFrame frame;
    std::string error;
    ASSERT_TRUE(screen_read_frame(box.root, c.frame, &frame, &error)) << error;
    EXPECT_EQ(want.compare(frame), "");

    // The last frame is the blank one of the completion.
    int last = screen_frame_count(box.root);
    ASSERT_GT(last, c.frame);
    ScreenFrame blank;
    ASSERT_TRUE(screen_read_frame(box.root, last, &blank, &error)) << error;
    RefScreen black(720, 576, c.bpp, fontFile);
    EXPECT_EQ(black.compare(blank), "");
}

auto index(const std::string &name)
{
    return [name](const std::vector<std::string> &e) {
        return (int)(std::find(e.begin(), e.end(), name) - e.begin());
    };
}

auto row(int i)
{
    return [i](const std::vector<std::string> &) { return i; };
}

void standard(MenuBox &box)
{
    box.images({"a", "b", "image two"});
    box.write(MenuBox::selectionPath, "b\n");
    box.write(paths::versionFile, "2.3\nsecond line\n");
    box.write(paths::packageStatus, fullStatus);
}

const std::vector<std::string> standardInfo = {"--Quillon-- version 2.3\n ", "[  2.6.18-7.1 ]",
                                               "[  20090424 ]", "[  84 ]"};

INSTANTIATE_TEST_SUITE_P(
    Menu, Screens,
    ::testing::Values(
        ScreenCase{"16 bpp: picture, bar, names and the seven texts", 16, standard, "ok", 1,
                   index("b"), standardInfo},
        ScreenCase{"8 bpp: the same", 8, standard, "ok", 1, index("b"), standardInfo},
        ScreenCase{"16 bpp: a move redraws with the bar one row down", 16, standard, "down,ok", 2,
                   [](const std::vector<std::string> &e) {
                       return (int)((std::find(e.begin(), e.end(), "b") - e.begin() + 1) %
                                    e.size());
                   },
                   standardInfo},
        ScreenCase{"8 bpp: ten rows of twelve entries, up wraps to row 9",
                   8,
                   [](MenuBox &b) {
                       std::vector<std::string> names;
                       for (int i = 0; i < 11; i++)
                           names.push_back("img" + std::to_string(i));
                       b.images(names);
                   },
                   "up,ok",
                   2,
                   row(9),
                   {"", na, na, na}},
        ScreenCase{"no version file, no package status",
                   16,
                   [](MenuBox &b) { b.images({"a"}); },
                   "ok",
                   1,
                   row(0),
                   {"", na, na, na}},
        ScreenCase{"a version file without a line",
                   16,
                   [](MenuBox &b) { b.write(paths::versionFile, ""); },
                   "ok",
                   1,
                   row(0),
                   {"", na, na, na}},
        ScreenCase{"package rules: last stanza wins, a package line at the end",
                   16,
                   [](MenuBox &b) {
                       b.write(paths::packageStatus,
                               "Package: kernel-image\nVersion: 1\n\n"
                               "Package: kernel-image-2.6.18\nVersion: 2.6.18-7.1\n\n"
                               "Package: dreambox-dvb-modules\nVersion: 3.0\n"
                               "Package: dreambox-secondstage");
                   },
                   "ok",
                   1,
                   row(0),
                   {"", "[  2.6.18-7.1 ]", "[  3.0 ]", "[  dreambox-secondstage ]"}},
        ScreenCase{"a long version line is cut to the slot",
                   16,
                   [](MenuBox &b) { b.write(paths::versionFile, std::string(200, 'v') + "\n"); },
                   "ok",
                   1,
                   row(0),
                   {("--Quillon-- version " + std::string(200, 'v')).substr(0, 127), na, na, na}},
        ScreenCase{"a picture that is no PNG leaves the background black",
                   16,
                   [](MenuBox &b) {
                       b.images({"a"});
                       b.write(paths::menuPicture, "xPNG but nothing more");
                   },
                   "ok",
                   1,
                   row(0),
                   {"", na, na, na},
                   false},
        ScreenCase{"no picture file",
                   8,
                   [](MenuBox &b) {
                       b.images({"a"});
                       b.remove(paths::menuPicture);
                   },
                   "down,ok",
                   2,
                   row(1),
                   {"", na, na, na},
                   false}),
    [](const ::testing::TestParamInfo<ScreenCase> &info) {
        return "case" + std::to_string(info.index);
    });

// The version line reaches the text drawing with its line-feed, which the
// font has no glyph for.
TEST(Screens, VersionLineKeepsItsLineFeed)
{
    MenuBox box;
    standard(box);
    box.keys("ok");
    MenuRun run = box.run();
    EXPECT_NE(run.out.find("Glyphor <FT_Get_Char_Index for Char \"\n\" failed: \"undefined "
                           "character code\">\n"),
              std::string::npos)
        << run.out;
}

} // namespace
