// The box build's programs in the simulated box: they are 32-bit
// little-endian MIPS programs (o32), and the menu reads the remote control's
// 16-byte records and switches the driver to explicit updates with the
// request the box's driver knows, 0x80014621 there.
#include "menubox.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

struct Program {
    const char *name;
    const char *path;
};

class BoxBuildPrograms : public ::testing::TestWithParam<Program>
{
};

TEST_P(BoxBuildPrograms, AreMipselO32)
{
    Elf32_Ehdr header{};
    FILE *f = fopen(GetParam().path, "rb");
    ASSERT_NE(f, nullptr) << GetParam().path;
    size_t got = fread(&header, 1, sizeof header, f);
    fclose(f);
    ASSERT_EQ(got, sizeof header) << GetParam().path;
    EXPECT_EQ(std::string((const char *)header.e_ident, SELFMAG), ELFMAG);
    EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS32);
    EXPECT_EQ(header.e_ident[EI_DATA], ELFDATA2LSB);
    EXPECT_EQ(header.e_machine, EM_MIPS);
    EXPECT_EQ(header.e_flags & EF_MIPS_ABI2, 0u) << "n32, not o32";
}

INSTANTIATE_TEST_SUITE_P(Box, BoxBuildPrograms,
                         ::testing::Values(Program{"quisel", QUISEL_BINARY},
                                           Program{"bootinit", BOX_BOOTINIT},
                                           Program{"libboxsim", BOX_PRELOAD},
                                           Program{"fbdriver", BOX_FBDRIVER},
                                           Program{"clockprobe", BOX_CLOCKPROBE}),
                         [](const auto &info) { return std::string(info.param.name); });

// A down key whose press comes in a read of the given size: the menu takes
// a read of a whole record, 16 bytes on the box, and nothing shorter.
struct RecordCase {
    const char *name;
    int pressBytes; // -1: the whole record as the box's driver writes it
    const char *selection;
};

class RecordSize : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(RecordSize, AWholeRecordMovesTheHighlight)
{
    MenuBox box;
    box.images({"img1"});
    RemoteDevice remote;
    RemoteRecord press;
    press.at = 0.5;
    press.code = 108; // KEY_DOWN
    press.value = 1;
    press.shortBytes = GetParam().pressBytes;
    RemoteRecord release = press;
    release.at = 0.7;
    release.value = 0;
    release.shortBytes = -1;
    remote.records = {press, release};
    box.remote(0, remote);
    MenuRun run = box.run();
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(box.selection(), GetParam().selection);
}

INSTANTIATE_TEST_SUITE_P(Box, RecordSize,
                         ::testing::Values(RecordCase{"WholeRecord", -1, "img1"},
                                           RecordCase{"SixteenBytes", 16, "img1"},
                                           RecordCase{"FifteenBytes", 15, "Flash"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(UpdateRequest, TheDriverTakesTheMenusExplicitUpdateSwitch)
{
    MenuBox box;
    MenuRun run = box.run();
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::vector<std::string> log = screen_log(box.root);
    // The box's driver, built for mipsel, takes _IOW('F', 0x21, unsigned
    // char) as the update switch and reports any other request number.
    EXPECT_NE(std::find(log.begin(), log.end(), "fb0 UPDATE 1"), log.end());
    for (const std::string &line : log)
        EXPECT_EQ(line.find("not supported"), std::string::npos) << line;
}

} // namespace
