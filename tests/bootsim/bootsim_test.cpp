// The real bootinit, booted as PID 1 in a simulated box: real shell, real
// ext4 store devices on loop devices, real mounts and change of root, and
// recording stand-ins for the firmware's programs.
#include "box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace
{

using Steps = std::vector<std::string>;
using Setup = std::function<void(Box &)>;

const char *const storeUuid = "3f1c2a9e-5b7d-4e21-9a0c-6d2e8f4b1a01";
const char *const otherUuid = "3f1c2a9e-5b7d-4e21-9a0c-6d2e8f4b1a02";
const std::string quietly = " > /dev/null 2>&1";

// The boot's course: command lines, sleeps and the init that took over.
Steps steps(const BoxResult &r)
{
    Steps s;
    for (const auto &rec : r.records) {
        if (rec.kind == "system") s.push_back(rec.get("cmd"));
        if (rec.kind == "sleep") s.push_back("sleep " + rec.get("ns"));
        if (rec.kind == "init") s.push_back("init " + rec.get("root"));
    }
    return s;
}

Steps join(Steps a, const Steps &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Everything up to the store discovery, for a box without /proc and udev.
Steps prologue(bool procStep = true, bool udevStep = true)
{
    Steps s;
    if (procStep)
        s = {"/bin/mount -t proc proc /proc" + quietly, "/bin/mount -t sysfs sysfs /sys" + quietly,
             "/sbin/depmod -Ae" + quietly};
    if (udevStep) s.push_back("/etc/init.d/udev start" + quietly);
    return join(s, {"modprobe dreambox_keyboard", "modprobe fp", "modprobe bcm7400",
                    "cat /etc/videomode > /proc/stb/video/videomode", "sleep 1000000000",
                    "/usr/bin/showiframe /usr/share/bootlogo.mvi" + quietly, "sleep 4000000000"});
}

const std::string flashUsrLogo = "/usr/bin/showiframe /usr/share/bootlogo.mvi" + quietly;
const std::string flashBootLogo = "/usr/bin/showiframe /boot/bootlogo.mvi" + quietly;

std::string probe(const std::string &entry)
{
    return "mount /dev/disk/by-uuid/" + entry + " /media/quillon" + quietly;
}

std::string unprobe(const std::string &entry)
{
    return "umount /dev/disk/by-uuid/" + entry + " /media/quillon" + quietly;
}

// The hand-off's command lines for an image with its logo in /usr/share and
// the given media places seen in the running system.
Steps handoff(const std::string &name, const Steps &places = {})
{
    const std::string img = "/media/quillon/Qvault/" + name;
    Steps s = {"/usr/bin/showiframe " + img + "/usr/share/bootlogo.mvi",
               "/bin/mount -o bind /dev " + img + "/dev",
               "/bin/mount -o bind /proc " + img + "/proc",
               "/bin/mount -o bind /sys " + img + "/sys",
               "rm " + img + "/media/quillon" + quietly,
               "mkdir " + img + "/media/quillon" + quietly,
               "/bin/mount -o bind /media/quillon " + img + "/media/quillon"};
    for (const std::string &p : places)
        s.push_back("/bin/mount -o bind /media/quillon " + img + p);
    return s;
}

// A store device holding the given images, its selection file naming one.
Device &addStore(Box &box, const char *selection, const Steps &images = {"img1"},
                 const char *uuid = storeUuid)
{
    Device &dev = box.device(uuid);
    dev.store(selection);
    for (const std::string &name : images)
        dev.image(name);
    return dev;
}

std::vector<std::string> mountTargets(const boxrec::Record &init)
{
    std::vector<std::string> targets;
    for (const std::string &m : init.all("mount")) {
        size_t a = m.find(' ');
        size_t b = m.find(' ', a + 1);
        targets.push_back(m.substr(a + 1, b - a - 1));
    }
    return targets;
}

class BootTest : public ::testing::Test
{
  protected:
    Box box;
    BoxResult result;

    // Boots bootinit; fails loudly when the simulator cannot run here.
    void boot(const std::vector<std::string> &args = {})
    {
        ASSERT_TRUE(box.ready()) << box.error();
        result = box.boot(args);
        ASSERT_FALSE(result.timedOut) << "the box did not end in time";
        ASSERT_TRUE(result.error.empty()) << result.error;
    }
    const boxrec::Record &init()
    {
        static const boxrec::Record none;
        const boxrec::Record *r = result.init();
        EXPECT_NE(r, nullptr) << result.trace();
        return r ? *r : none;
    }
    // The init program took over with bootinit's own argument vector.
    void expectInit(const std::string &root, const std::vector<std::string> &args = {})
    {
        std::vector<std::string> argv = {"/sbin/init"};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(init().get("root"), root);
        EXPECT_EQ(init().all("arg"), argv);
        EXPECT_EQ(init().pid, 1);
    }
};

// --- The boot sequence up to discovery --------------------------------------

struct SequenceCase {
    const char *name;
    Setup setup;
    std::vector<std::string> args;
    Steps expected; // the whole course
    bool strayRemoved;
};
void PrintTo(const SequenceCase &c, std::ostream *os)
{
    *os << c.name;
}

// A test name for a string parameter: its letters and digits, and its index.
std::string wordName(const ::testing::TestParamInfo<const char *> &info)
{
    std::string name;
    for (const char *p = info.param; *p; p++)
        if (isalnum(static_cast<unsigned char>(*p))) name += *p;
    return name + "_" + std::to_string(info.index);
}

class Sequence : public BootTest, public ::testing::WithParamInterface<SequenceCase>
{
};

TEST_P(Sequence, CommandsSleepsAndInit)
{
    const SequenceCase &c = GetParam();
    c.setup(box);
    ASSERT_NO_FATAL_FAILURE(boot(c.args));
    EXPECT_EQ(steps(result), c.expected) << result.trace();
    expectInit("flash", c.args);
    EXPECT_EQ(box.exists("/&1"), !c.strayRemoved);
    EXPECT_EQ(result.console, "");
    const Steps targets = mountTargets(init());
    EXPECT_EQ(std::find(targets.begin(), targets.end(), "/media/quillon"), targets.end());
}

const Steps flashEnd = {flashUsrLogo, "init flash"};

INSTANTIATE_TEST_SUITE_P(
    Boot, Sequence,
    ::testing::Values(
        SequenceCase{"FreshBox", [](Box &) {}, {}, join(prologue(), flashEnd), true},
        SequenceCase{
            "ProcMounted",
            [](Box &b) { b.procMounts("rootfs / rootfs rw 0 0\nproc /proc proc rw 0 0\n"); },
            {},
            join(prologue(false), flashEnd),
            true},
        SequenceCase{
            "MountsWithoutProc",
            [](Box &b) { b.procMounts("rootfs / rootfs rw 0 0\nsysfs /sys sysfs rw 0 0\n"); },
            {},
            join(prologue(true), flashEnd),
            true},
        SequenceCase{"EmptyMounts",
                     [](Box &b) { b.procMounts(""); },
                     {},
                     join(prologue(true), flashEnd),
                     true},
        SequenceCase{"UdevRunning",
                     [](Box &b) { b.dir("/dev/.udev"); },
                     {},
                     join(prologue(true, false), flashEnd),
                     true},
        SequenceCase{"UdevMarkerNotADirectory",
                     [](Box &b) { b.file("/dev/.udev", ""); },
                     {},
                     join(prologue(true, true), flashEnd),
                     true},
        SequenceCase{"RunLevel", [](Box &b) { addStore(b, "img1"); }, {"3"}, {"init flash"}, false},
        SequenceCase{"TwoArguments",
                     [](Box &b) { addStore(b, "img1"); },
                     {"-s", "single"},
                     {"init flash"},
                     false}),
    [](const auto &info) { return std::string(info.param.name); });

// Every command reaches its program with the argument vector, working
// directory and redirections its command line says.
TEST_F(BootTest, ProgramsSeeTheirCommandLines)
{
    addStore(box, "img1");
    box.menu("img1");
    box.dir("/media/hdd/Qvault");
    box.file("/media/hdd/Qvault/.quillon", "");
    ASSERT_NO_FATAL_FAILURE(boot());
    const auto &recs = result.records;
    int checked = 0;
    bool rooted = false;
    for (size_t i = 0; i + 1 < recs.size(); i++) {
        if (recs[i].kind != "system") continue;
        const std::string cmd = recs[i].get("cmd");
        ASSERT_EQ(recs[i + 1].kind, "exec") << cmd;
        const boxrec::Record &run = recs[i + 1];
        std::string line;
        for (const std::string &a : run.all("arg"))
            line += (line.empty() ? "" : " ") + a;
        const std::string out = run.get("out"), err = run.get("err");
        if (out == "/dev/null" && err == "/dev/null")
            line += quietly;
        else if (out != "console")
            line += " > " + out;
        EXPECT_EQ(line, cmd);
        EXPECT_TRUE(err == "console" || err == "/dev/null") << cmd;
        const bool moduleStep = cmd.rfind("modprobe", 0) == 0 || cmd.rfind("cat ", 0) == 0 ||
                                (cmd == flashUsrLogo && !rooted);
        if (cmd == flashUsrLogo) rooted = true;
        EXPECT_EQ(run.get("cwd"), moduleStep ? "/sbin" : "/") << cmd;
        checked++;
    }
    EXPECT_EQ(checked, 19) << result.trace();
    EXPECT_EQ(result.commands().size(), 19u);
    EXPECT_EQ(box.read("/proc/stb/video/videomode"), "720p50\n");
}

// The working directory is saved before the module step and restored before
// the store is probed; one too long for its buffer comes back as the root.
TEST_F(BootTest, WorkingDirectoryRestoredBeforeProbing)
{
    const std::string longDir = "/var/" + std::string(60, 'd');
    const struct {
        std::string dir, restored;
    } cases[] = {{"/tmp", "/tmp"},
                 {"/var/" + std::string(44, 'd'), "/var/" + std::string(44, 'd')},
                 {"/var/" + std::string(45, 'd'), "/"},
                 {longDir, "/"}};
    for (const auto &c : cases) {
        Box b;
        addStore(b, "img1");
        b.dir(c.dir);
        ASSERT_TRUE(b.ready()) << b.error();
        BoxResult r = b.run({"/bin/sh", "-c", "cd " + c.dir + " && exec /sbin/init"});
        ASSERT_TRUE(r.ran()) << r.error;
        std::vector<std::string> cwds;
        for (const auto &e : r.execs())
            if (e.get("tool") == "modprobe" || e.get("arg") == "mount")
                cwds.push_back(e.get("cwd"));
        EXPECT_EQ(cwds, (Steps{"/sbin", "/sbin", "/sbin", c.restored})) << c.dir;
        ASSERT_NE(r.init(), nullptr);
        EXPECT_EQ(r.init()->get("root"), "image img1");
        EXPECT_EQ(r.init()->get("cwd"),
                  "(unreachable)" + b.root() + (c.restored == "/" ? "" : c.restored));
    }
}

// --- Discovery ----------------------------------------------------------------

struct DiscoveryCase {
    const char *name;
    Setup setup;
    // The probes expected, given the listing order of /dev/disk/by-uuid.
    std::function<Steps(const std::vector<std::string> &)> probes;
    std::string root; // which init took over; empty: decided by the listing order
};
void PrintTo(const DiscoveryCase &c, std::ostream *os)
{
    *os << c.name;
}

class Discovery : public BootTest, public ::testing::WithParamInterface<DiscoveryCase>
{
};

TEST_P(Discovery, ProbesInListingOrder)
{
    const DiscoveryCase &c = GetParam();
    c.setup(box);
    const auto order = box.byUuidOrder();
    ASSERT_NO_FATAL_FAILURE(boot());
    Steps probes;
    for (const std::string &cmd : result.commands())
        if (cmd.rfind("mount /dev/", 0) == 0 || cmd.rfind("umount ", 0) == 0) probes.push_back(cmd);
    EXPECT_EQ(probes, c.probes(order)) << result.trace();
    if (!c.root.empty()) {
        EXPECT_EQ(init().get("root"), c.root);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boot, Discovery,
    ::testing::Values(
        DiscoveryCase{"NoByUuidFolder", [](Box &b) { b.remove("/dev/disk/by-uuid"); },
                      [](const auto &) { return Steps{}; }, "flash"},
        DiscoveryCase{"EmptyByUuidFolder", [](Box &) {}, [](const auto &) { return Steps{}; },
                      "flash"},
        DiscoveryCase{"NonStoreUnmountedBeforeTheNext",
                      [](Box &b) {
                          addStore(b, "img1");
                          b.device(otherUuid).file("/data.txt", "no store here");
                      },
                      [](const std::vector<std::string> &order) {
                          Steps s;
                          for (const std::string &e : order) {
                              s.push_back(probe(e));
                              if (e == storeUuid) break;
                              s.push_back(unprobe(e));
                          }
                          return s;
                      },
                      "image img1"},
        DiscoveryCase{"FirstStoreWins",
                      [](Box &b) {
                          addStore(b, "img1", {"img1"}, storeUuid);
                          addStore(b, "img2", {"img2"}, otherUuid);
                      },
                      [](const std::vector<std::string> &order) { return Steps{probe(order[0])}; },
                      ""},
        DiscoveryCase{"FailedMountOverFlashSelection",
                      [](Box &b) {
                          b.link("../../nothing", "/dev/disk/by-uuid/0000-dead");
                          b.image("/media/quillon/Qvault/flashimg", "flashimg");
                          b.file("/media/quillon/Qvault/.quillon", "flashimg");
                      },
                      [](const auto &) { return Steps{probe("0000-dead")}; }, "image flashimg"}),
    [](const auto &info) { return std::string(info.param.name); });

// With two stores, the image that boots is the one named by the first.
TEST_F(BootTest, FirstStoreInListingOrderDecides)
{
    addStore(box, "img1", {"img1"}, storeUuid);
    addStore(box, "img2", {"img2"}, otherUuid);
    const std::string first = box.byUuidOrder()[0];
    ASSERT_NO_FATAL_FAILURE(boot());
    expectInit(first == storeUuid ? "image img1" : "image img2");
}

// --- Menu and selection ---------------------------------------------------------

struct SelectionCase {
    const char *name;
    Setup setup;
    std::string root;     // which init took over
    bool secondFlashLogo; // the flash branch showed its logo
};
void PrintTo(const SelectionCase &c, std::ostream *os)
{
    *os << c.name;
}

class Selection : public BootTest, public ::testing::WithParamInterface<SelectionCase>
{
};

TEST_P(Selection, BootsWhatTheFileNames)
{
    const SelectionCase &c = GetParam();
    c.setup(box);
    ASSERT_NO_FATAL_FAILURE(boot());
    expectInit(c.root);
    const Steps s = steps(result);
    int logos = 0;
    for (const std::string &cmd : s)
        logos += cmd == flashUsrLogo || cmd == flashBootLogo;
    EXPECT_EQ(logos, c.secondFlashLogo ? 2 : 1) << result.trace();
    EXPECT_EQ(box.exists("/&1"), c.root != "flash");
}

Setup storeWith(const char *selection, const Steps &images = {"img1", "img2"})
{
    return [=](Box &b) { addStore(b, selection, images); };
}

const std::string longName(255, 'n');

INSTANTIATE_TEST_SUITE_P(
    Boot, Selection,
    ::testing::Values(
        SelectionCase{"NameWithLineFeed", storeWith("img2\n"), "image img2", false},
        SelectionCase{"NameWithoutLineFeed", storeWith("img2"), "image img2", false},
        SelectionCase{"OnlyTheFirstLine", storeWith("img2\nimg1\n"), "image img2", false},
        SelectionCase{"CarriageReturnStays", storeWith("img2\r\n"), "flash", false},
        SelectionCase{"EmptyFile", storeWith(""), "flash", true},
        SelectionCase{"EmptyFirstLine", storeWith("\nimg1\n"), "flash", true},
        SelectionCase{"NoSelectionFile",
                      [](Box &b) {
                          Device &d = b.device(storeUuid);
                          d.store(nullptr);
                          d.image("img1");
                      },
                      "flash", true},
        SelectionCase{"FlashNamed", storeWith("Flash"), "flash", true},
        SelectionCase{"ImageDirectoryNamedFlash", storeWith("Flash", {"Flash"}), "flash", true},
        SelectionCase{"LetterCaseCounts", storeWith("flash", {"Flash", "img1"}), "flash", false},
        SelectionCase{"DotName", storeWith(".hidden", {".hidden"}), "image .hidden", false},
        SelectionCase{"LongestName", storeWith(longName.c_str(), {longName}), "image " + longName,
                      false},
        SelectionCase{"DeletedImage", storeWith("gone"), "flash", false},
        SelectionCase{"MenuChoiceDecides",
                      [](Box &b) {
                          addStore(b, "img1", {"img1", "img2"});
                          b.menu("img2");
                      },
                      "image img2", false},
        SelectionCase{"MenuWritingNothingLeavesTheFile",
                      [](Box &b) {
                          addStore(b, "img1", {"img1", "img2"});
                          b.menu(nullptr);
                      },
                      "image img1", false}),
    [](const auto &info) { return std::string(info.param.name); });

// The menu runs through the shell, with its path as the whole command line,
// after discovery and before the selection is read.
TEST_F(BootTest, MenuRunsWhenPresent)
{
    const std::string menu = "/usr/lib/enigma2/python/Plugins/Extensions/Quillon/contrib/quisel";
    for (bool present : {false, true}) {
        Box b;
        addStore(b, "img1");
        if (present) b.menu("Flash");
        ASSERT_TRUE(b.ready()) << b.error();
        BoxResult r = b.boot();
        ASSERT_TRUE(r.ran()) << r.error;
        Steps expected = join(prologue(), {probe(storeUuid)});
        if (present) expected.push_back(menu);
        expected = join(expected, present ? Steps{flashUsrLogo, "init flash"}
                                          : join(handoff("img1"), {"init image img1"}));
        EXPECT_EQ(steps(r), expected) << r.trace();
        if (present) {
            ASSERT_EQ(r.execs("quisel").size(), 1u);
            EXPECT_EQ(r.execs("quisel")[0].all("arg"), Steps{menu});
        }
    }
}

// --- Logos ----------------------------------------------------------------------

struct LogoCase {
    const char *name;
    Setup setup;
    std::string logoCommand; // the command after the menu
    bool failureOnConsole;
};
void PrintTo(const LogoCase &c, std::ostream *os)
{
    *os << c.name;
}

class Logo : public BootTest, public ::testing::WithParamInterface<LogoCase>
{
};

TEST_P(Logo, Branch)
{
    const LogoCase &c = GetParam();
    c.setup(box);
    ASSERT_NO_FATAL_FAILURE(boot());
    const Steps s = steps(result);
    const Steps pro = prologue();
    ASSERT_GT(s.size(), pro.size() + 1);
    EXPECT_EQ(s[pro.size() + 1], c.logoCommand) << result.trace();
    EXPECT_EQ(result.console.find("showiframe") != std::string::npos, c.failureOnConsole)
        << result.console;
}

const std::string imageLogo = "/usr/bin/showiframe /media/quillon/Qvault/img1";

INSTANTIATE_TEST_SUITE_P(
    Boot, Logo,
    ::testing::Values(
        LogoCase{"FlashWithBootLogo",
                 [](Box &b) {
                     addStore(b, "Flash");
                     b.file("/boot/bootlogo.mvi", "boot logo");
                 },
                 flashBootLogo, false},
        LogoCase{"FlashWithoutBootLogo", [](Box &b) { addStore(b, "Flash"); }, flashUsrLogo, false},
        LogoCase{"ImageWithBothLogos",
                 [](Box &b) { addStore(b, "img1").file("/Qvault/img1/boot/bootlogo.mvi", "x"); },
                 imageLogo + "/usr/share/bootlogo.mvi", false},
        LogoCase{"ImageWithBootLogoOnly",
                 [](Box &b) {
                     Device &d = addStore(b, "img1");
                     d.remove("/Qvault/img1/usr/share/bootlogo.mvi");
                     d.file("/Qvault/img1/boot/bootlogo.mvi", "x");
                 },
                 imageLogo + "/boot/bootlogo.mvi", false},
        LogoCase{"ImageWithoutLogo",
                 [](Box &b) { addStore(b, "img1").remove("/Qvault/img1/usr/share/bootlogo.mvi"); },
                 imageLogo + "/boot/bootlogo.mvi", true}),
    [](const auto &info) { return std::string(info.param.name); });

// --- Hand-off -------------------------------------------------------------------

TEST_F(BootTest, HandOffIntoTheImage)
{
    Device &dev = addStore(box, "img1", {"img1", "img2"});
    // A link where the store's mount point must be is replaced by a directory.
    dev.link("/nowhere", "/Qvault/img1/media/quillon");
    for (const char *place : {"/media/hdd", "/media/usb"}) {
        box.dir(std::string(place) + "/Qvault");
        box.file(std::string(place) + "/Qvault/.quillon", "");
    }
    ASSERT_NO_FATAL_FAILURE(boot());
    EXPECT_EQ(steps(result),
              join(join(prologue(), {probe(storeUuid)}),
                   join(handoff("img1", {"/media/hdd", "/media/usb"}), {"init image img1"})))
        << result.trace();
    expectInit("image img1");
    // The image sees the running system's /dev, /proc and /sys and the store.
    EXPECT_EQ(mountTargets(init()),
              (Steps{"/dev", "/proc", "/sys", "/media/quillon", "/media/hdd", "/media/usb"}));
    // The working directory is still the flash's root, outside the new root.
    EXPECT_EQ(init().get("cwd"), "(unreachable)" + box.root());
    // "/&1" went in the image, not on the flash.
    EXPECT_EQ(init().get("stray"), "absent");
    EXPECT_TRUE(box.exists("/&1"));
    EXPECT_EQ(dev.typeAfterRun("/Qvault/img1/media/quillon"), "directory");
    EXPECT_EQ(dev.typeAfterRun("/Qvault/img1/&1"), "");
    EXPECT_EQ(dev.typeAfterRun("/Qvault/img2/&1"), "regular");
    // The mount point's removal and creation are quiet; so is everything else here.
    EXPECT_EQ(result.console, "");
}

TEST_F(BootTest, ExistingMountPointDirectoryIsKept)
{
    Device &dev = addStore(box, "img1");
    dev.file("/Qvault/img1/media/quillon/keep", "kept");
    ASSERT_NO_FATAL_FAILURE(boot());
    expectInit("image img1");
    const auto rm = result.execs("rm"), mkdir = result.execs("mkdir");
    ASSERT_EQ(rm.size(), 1u);
    ASSERT_EQ(mkdir.size(), 1u);
    EXPECT_NE(rm[0].get("result").find("Is a directory"), std::string::npos);
    EXPECT_NE(mkdir[0].get("result").find("File exists"), std::string::npos);
    EXPECT_EQ(dev.readAfterRun("/Qvault/img1/media/quillon/keep"), "kept");
    EXPECT_EQ(result.console, "");
}

TEST_F(BootTest, DeletedImageBootsTheFlash)
{
    addStore(box, "gone");
    ASSERT_NO_FATAL_FAILURE(boot());
    EXPECT_EQ(steps(result), join(prologue(), {probe(storeUuid), "init flash"}));
    expectInit("flash");
    EXPECT_FALSE(box.exists("/&1"));
}

// --- Names from the store reach the shell as literal words ----------------------

// Each name, if the shell ever read it as code, would create the canary.
const char *const hostileNames[] = {"two words",      "tab\tname",
                                    "it's",           "say \"hi\"",
                                    "back\\slash",    "$(touch canary)",
                                    "`touch canary`", "x;touch canary",
                                    "x&touch canary", "x|touch canary",
                                    "x>canary",       "(touch canary)",
                                    "*?[]~#!",        "-rf",
                                    "\x80\xfe\xff",   "x'$(touch canary)'",
                                    "{a,b}",          "x\\x20y"};

class HostileImageName : public BootTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(HostileImageName, BootsAsOneLiteralWord)
{
    const std::string name = GetParam();
    addStore(box, name.c_str(), {name});
    box.dir("/media/usb3/Qvault");
    box.file("/media/usb3/Qvault/.quillon", "");
    ASSERT_NO_FATAL_FAILURE(boot());
    expectInit("image " + name);
    const std::string img = "/media/quillon/Qvault/" + name;
    const std::vector<Steps> expected = {
        {"/usr/bin/showiframe", img + "/usr/share/bootlogo.mvi"},
        {"/bin/mount", "-o", "bind", "/dev", img + "/dev"},
        {"/bin/mount", "-o", "bind", "/proc", img + "/proc"},
        {"/bin/mount", "-o", "bind", "/sys", img + "/sys"},
        {"rm", img + "/media/quillon"},
        {"mkdir", img + "/media/quillon"},
        {"/bin/mount", "-o", "bind", "/media/quillon", img + "/media/quillon"},
        {"/bin/mount", "-o", "bind", "/media/quillon", img + "/media/usb3"}};
    std::vector<Steps> got;
    for (const auto &r : result.execs())
        if (r.all("arg").back().rfind(img, 0) == 0) got.push_back(r.all("arg"));
    EXPECT_EQ(got, expected) << result.trace();
    EXPECT_EQ(mountTargets(init()),
              (Steps{"/dev", "/proc", "/sys", "/media/quillon", "/media/usb3"}));
    EXPECT_FALSE(box.exists("/canary"));
}

INSTANTIATE_TEST_SUITE_P(Boot, HostileImageName, ::testing::ValuesIn(hostileNames), wordName);

class HostileDeviceName : public BootTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(HostileDeviceName, ProbedAsOneLiteralWord)
{
    const std::string entry = GetParam();
    Device &dev = box.device(storeUuid, entry);
    dev.store("img1");
    dev.image("img1");
    ASSERT_NO_FATAL_FAILURE(boot());
    std::vector<Steps> probes;
    for (const auto &r : result.execs("mount"))
        if (r.get("arg") == "mount") probes.push_back(r.all("arg"));
    EXPECT_EQ(probes,
              (std::vector<Steps>{{"mount", "/dev/disk/by-uuid/" + entry, "/media/quillon"}}));
    expectInit("image img1");
    EXPECT_FALSE(box.exists("/canary"));
}

INSTANTIATE_TEST_SUITE_P(Boot, HostileDeviceName,
                         ::testing::Values("Seagate\\x20Disk", "x;touch canary", "$(touch canary)",
                                           "it's here", "-o remount"));

// --- The selection never leaves the store ----------------------------------------

class OutsideTheStore : public BootTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(OutsideTheStore, BootsTheFlashLikeAMissingImage)
{
    Device &dev = addStore(box, GetParam());
    // Something bootable where each of these names would lead.
    dev.image("img1");
    dev.dir("/Qvault/sbin");
    dev.file("/Qvault/.boxsim-root", "store\n");
    ASSERT_NO_FATAL_FAILURE(boot());
    EXPECT_EQ(steps(result), join(prologue(), {probe(storeUuid), "init flash"})) << result.trace();
    EXPECT_FALSE(box.exists("/&1"));
}

INSTANTIATE_TEST_SUITE_P(Boot, OutsideTheStore,
                         ::testing::Values(".", "..", "img1/", "./img1", "../Qvault/img1",
                                           "/media/quillon/Qvault/img1", "img1/../img1"),
                         wordName);

// --- PID 1 falls back to the flash's init ------------------------------------------

struct FallbackCase {
    const char *name;
    Setup setup;
    std::string root;     // which init took over; empty: none, bootinit ended
    std::string startDir; // working directory bootinit starts in; empty: the root
};
void PrintTo(const FallbackCase &c, std::ostream *os)
{
    *os << c.name;
}

class Fallback : public BootTest, public ::testing::WithParamInterface<FallbackCase>
{
};

TEST_P(Fallback, WhenTheImageInitCannotRun)
{
    const FallbackCase &c = GetParam();
    c.setup(box);
    if (c.startDir.empty()) {
        ASSERT_NO_FATAL_FAILURE(boot());
    } else {
        box.dir(c.startDir);
        result = box.run({"/bin/sh", "-c", "cd " + c.startDir + " && exec /sbin/init"});
        ASSERT_TRUE(result.ran()) << result.error;
    }
    if (c.root.empty()) {
        EXPECT_EQ(result.init(), nullptr) << result.trace();
        EXPECT_EQ(result.exitCode(), 0);
    } else {
        expectInit(c.root);
        EXPECT_EQ(init().get("cwd"), "/");
        // The hand-off's binds stay in place.
        const Steps targets = mountTargets(init());
        EXPECT_NE(std::find(targets.begin(), targets.end(), "/media/quillon/Qvault/img1/proc"),
                  targets.end());
    }
    EXPECT_EQ(result.console, "");
}

INSTANTIATE_TEST_SUITE_P(
    Boot, Fallback,
    ::testing::Values(
        FallbackCase{"ImageHasNoInit",
                     [](Box &b) { addStore(b, "img1").remove("/Qvault/img1/sbin/init.sysvinit"); },
                     "flash", ""},
        FallbackCase{
            "ImageInitNotExecutable",
            [](Box &b) { addStore(b, "img1").file("/Qvault/img1/sbin/init.sysvinit", "data"); },
            "flash", ""},
        FallbackCase{"ImageInitIsADirectory",
                     [](Box &b) {
                         Device &d = addStore(b, "img1");
                         d.remove("/Qvault/img1/sbin/init.sysvinit");
                         d.dir("/Qvault/img1/sbin/init.sysvinit");
                     },
                     "flash", ""},
        FallbackCase{"ImageHasNoInitStartedElsewhere",
                     [](Box &b) { addStore(b, "img1").remove("/Qvault/img1/sbin/init.sysvinit"); },
                     "flash", "/tmp"},
        FallbackCase{"NoInitAnywhere",
                     [](Box &b) {
                         addStore(b, "img1").remove("/Qvault/img1/sbin/init.sysvinit");
                         b.remove("/sbin/init.sysvinit");
                     },
                     "", ""},
        FallbackCase{"FlashWithoutInit", [](Box &b) { b.remove("/sbin/init.sysvinit"); }, "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// The scenario builder runs a program as PID 1 or as a child of a shell.
TEST(BoxApi, RunsAsPid1OrAsAChild)
{
    for (bool asPid1 : {true, false}) {
        Box b;
        ASSERT_TRUE(b.ready()) << b.error();
        BoxResult r = b.run({"/sbin/init.sysvinit", "x y"}, {}, asPid1);
        ASSERT_TRUE(r.ran()) << r.error;
        ASSERT_NE(r.init(), nullptr);
        EXPECT_EQ(r.init()->pid == 1, asPid1);
        EXPECT_EQ(r.init()->all("arg"), (Steps{"/sbin/init.sysvinit", "x y"}));
        EXPECT_EQ(r.exitCode(), 0);
    }
}

// --- Nothing leaks --------------------------------------------------------------------

TEST_F(BootTest, NothingSurvivesTheBox)
{
    Device &dev = addStore(box, "img1");
    (void)dev;
    ASSERT_NO_FATAL_FAILURE(boot());
    expectInit("image img1");
    FILE *m = fopen("/proc/self/mounts", "r");
    ASSERT_NE(m, nullptr);
    char line[4096];
    while (fgets(line, sizeof line, m))
        EXPECT_EQ(strstr(line, box.root().c_str()), nullptr) << line;
    fclose(m);
    FILE *l = popen("losetup -a", "r");
    ASSERT_NE(l, nullptr);
    while (fgets(line, sizeof line, l))
        EXPECT_EQ(strstr(line, box.root().substr(0, box.root().rfind('/')).c_str()), nullptr)
            << line;
    pclose(l);
}

} // namespace
