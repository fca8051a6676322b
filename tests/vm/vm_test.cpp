// The whole boot on a real MIPS Linux kernel under emulation: Debian's Malta
// kernel runs the box build of bootinit as its init from the flash (an
// initramfs); bootinit finds the store on an ext4 disk by its UUID, runs
// quisel on the real cirrus framebuffer with keys from the emulated keyboard
// through the remote-control stand-in module, and hands over to the chosen
// root's init. The screen is compared with the menu as the box simulator
// draws it for the same store.
#include "backdrop.h"
#include "expected.h"
#include "menu.h"
#include "vmbox.h"

#include <gtest/gtest.h>

#include <png.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#ifndef QUILLON_VM_ENV
#error "QUILLON_VM_ENV must name vm-prepare.sh's vm.env"
#endif

namespace fs = std::filesystem;

namespace
{

const char *const storeUuid = "5e1f0c2a-7d3b-4c1e-9a8f-0b6d2e4c8a1f";

struct VmCase {
    const char *name;
    const char *what;
    std::vector<std::string> images;
    const char *selection; // the selection file before the boot
    bool readOnly;         // the store disk is read-only
    // Keys sent once the first screen is up; the simulator presses the same.
    std::vector<std::string> keys;
    // What should boot: the entry at this index of the menu, else the image
    // of this name, else (-1 and null) the flash's own init.
    int bootsEntry;
    const char *bootsImage;
    // The selection file the booted init sees; empty: that entry's name.
    const char *selectionAfter;
};

void PrintTo(const VmCase &c, std::ostream *os)
{
    *os << c.what;
}

std::string packageStatus(const std::string &release)
{
    return "Package: kernel-image\nVersion: " + release +
           "\n\nPackage: dreambox-dvb-modules\nVersion: vm-stand-in\n";
}

void pause(double seconds)
{
    struct timespec ts;
    ts.tv_sec = (time_t)seconds;
    ts.tv_nsec = (long)((seconds - ts.tv_sec) * 1e9);
    nanosleep(&ts, nullptr);
}

std::string tail(const std::string &text, size_t bytes = 3000)
{
    return text.size() > bytes ? "..." + text.substr(text.size() - bytes) : text;
}

bool writePng(const std::string &path, const Picture &p)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = p.width;
    image.height = p.height;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, p.rgb.data(), 0, nullptr) != 0;
}

// Screendumps until one matches the frame (quantised to 565); the text of
// the last difference otherwise. Now and then qemu hands back its 640x480
// placeholder instead of the screen: that one is simply dumped again.
std::string waitForScreen(Machine &m, const ScreenFrame &frame, double seconds, Picture *shot,
                          int *dumps = nullptr)
{
    std::string last = "no screendump taken";
    for (double waited = 0; waited < seconds; waited += 0.3) {
        std::string error;
        if (dumps) ++*dumps;
        if (!m.running()) return "qemu ended before the screen showed the menu; " + last;
        if (!m.screendump(shot, &error)) {
            last = error;
        } else if (shot->width != (int)frame.width || shot->height != (int)frame.height) {
            last =
                "the screen is " + std::to_string(shot->width) + "x" + std::to_string(shot->height);
        } else {
            last = compare565(shot->width, shot->height, shot->rgb, frame.rgb);
            if (last.empty()) return "";
        }
        pause(0.3);
    }
    return last;
}

