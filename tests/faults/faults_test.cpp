// The fault matrix: the real bootinit boots as PID 1 on a real ext4 store
// device and runs the real menu, with one fault each: a framebuffer request
// or the mapping failing, odd modes, short and failing reads of the remote
// control, its name request failing, a bad font or picture, text files with
// lines far longer than the buffers, a broken store, an image without its
// mount points or without an init. Whatever the fault: the menu ends, the
// selection holds what the medium allows, an init takes over (the image's
// when it has one), and nothing is written outside the paths meant for it.
#include "bootinit/paths.h"
#include "box.h"
#include "menu.h"
#include "remote.h"
#include "screen.h"

#include <gtest/gtest.h>

#include <linux/input.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const char *const uuid = "6a7b8c9d-0000-4000-8000-0000000000fa";
const std::string image = "img-one";
const std::string imageDir = "/Qvault/" + image;
// The selection before the boot; the menu writes names without a line end,
// so a selection still ending in one was not written.
const char *const before = "Flash\n";
const char *const flashInit = "flash";
const char *const imageInit = "image img-one";
const char *const version = "7.1 (build 2026)\n";
const std::string longLine(10000, 'x');
const std::string oddImage = "it's a $(touch pwned) `touch pwned2` image; x";
const std::string oddInit = "image " + oddImage;
const std::string longImage(255, 'i');
const std::string longInit = "image " + longImage;

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string picture(const char *name)
{
    return slurp(std::string(FAULTS_PICTURES) + "/" + name);
}

void screen(Box &box, const std::vector<std::string> &lines)
{
    ScreenPolicy policy;
    for (const std::string &line : lines) {
        std::istringstream words(line);
        std::string what, value;
        words >> what;
        std::getline(words >> std::ws, value);
        if (what == "fail") policy.failures.push_back(value);
        if (what == "mode") policy.mode = value;
        if (what == "initial") policy.initial = value;
        if (what == "pad") policy.pad = (uint32_t)std::stoul(value);
        if (what == "smem_len") policy.smemLen = std::stoll(value);
        if (what == "memory") policy.memory = std::stoull(value);
    }
    std::string error;
    EXPECT_TRUE(screen_prepare(box.root(), policy, &error)) << error;
}

void remote(Box &box, int number, const RemoteDevice &dev)
{
    EXPECT_TRUE(remote_install(box.root(), number, dev));
}

RemoteRecord key(double at, int code, int value, int shortBytes = -1)
{
    RemoteRecord r;
    r.at = at;
    r.code = code;
    r.value = value;
    r.shortBytes = shortBytes;
    return r;
}

// Down, then OK: the keys that choose the image.
std::vector<RemoteRecord> downOk(double start)
{
    return {key(start, KEY_DOWN, 1), key(start + 0.2, KEY_DOWN, 0), key(start + 0.4, KEY_OK, 1)};
}

// What the flash root holds: path, type and content, without the
// simulator's own folders and the mount points of the host's libraries.
std::map<std::string, std::string> flashTree(const std::string &root)
{
    static const char *const machinery[] = {"/.boxsim",
                                            "/dev",
                                            "/lib",
                                            "/lib64",
                                            "/proc/self",
                                            "/usr/lib/x86_64-linux-gnu",
                                            "/usr/lib/mipsel-linux-gnu",
                                            "/usr/mipsel-linux-gnu"};
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
        std::string path = it->path().string().substr(root.size());
        bool skip = false;
        for (const char *m : machinery)
            skip = skip || path == m || path.rfind(std::string(m) + "/", 0) == 0;
        if (skip) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink())
            tree[path] = "link " + fs::read_symlink(it->path(), ec).string();
        else if (it->is_directory())
            tree[path] = "dir";
        else if (it->is_regular_file())
            tree[path] = "file " + slurp(it->path().string());
        else
            tree[path] = "special";
    }
    return tree;
}

// The differences between two trees, one line each.
std::string treeChanges(const std::map<std::string, std::string> &a,
                        const std::map<std::string, std::string> &b)
{
    std::string changes;
    for (const auto &[path, what] : a) {
        auto other = b.find(path);
        if (other == b.end())
            changes += "removed " + path + "\n";
        else if (other->second != what)
            changes += "changed " + path + "\n";
    }
    for (const auto &[path, what] : b)
        if (!a.count(path)) changes += "added " + path + "\n";
    return changes;
}

