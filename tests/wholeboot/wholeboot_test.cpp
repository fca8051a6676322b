// The whole boot in the simulator: the real bootinit as PID 1 finds the
// store on a real ext4 device, runs the real menu from its fixed path on the
// emulated framebuffer, the keys come from the emulated remote control, and
// the init of the entry chosen takes over.
#include "box.h"
#include "menu.h"
#include "screen.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{

struct BootCase {
    const char *what;
    const char *selection; // in the selection file before the boot
    const char *keys;
    const char *written; // the selection afterwards
    const char *init;    // the root whose init took over
};

void PrintTo(const BootCase &c, std::ostream *os)
{
    *os << c.what;
}

class WholeBoot : public ::testing::TestWithParam<BootCase>
{
};

TEST_P(WholeBoot, KeysInTheChosenImagesInitOut)
{
    const BootCase &c = GetParam();
    Box box;
    ASSERT_TRUE(box.ready()) << box.error();
    Device &disk = box.device("6a7b8c9d-0000-4000-8000-00000000000a");
    disk.store(c.selection);
    disk.image("img-one");
    std::string error;
    ASSERT_TRUE(menu_install(box.root(), QUISEL_BINARY, c.keys, &error)) << error;
    BoxResult r = box.boot();
    ASSERT_TRUE(r.ran()) << r.error;
    EXPECT_EQ(disk.readAfterRun("/Qvault/.quillon"), c.written);
    ASSERT_NE(r.init(), nullptr) << r.trace();
    EXPECT_EQ(r.init()->get("root"), c.init);
    // The menu ran from its fixed path, drew on the framebuffer, blanked it.
    EXPECT_NE(r.console.find("[Framebuffer] available."), std::string::npos) << r.console;
    EXPECT_GE(screen_frame_count(box.root()), 2);
}

INSTANTIATE_TEST_SUITE_P(Boot, WholeBoot,
                         ::testing::Values(BootCase{"down from Flash boots the image", "Flash",
                                                    "down,ok", "img-one", "image img-one"},
                                           BootCase{"down twice wraps to Flash", "Flash",
                                                    "down,down,ok", "Flash", "flash"},
                                           BootCase{"up from the image boots the flash", "img-one",
                                                    "up,ok", "Flash", "flash"},
                                           BootCase{"no key: the timeout boots the pre-selection",
                                                    "img-one", "", "img-one", "image img-one"}),
                         [](const ::testing::TestParamInfo<BootCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

// The command line of the README: the example box, keys from the command
// line, the recorded boot, the init that took over and the screens left.
TEST(ExampleBoot, KeysFromTheCommandLine)
{
    const char *tmp = getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/examplescreens.XXXXXX";
    std::vector<char> tmpl(folder.c_str(), folder.c_str() + folder.size() + 1);
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    std::string screens = std::string(tmpl.data()) + "/screens";
    std::string command = std::string(BOXSIM_CLI) +
                          " boot --example --select Flash --keys down,ok" + " --screens " +
                          screens + " 2>&1";
    FILE *p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("shell   /usr/lib/enigma2/python/Plugins/Extensions/Quillon/contrib/quisel"),
              std::string::npos)
        << out;
    // Down from Flash highlights the first image in listing order, whose
    // init then takes over.
    size_t wrote = out.find("The menu wrote the selection \"");
    ASSERT_NE(wrote, std::string::npos) << out;
    std::string chosen = out.substr(wrote + 30, out.find('"', wrote + 30) - wrote - 30);
    EXPECT_NE(chosen, "Flash");
    EXPECT_NE(out.find("The image " + chosen + "'s /sbin/init.sysvinit took over"),
              std::string::npos)
        << out;
    // A first drawing, the one after the move, and the blank one at the end.
    for (const char *frame : {"0001.png", "0002.png", "0003.png"})
        EXPECT_TRUE(std::filesystem::exists(screens + "/" + frame)) << frame;
    std::filesystem::remove_all(tmpl.data());
}

} // namespace
