// The boot selector's pure pieces: trimming, the reading rules, the quoting
// and the command lines it hands to the shell.
#include "bootinit.h"
#include "bootrules.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace
{

// A stream over the given bytes (fmemopen works on a copy we keep alive).
struct Stream {
    std::string bytes;
    FILE *file;
    explicit Stream(const std::string &text) : bytes(text)
    {
        file = bytes.empty() ? fopen("/dev/null", "r") : fmemopen(&bytes[0], bytes.size(), "r");
    }
    ~Stream() { fclose(file); }
};

TEST(StrTrim, RemovesOnlyTheFirstLineFeed)
{
    const struct {
        const char *in, *out;
    } cases[] = {{"img1\n", "img1"},     {"img1", "img1"},           {"\n", ""}, {"a\nb\n", "ab\n"},
                 {"img1\r\n", "img1\r"}, {" img 1\t\n", " img 1\t"}, {"", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(Str_trim(c.in), c.out) << c.in;
}

TEST(BootSelection, FirstLineWithoutItsLineFeed)
{
    const std::string longName(300, 'x');
    const struct {
        std::string content, selection;
    } cases[] = {
        {"img1\n", "img1"},
        {"img1", "img1"},
        {"img1\nimg2\n", "img1"},
        {"img1\r\n", "img1\r"},
        {"", "Flash"},
        {"\n", "Flash"},
        {"\nimg2\n", "Flash"},
        {"flash\n", "flash"},
        {" spaced name\t\n", " spaced name\t"},
        {longName, longName.substr(0, 255)},
    };
    for (const auto &c : cases) {
        Stream s(c.content);
        EXPECT_EQ(ReadBootSelection(s.file), c.selection) << c.content;
    }
    EXPECT_EQ(ReadBootSelection(nullptr), "Flash");
}

TEST(ProcTest, AnyLineNamingProc)
{
    const struct {
        const char *mounts;
        bool mounted;
    } cases[] = {
        {"proc /proc proc rw 0 0\n", true},
        {"rootfs / rootfs rw 0 0\nsysfs /sys sysfs rw 0 0\n", false},
        {"rootfs / rootfs rw 0 0\nnone /media/x/proc tmpfs rw 0 0\n", true},
        {"/procedure\n", true},
        {"/pro c\n", false},
        {"", false},
    };
    for (const auto &c : cases) {
        Stream s(c.mounts);
        EXPECT_EQ(ProcIsMounted(s.file), c.mounted) << c.mounts;
    }
}

TEST(ShellWord, PlainPiecesStayAndOthersAreQuoted)
{
    const struct {
        const char *piece, *word;
    } cases[] = {
        {"img1", "img1"},
        {"/media/quillon/Qvault/My-Image_2.0", "/media/quillon/Qvault/My-Image_2.0"},
        {"-rf", "-rf"},
        {"my img", "'my img'"},
        {"it's", "'it'\\''s'"},
        {"$(touch /x)", "'$(touch /x)'"},
        {"a\\x20b", "'a\\x20b'"},
        {"tab\there", "'tab\there'"},
        {"\xe4\xf6", "'\xe4\xf6'"},
        {"", "''"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShellWord(c.piece), c.word) << c.piece;
}

TEST(ShellWord, ShellReadsEveryPieceBackLiterally)
{
    std::string hostile = " \t'\"\\$`;&|<>()*?[]~#!-\x80\xff=%{}^";
    for (const std::string &piece : {hostile, std::string("-n"), std::string("''"),
                                     std::string("a'b'c"), std::string("x\ny")}) {
        std::string command = "printf %s " + ShellWord(piece);
        FILE *p = popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string got;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            got.append(buf, n);
        pclose(p);
        EXPECT_EQ(got, piece) << command;
    }
}

TEST(ImageName, OnlyDirectoryEntryNames)
{
    const struct {
        const char *name;
        bool ok;
    } cases[] = {{"img1", true},  {".hidden", true}, {"...", true}, {"my img", true},
                 {"Flash", true}, {".", false},      {"..", false}, {"", false},
                 {"a/b", false},  {"../..", false},  {"/", false}};
    for (const auto &c : cases)
        EXPECT_EQ(IsImageName(c.name), c.ok) << c.name;
}

TEST(CommandLines, BootSequence)
{
    EXPECT_EQ(ProcCommands(),
              (std::vector<std::string>{"/bin/mount -t proc proc /proc > /dev/null 2>&1",
                                        "/bin/mount -t sysfs sysfs /sys > /dev/null 2>&1",
                                        "/sbin/depmod -Ae > /dev/null 2>&1"}));
    EXPECT_EQ(UdevCommand(), "/etc/init.d/udev start > /dev/null 2>&1");
    EXPECT_EQ(ModuleCommands(), (std::vector<std::string>{
                                    "modprobe dreambox_keyboard", "modprobe fp", "modprobe bcm7400",
                                    "cat /etc/videomode > /proc/stb/video/videomode"}));
    EXPECT_EQ(LogoCommand("/usr/share/bootlogo.mvi"),
              "/usr/bin/showiframe /usr/share/bootlogo.mvi > /dev/null 2>&1");
    EXPECT_EQ(MountProbeCommand("/dev/disk/by-uuid/0a1b-C2_d.e"),
              "mount /dev/disk/by-uuid/0a1b-C2_d.e /media/quillon > /dev/null 2>&1");
    EXPECT_EQ(UmountProbeCommand("/dev/disk/by-uuid/0a1b-C2_d.e"),
              "umount /dev/disk/by-uuid/0a1b-C2_d.e /media/quillon > /dev/null 2>&1");
    EXPECT_EQ(MountProbeCommand("/dev/disk/by-uuid/a\\x20b"),
              "mount '/dev/disk/by-uuid/a\\x20b' /media/quillon > /dev/null 2>&1");
}

TEST(CommandLines, HandOff)
{
    const bool none[6] = {false, false, false, false, false, false};
    const bool hddUsb[6] = {false, false, true, true, false, false};
    const std::string img = "/media/quillon/Qvault/img1";
    const std::vector<std::string> common = {
        "/bin/mount -o bind /dev " + img + "/dev",
        "/bin/mount -o bind /proc " + img + "/proc",
        "/bin/mount -o bind /sys " + img + "/sys",
        "rm " + img + "/media/quillon > /dev/null 2>&1",
        "mkdir " + img + "/media/quillon > /dev/null 2>&1",
        "/bin/mount -o bind /media/quillon " + img + "/media/quillon",
    };
    std::vector<std::string> expect = {"/usr/bin/showiframe " + img + "/usr/share/bootlogo.mvi"};
    expect.insert(expect.end(), common.begin(), common.end());
    EXPECT_EQ(HandoffCommands("img1", true, none), expect);

    expect[0] = "/usr/bin/showiframe " + img + "/boot/bootlogo.mvi";
    expect.push_back("/bin/mount -o bind /media/quillon " + img + "/media/hdd");
    expect.push_back("/bin/mount -o bind /media/quillon " + img + "/media/usb");
    EXPECT_EQ(HandoffCommands("img1", false, hddUsb), expect);

    const bool all[6] = {true, true, true, true, true, true};
    auto quoted = HandoffCommands("a b", false, all);
    ASSERT_EQ(quoted.size(), 13u);
    EXPECT_EQ(quoted[1], "/bin/mount -o bind /dev '/media/quillon/Qvault/a b'/dev");
    EXPECT_EQ(quoted[12],
              "/bin/mount -o bind /media/quillon '/media/quillon/Qvault/a b'/media/usb3");
}

TEST(DirectoryTest, OnlyDirectories)
{
    char tmpl[] = "/tmp/dirtest.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string file = dir + "/file", link = dir + "/link", dangling = dir + "/dangling";
    fclose(fopen(file.c_str(), "w"));
    ASSERT_EQ(symlink(dir.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", dangling.c_str()), 0);
    EXPECT_EQ(DirectoryExists(dir.c_str()), 1);
    EXPECT_EQ(DirectoryExists(link.c_str()), 1);
    EXPECT_EQ(DirectoryExists(file.c_str()), 0);
    EXPECT_EQ(DirectoryExists(dangling.c_str()), 0);
    EXPECT_EQ(DirectoryExists((dir + "/missing").c_str()), 0);
    unlink(file.c_str());
    unlink(link.c_str());
    unlink(dangling.c_str());
    rmdir(dir.c_str());
}

} // namespace