struct FaultCase {
    const char *name;
    std::function<void(Box &, Device &)> fault;
    const char *written; // the selection file afterwards; null: there is none
    const char *init;    // the root whose init took over
    std::string entry;   // the store's name in /dev/disk/by-uuid/ (empty: its UUID)
    std::string version; // the store's version file

    FaultCase(const char *name, std::function<void(Box &, Device &)> fault, const char *written,
              const char *init, std::string entry = "", std::string version = ::version)
        : name(name), fault(std::move(fault)), written(written), init(init),
          entry(std::move(entry)), version(std::move(version))
    {
    }
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class Faults : public testing::TestWithParam<FaultCase>
{
};

TEST_P(Faults, TheMenuEndsAndAnInitTakesOver)
{
    const FaultCase &c = GetParam();
    Box box;
    ASSERT_TRUE(box.ready()) << box.error();
    std::string error;
    ASSERT_TRUE(menu_install(box.root(), QUISEL_BINARY, "", &error)) << error;
    RemoteDevice keys;
    keys.records = downOk(1.0);
    remote(box, 0, keys);
    box.file(paths::packageStatus, "Package: kernel-image\nVersion: 2.6.12-r6\n");
    Device &disk = box.device(uuid, c.entry);
    disk.store(before);
    disk.file("/Qvault/.version", c.version);
    disk.image(image);
    c.fault(box, disk);

    const auto flashBefore = flashTree(box.root());
    BoxResult r = box.boot();
    ASSERT_TRUE(r.ran()) << r.error << r.trace();

    // The menu ended and its result is where the medium allows.
    if (c.written) {
        EXPECT_EQ(disk.readAfterRun("/Qvault/.quillon"), c.written) << r.console;
    }
    EXPECT_EQ(disk.typeAfterRun("/Qvault/.quillon.new"), "") << "a temporary file was left";
    // An init took over: the image's when the image has one, else the flash's.
    ASSERT_NE(r.init(), nullptr) << r.trace();
    EXPECT_EQ(r.init()->get("root"), c.init) << r.trace();
    // Nothing else was written: the flash keeps everything but the stray
    // file and the video mode, the store its version file and the image its
    // marker.
    auto expected = flashBefore, flashAfter = flashTree(box.root());
    for (const char *meant : {"/&1", "/proc/stb/video/videomode"}) {
        expected.erase(meant);
        flashAfter.erase(meant);
    }
    EXPECT_EQ(treeChanges(expected, flashAfter), "");
    if (disk.typeAfterRun("/Qvault/.version") == "regular") {
        EXPECT_EQ(disk.readAfterRun("/Qvault/.version"), c.version);
    }
    if (disk.typeAfterRun(imageDir) == "directory") {
        EXPECT_EQ(disk.readAfterRun(imageDir + "/.boxsim-root"), "image " + image + "\n");
    }
}

// A case whose fault is one framebuffer policy.
FaultCase fb(const char *name, std::vector<std::string> policy, const char *written = "img-one",
             const char *init = imageInit)
{
    return FaultCase(
        name, [policy](Box &box, Device &) { screen(box, policy); }, written, init);
}

const FaultCase cases[] = {
    fb("framebuffer_open", {"fail open ENOENT"}),
    fb("framebuffer_mapping", {"fail mmap ENOMEM"}),
    fb("terminal_open", {"fail tty0 ENOENT"}),
    fb("get_mode", {"fail FBIOGET_VSCREENINFO EIO"}),
    fb("get_mode_later", {"fail FBIOGET_VSCREENINFO EIO from 2"}),
    fb("set_mode", {"fail FBIOPUT_VSCREENINFO EINVAL"}),
    fb("set_mode_later", {"fail FBIOPUT_VSCREENINFO EINVAL from 2"}),
    fb("fixed_information", {"fail FBIOGET_FSCREENINFO EIO"}),
    fb("colour_map", {"fail FBIOPUTCMAP EINVAL", "mode 720x576x8"}),
    fb("explicit_update", {"fail UPDATE ENOTTY"}),
    fb("blit", {"fail BLIT EIO"}),
    fb("blit_later", {"fail BLIT EIO from 2"}),
    fb("terminal_mode", {"fail KDSETMODE EPERM"}),
    fb("refused_modes", {"mode refuse", "initial 640x480x16"}),
    fb("forced_8_bits", {"mode 720x576x8"}),
    fb("forced_15_bits", {"mode 720x576x15"}),
    fb("forced_24_bits", {"mode 720x576x24"}),
    fb("forced_32_bits", {"mode 720x576x32"}),
    fb("forced_one_pixel", {"mode 1x1x16"}),
    fb("mode_larger_than_the_memory", {"mode 1920x1080x32"}),
    fb("memory_length_short", {"smem_len 4096"}),
    fb("memory_length_zero", {"smem_len 0"}),
    fb("odd_line_padding", {"pad 3"}),
    // The one end of the menu before its selection: a depth it cannot draw.
    fb("depth_without_conversion", {"mode 720x576x4"}, before, flashInit),

    {"remote_short_reads",
     [](Box &box, Device &) {
         RemoteDevice dev;
         dev.records = {key(0.5, 0, 0, 3), key(0.6, 0, 0, 0)};
         for (const RemoteRecord &r : downOk(1.0))
             dev.records.push_back(r);
         remote(box, 0, dev);
     },
     "img-one", imageInit},
    {"remote_name_request_fails",
     [](Box &box, Device &) {
         RemoteDevice dev;
         dev.nameFails = true;
         dev.records = downOk(1.0);
         remote(box, 0, dev);
     },
     "Flash", flashInit},
    {"remote_open_fails",
     [](Box &box, Device &) {
         RemoteDevice dev;
         dev.openFails = true;
         remote(box, 0, dev);
     },
     "Flash", flashInit},
    {"remote_name_fills_the_buffer",
     [](Box &box, Device &) {
         RemoteDevice other, dev;
         other.name = std::string(300, 'k');
         dev.name = std::string(114, 'n') + "remote control";
         dev.records = downOk(1.0);
         remote(box, 0, other);
         remote(box, 1, dev);
     },
     "img-one", imageInit},

    {"font_missing", [](Box &box, Device &) { box.remove(paths::menuFont); }, "img-one", imageInit},
    {"font_corrupt", [](Box &box, Device &) { box.file(paths::menuFont, "not a font at all"); },
     "img-one", imageInit},
    {"font_cut_short",
     [](Box &box, Device &) { box.file(paths::menuFont, slurp(menuHostFont).substr(0, 3000)); },
     "img-one", imageInit},

    {"picture_claims_a_million_pixels_a_side",
     [](Box &box, Device &) { box.file(paths::menuPicture, picture("seed-huge-header")); },
     "img-one", imageInit},
    {"picture_wider_than_the_menu_loads",
     [](Box &box, Device &) { box.file(paths::menuPicture, picture("seed-wide-header")); },
     "img-one", imageInit},
    {"picture_data_cut_short",
     [](Box &box, Device &) { box.file(paths::menuPicture, picture("seed-short-data")); },
     "img-one", imageInit},
    {"picture_only_a_signature",
     [](Box &box, Device &) { box.file(paths::menuPicture, picture("seed-signature-only")); },
     "img-one", imageInit},
    {"picture_is_a_folder",
     [](Box &box, Device &) {
         box.remove(paths::menuPicture);
         box.dir(paths::menuPicture);
     },
     "img-one", imageInit},

    {"version_line_longer_than_its_buffer", [](Box &, Device &) {}, "img-one", imageInit, "",
     longLine},
    {"package_lines_longer_than_the_buffer",
     [](Box &box, Device &) {
         box.file(paths::packageStatus, longLine + "\nPackage: kernel-image\n" + longLine +
                                            "\nPackage: dreambox-secondstage");
     },
     "img-one", imageInit},
    {"package_status_is_a_folder",
     [](Box &box, Device &) {
         box.remove(paths::packageStatus);
         box.dir(paths::packageStatus);
     },
     "img-one", imageInit},
    {"mount_table_lines_longer_than_the_buffer",
     [](Box &box, Device &) {
         box.procMounts((longLine + "\nsysfs /sys sysfs rw 0 0\n" + longLine + "/proc\n").c_str());
     },
     "img-one", imageInit},
    // The menu reads the first 99 bytes, which match no entry, and writes
    // the highlighted "Flash"; the boot selector reads what it wrote.
    {"selection_line_longer_than_both_buffers",
     [](Box &, Device &disk) { disk.file("/Qvault/.quillon", longLine); }, "img-one", imageInit},

    {"no_store_device", [](Box &, Device &disk) { disk.remove("/Qvault/.quillon"); }, nullptr,
     flashInit},
    {"selection_file_is_a_folder",
     [](Box &, Device &disk) {
         disk.remove("/Qvault/.quillon");
         disk.dir("/Qvault/.quillon");
     },
     nullptr, flashInit},
    {"device_entry_with_shell_characters", [](Box &, Device &) {}, "img-one", imageInit,
     "odd 'entry' $(touch pwned) `touch pwned2`; x"},

    // Names the shell must quote, chosen with OK alone.
    {"image_name_with_shell_characters",
     [](Box &box, Device &disk) {
         disk.image(oddImage);
         disk.file("/Qvault/.quillon", oddImage + "\n");
         RemoteDevice dev;
         dev.records = {key(1.0, KEY_OK, 1)};
         remote(box, 0, dev);
     },
     oddImage.c_str(), oddInit.c_str()},
    // Without a menu the boot selector reads what the store holds.
    {"no_menu_selection_of_255_bytes",
     [](Box &box, Device &disk) {
         box.remove(paths::menuProgram);
         disk.image(longImage);
         disk.file("/Qvault/.quillon", longImage + "\n");
     },
     nullptr, longInit.c_str()},
    {"no_menu_selection_names_the_parent",
     [](Box &box, Device &disk) {
         box.remove(paths::menuProgram);
         disk.file("/Qvault/.quillon", "..\n");
     },
     "..\n", flashInit},
    {"no_menu_selection_names_a_file",
     [](Box &box, Device &disk) {
         box.remove(paths::menuProgram);
         disk.file("/Qvault/plain", "not an image");
         disk.file("/Qvault/.quillon", "plain\n");
     },
     "plain\n", flashInit},

    // Links and FIFOs where the store's files belong: the store is anyone's
    // to write. A FIFO is reached through a link to one on the flash.
    {"temporary_file_links_to_the_flash",
     [](Box &, Device &disk) { disk.link("/etc/videomode", "/Qvault/.quillon.new"); }, "img-one",
     imageInit},
    {"selection_links_to_the_flash",
     [](Box &, Device &disk) {
         disk.remove("/Qvault/.quillon");
         disk.link("/etc/videomode", "/Qvault/.quillon");
     },
     "img-one", imageInit},
    {"selection_is_a_fifo",
     [](Box &box, Device &disk) {
         ASSERT_EQ(mkfifo(box.host("/tmp/fifo").c_str(), 0644), 0);
         disk.remove("/Qvault/.quillon");
         disk.link("/tmp/fifo", "/Qvault/.quillon");
     },
     "img-one", imageInit},
    {"version_file_is_a_fifo",
     [](Box &box, Device &disk) {
         ASSERT_EQ(mkfifo(box.host("/tmp/fifo").c_str(), 0644), 0);
         disk.remove("/Qvault/.version");
         disk.link("/tmp/fifo", "/Qvault/.version");
     },
     "img-one", imageInit},
    {"no_menu_selection_is_a_fifo",
     [](Box &box, Device &disk) {
         box.remove(paths::menuProgram);
         ASSERT_EQ(mkfifo(box.host("/tmp/fifo").c_str(), 0644), 0);
         disk.remove("/Qvault/.quillon");
         disk.link("/tmp/fifo", "/Qvault/.quillon");
     },
     nullptr, flashInit},

    {"image_without_its_mount_points",
     [](Box &, Device &disk) {
         for (const char *d : {"/dev", "/proc", "/sys", "/media"})
             disk.remove(imageDir + d);
     },
     "img-one", imageInit},
    {"image_without_an_init",
     [](Box &, Device &disk) { disk.remove(imageDir + "/sbin/init.sysvinit"); }, "img-one",
     flashInit},
    {"image_init_is_a_folder",
     [](Box &, Device &disk) {
         disk.remove(imageDir + "/sbin/init.sysvinit");
         disk.dir(imageDir + "/sbin/init.sysvinit");
     },
     "img-one", flashInit},
};

INSTANTIATE_TEST_SUITE_P(Matrix, Faults, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<FaultCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