class VmBoot : public ::testing::TestWithParam<VmCase>
{
  protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(vm_kit_load(QUILLON_VM_ENV, &kit, &error)) << error;
        const char *tmp = getenv("TMPDIR");
        std::string stem = std::string(tmp && *tmp ? tmp : "/tmp") + "/vmboot.XXXXXX";
        std::vector<char> name(stem.begin(), stem.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name.data();
    }
    void TearDown() override
    {
        if (folder.empty()) return;
        if (HasFailure() || getenv("QUILLON_VM_KEEP")) {
            printf("The machine's folder is kept: %s\n", folder.c_str());
            return;
        }
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    VmKit kit;
    std::string folder;
};

TEST_P(VmBoot, MenuKeysAndTheChosenInit)
{
    const VmCase &c = GetParam();
    std::string error;
    std::string status = packageStatus(kit.release);

    // The flash and the store.
    FlashSetup flash;
    flash.font = menuHostFont;
    flash.picture = folder + "/quimenu.png";
    flash.packageStatus = status;
    ASSERT_TRUE(backdrop_write(flash.picture, 720, 576));
    ASSERT_TRUE(flash_build(kit, flash, folder + "/flash.cpio", &error)) << error;
    StoreSetup store;
    store.uuid = storeUuid;
    store.images = c.images;
    store.selection = c.selection;
    store.version = "vm-1.0\n";
    ASSERT_TRUE(store_build(kit, store, folder + "/store.img", &error)) << error;

    // The screens the simulator draws for the same store and keys.
    std::string simKeys;
    for (const std::string &k : c.keys)
        simKeys += (simKeys.empty() ? "" : ",") + k;
    ExpectedMenu expected;
    ASSERT_TRUE(expected_menu(folder + "/store.img", status, simKeys.empty() ? "ok" : simKeys,
                              &expected, &error))
        << error;
    ASSERT_EQ(expected.entries.size(), c.images.size() + 1);
    bool toImage = c.bootsEntry >= 0 || c.bootsImage;
    std::string bootName = c.bootsEntry >= 0 ? expected.entries[c.bootsEntry]
                           : c.bootsImage    ? c.bootsImage
                                             : "flash";

    Machine m;
    ASSERT_TRUE(m.start(kit, folder + "/flash.cpio", folder + "/store.img", c.readOnly, folder, 150,
                        &error))
        << error;
    ASSERT_TRUE(m.waitSerial("[Framebuffer] available.", 90))
        << "the menu never started; serial log:\n"
        << tail(m.serial());
    double startedAt = m.seconds();
    Picture shot;
    int dumps = 0;
    std::string diff = waitForScreen(m, expected.frames[0], 20, &shot, &dumps);
    ASSERT_EQ(diff, "") << "the first screen of the menu; serial log:\n" << tail(m.serial());
    double menuAt = m.seconds();
    EXPECT_TRUE(writePng(folder + "/menu.png", shot));
    if (const char *shots = getenv("QUILLON_VM_SHOTS"))
        writePng(std::string(shots) + "/" + c.name + ".png", shot);

    // The keys, each once the screen has answered the one before.
    for (size_t k = 0; k < c.keys.size(); k++) {
        const std::string &key = c.keys[k];
        if (key == "ok") {
            ASSERT_TRUE(m.sendKey("ret"));
            continue;
        }
        ASSERT_TRUE(m.sendKey(key)) << key;
        // One redraw per move: frame 1 + k + 1 of the simulator's screens.
        ASSERT_GT(expected.frames.size(), k + 1) << expected.console;
        diff = waitForScreen(m, expected.frames[k + 1], 10, &shot);
        ASSERT_EQ(diff, "") << "the screen after key " << k + 1 << " (" << key << ")";
    }

    // The menu leaves the screen cleared, as in the simulator.
    diff = waitForScreen(m, expected.frames.back(), 15, &shot);
    EXPECT_EQ(diff, "") << "the screen the menu left";

    // Without a move the menu stays more than 10 seconds, plus its closing second.
    ASSERT_TRUE(m.waitSerial("VMREPORT init", 90)) << tail(m.serial());
    double initAt = m.seconds();
    if (c.keys.empty()) {
        EXPECT_GE(initAt - menuAt, 10.0);
    }
    ASSERT_TRUE(m.waitExit(90)) << "qemu did not end; serial log:\n" << tail(m.serial());
    double endAt = m.seconds();
    EXPECT_FALSE(m.hitLimit());
    EXPECT_TRUE(WIFEXITED(m.exitStatus()) && WEXITSTATUS(m.exitStatus()) == 0)
        << "qemu's wait status " << m.exitStatus();

    std::string serial = m.serial();
    std::vector<InitReport> reports = vm_reports(serial);
    ASSERT_EQ(reports.size(), 1u) << tail(serial);
    const InitReport &r = reports[0];
    EXPECT_TRUE(r.complete) << tail(serial);
    EXPECT_EQ(r.name, bootName);
    EXPECT_EQ(r.pid, "1");
    EXPECT_EQ(r.root, toImage ? "image " + bootName : "flash");
    EXPECT_EQ(r.argv, "/sbin/init.sysvinit ");
    EXPECT_EQ(r.selection, c.selectionAfter[0] ? c.selectionAfter : bootName);
    // The store at /media/quillon: its files and every image.
    std::vector<std::string> seen = r.store;
    for (const char *file : {".quillon", ".version"})
        EXPECT_NE(std::find(seen.begin(), seen.end(), file), seen.end()) << file;
    for (const std::string &image : c.images)
        EXPECT_NE(std::find(seen.begin(), seen.end(), image), seen.end()) << image;
    // Mounted by its by-uuid link; in an image, bound onto its /media/quillon
    // beside the running system's /dev, /proc and /sys.
    std::string mounts;
    for (const std::string &line : r.mounts)
        mounts += line + "\n";
    std::string device = std::string("/dev/disk/by-uuid/") + storeUuid + " ";
    EXPECT_NE(mounts.find(device + "/media/quillon ext4 " + (c.readOnly ? "ro" : "rw")),
              std::string::npos)
        << mounts;
    if (toImage) {
        for (const char *place : {" /dev ", " /proc ", " /sys "})
            EXPECT_NE(mounts.find(place), std::string::npos) << place << "\n" << mounts;
    }

    // The menu said on the real console what it said in the simulator.
    EXPECT_NE(expected.console.find("[Framebuffer] available."), std::string::npos)
        << expected.console;
    std::istringstream said(expected.console);
    for (std::string line; std::getline(said, line);)
        EXPECT_NE(serial.find(line), std::string::npos) << "the simulated menu printed: " << line;

    printf("VM boot '%s': the menu started %.1f s after qemu, was on the screen at %.1f s "
           "(screendump %d), the chosen init ran at %.1f s, qemu ended at %.1f s\n",
           c.what, startedAt, menuAt, dumps, initAt, endAt);
    RecordProperty("init_seconds", std::to_string(initAt));
    RecordProperty("menu_seconds", std::to_string(menuAt));
    RecordProperty("end_seconds", std::to_string(endAt));
}

INSTANTIATE_TEST_SUITE_P(
    Emulated, VmBoot,
    ::testing::Values(VmCase{"keys",
                             "down, down, OK boots the third entry",
                             {"img-alpha", "img-beta", "img-gamma"},
                             "Flash",
                             false,
                             {"down", "down", "ok"},
                             2,
                             nullptr,
                             ""},
                      VmCase{"timeout",
                             "no key boots the pre-selected entry after the timeout",
                             {"img-alpha", "img-beta"},
                             "img-beta",
                             false,
                             {},
                             -1,
                             "img-beta",
                             ""},
                      VmCase{"deleted",
                             "a selection naming a deleted image boots the flash's init",
                             {"img-alpha", "img-beta"},
                             "img-gone",
                             true,
                             {"ok"},
                             -1,
                             nullptr,
                             "img-gone"}),
    [](const ::testing::TestParamInfo<VmCase> &info) { return std::string(info.param.name); });

} // namespace
