// The menu's reading rules on given streams, records and buffers.
#include "menurules.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace
{

// A stream holding exactly the given bytes.
struct Stream {
    FILE *f;
    explicit Stream(const std::string &bytes) : f(tmpfile())
    {
        fwrite(bytes.data(), 1, bytes.size(), f);
        rewind(f);
    }
    ~Stream() { fclose(f); }
};

input_event record(unsigned type, unsigned code, int value)
{
    input_event ev{};
    ev.type = (uint16_t)type;
    ev.code = (uint16_t)code;
    ev.value = value;
    return ev;
}

TEST(KeyTable, EveryListedCodeAndSomeUnlisted)
{
    const struct {
        unsigned code;
        int menuCode;
    } cases[] = {
        {2, 1},    {3, 2},    {4, 3},    {5, 4},    {6, 5},    {7, 6},      {8, 7},
        {9, 8},    {10, 9},   {11, 0},   {103, 12}, {105, 11}, {106, 10},   {108, 13},
        {113, 15}, {114, 22}, {115, 21}, {116, 16}, {138, 23}, {139, 24},   {174, 31},
        {352, 14}, {398, 19}, {399, 17}, {400, 18}, {401, 20}, {0, -1},     {1, -1},
        {12, -1},  {104, -1}, {107, -1}, {353, -1}, {402, -1}, {65535, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rcMenuCode(c.code), c.menuCode) << "code " << c.code;
}

// One poll: the record taken (none when code is -1) and what it must give.
struct Poll {
    int type, code, value;
    int accepted;
    int rcCode;
    int lastCode;
};

struct RecordCase {
    const char *what;
    std::vector<Poll> polls;
};

void PrintTo(const RecordCase &c, std::ostream *os)
{
    *os << c.what;
}

class Records : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(Records, EachPollDecides)
{
    int16_t rcCode = noKey;
    uint16_t lastCode = 0;
    int n = 0;
    for (const Poll &p : GetParam().polls) {
        input_event ev = record(p.type, p.code, p.value);
        int got = rcTakeRecord(p.code < 0 ? nullptr : &ev, &rcCode, &lastCode);
        EXPECT_EQ(got, p.accepted) << "poll " << n;
        EXPECT_EQ(rcCode, p.rcCode) << "poll " << n;
        EXPECT_EQ(lastCode, p.lastCode) << "poll " << n;
        n++;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Polls, Records,
    ::testing::Values(
        RecordCase{"none", {{0, -1, 0, 0, -1, 0}}},
        RecordCase{"held key: one press, repeats dropped until the release",
                   {{1, 108, 1, 1, 13, 108},
                    {1, 108, 2, 0, -1, 108},
                    {1, 108, 2, 0, -1, 108},
                    {1, 108, 0, 0, -1, 0},
                    {1, 108, 1, 1, 13, 108}}},
        RecordCase{"press twice without a release in between",
                   {{1, 103, 1, 1, 12, 103}, {1, 103, 1, 0, -1, 103}}},
        RecordCase{"zero value of another type is a release",
                   {{1, 103, 1, 1, 12, 103}, {0, 0, 0, 0, -1, 0}, {1, 103, 2, 1, 12, 103}}},
        RecordCase{"another type with a value is looked up by its code", {{4, 4, 7, 1, 3, 4}}},
        RecordCase{"unlisted key leaves rcCode as the poll before set it",
                   {{1, 352, 1, 1, 14, 352},
                    {1, 1, 1, 1, 14, 1},
                    {0, -1, 0, 0, -1, 1},
                    {1, 30, 1, 1, -1, 30}}},
        RecordCase{"a different key while one is held is a new press",
                   {{1, 108, 1, 1, 13, 108}, {1, 103, 1, 1, 12, 103}}}),
    [](const ::testing::TestParamInfo<RecordCase> &info) {
        return "case" + std::to_string(info.index);
    });

TEST(RemoteName, MatchesOnlyTheExactTextWithinTheBuffer)
{
    const struct {
        const char *name;
        bool remote;
    } cases[] = {
        {"dreambox remote control (native)", true},
        {"remote control", true},
        {"xremote controlx", true},
        {"Remote Control", false},
        {"dreambox REMOTE CONTROL", false},
        {"remote  control", false},
        {"front panel keyboard", false},
        {"", false},
    };
    for (const auto &c : cases) {
        char buf[128] = {};
        strncpy(buf, c.name, sizeof buf - 1);
        EXPECT_EQ(rcNameIsRemote(buf, sizeof buf), c.remote) << c.name;
    }

    // A name of 128 characters or more fills the buffer without a zero byte:
    // only the buffer's bytes count, never what lies after it.
    const std::string text = "remote control";
    for (size_t at : {size_t(0), size_t(128) - text.size(), size_t(128) - text.size() + 1}) {
        char big[160];
        memset(big, 'x', sizeof big);
        memcpy(big + at, text.data(), text.size());
        EXPECT_EQ(rcNameIsRemote(big, 128), at + text.size() <= 128) << "text at " << at;
    }
}

TEST(Selection, FirstLineWithoutItsLineFeedPicksTheLastEqualAmongTheFirstTen)
{
    const std::vector<std::string> entries = {"Flash", "a", "b", "Flash", "c d",     ".hidden",
                                              "e",     "f", "g", "h",     "eleventh"};
    const std::string long99(99, 'n'), long100(100, 'n');
    const struct {
        std::string file;
        std::vector<std::string> entries;
        int index;
    } cases[] = {
        {"b", entries, 2},
        {"b\n", entries, 2},
        {"b\r\n", entries, 0},
        {"b \n", entries, 0},
        {"b\nc d", entries, 2},
        {"c d\n", entries, 4},
        {".hidden", entries, 5},
        {"", entries, 0},
        {"\nb\n", entries, 0},
        {"B", entries, 0},
        {"Flash", entries, 3},
        {"h", entries, 9},
        {"eleventh", entries, 0},
        {long99, {"Flash", long99}, 1},
        {long100, {"Flash", long100}, 0},
        {long100, {"Flash", long99}, 1},
    };
    for (const auto &c : cases) {
        Stream in(c.file);
        EXPECT_EQ(selectionIndex(selectionRead(in.f), c.entries), c.index) << "[" << c.file << "]";
    }
}

TEST(VersionLine, FirstLineWithItsLineFeedCutToTheSlot)
{
    const std::string longLine(300, 'v');
    const struct {
        std::string file;
        std::string slot;
    } cases[] = {
        {"2.3\n", "--Quillon-- version 2.3\n "},
        {"2.3", "--Quillon-- version 2.3 "},
        {"2.3\nsecond line\n", "--Quillon-- version 2.3\n "},
        {"\n", "--Quillon-- version \n "},
        {"", ""},
        {longLine, ("--Quillon-- version " + longLine).substr(0, 127)},
    };
    for (const auto &c : cases) {
        Stream in(c.file);
        char slot[infoSlotSize];
        memset(slot, '#', sizeof slot);
        versionLineRead(in.f, slot);
        EXPECT_EQ(std::string(slot), c.slot);
    }
}

TEST(PackageStatus, VersionsOfTheThreePackages)
{
    const std::string longValue(200, '7');
    const struct {
        std::string file;
        std::string kernel, drivers, secondStage;
    } cases[] = {
        {"", "[ n/a ]", "[ n/a ]", "[ n/a ]"},
        {"Package: kernel-image\nVersion: 2.6.18-7.1\n", "[  2.6.18-7.1 ]", "[ n/a ]", "[ n/a ]"},
        {"Package: dreambox-dvb-modules\nVersion: 1.2\n\nPackage: dreambox-secondstage\n"
         "Version: 84\nStatus: install ok\n",
         "[ n/a ]", "[  1.2 ]", "[  84 ]"},
        // The last stanza wins; a longer package name matches too.
        {"Package: kernel-image\nVersion: 1\n\nPackage: kernel-image-2.6.18\nVersion: 2\n",
         "[  2 ]", "[ n/a ]", "[ n/a ]"},
        // A package line at the end of the file gives its own value.
        {"Package: foo\nVersion: 3\nPackage: kernel-image\n", "[  kernel-image ]", "[ n/a ]",
         "[ n/a ]"},
        {"Package: kernel-image", "[  kernel-image ]", "[ n/a ]", "[ n/a ]"},
        // A following line without a blank gives the whole line.
        {"Package: dreambox-secondstage\nnoblank\n", "[ n/a ]", "[ n/a ]", "[ noblank ]"},
        // The tests after a match look at the following line.
        {"Package: dreambox-dvb-modules\nPackage: kernel-image\nVersion: 9\n", "[  9 ]",
         "[  kernel-image ]", "[ n/a ]"},
        // Upper and lower case differ.
        {"package: kernel-image\nVersion: 1\n", "[ n/a ]", "[ n/a ]", "[ n/a ]"},
        // A value too long for the slot is cut, the brackets kept.
        {"Package: kernel-image\nVersion: " + longValue + "\n",
         "[  " + std::string(122, '7') + " ]", "[ n/a ]", "[ n/a ]"},
        // A line longer than the buffer is read in pieces, each a line.
        {std::string(255, 'x') + "Package: kernel-image\nVersion: 5\n", "[  5 ]", "[ n/a ]",
         "[ n/a ]"},
    };
    for (const auto &c : cases) {
        char slots[infoSlotCount][infoSlotSize] = {};
        for (int s = infoKernel; s <= infoSecondStage; s++)
            strcpy(slots[s], "[ n/a ]");
        Stream in(c.file);
        packageVersionsRead(in.f, slots);
        EXPECT_EQ(std::string(slots[infoKernel]), c.kernel) << c.file;
        EXPECT_EQ(std::string(slots[infoDrivers]), c.drivers) << c.file;
        EXPECT_EQ(std::string(slots[infoSecondStage]), c.secondStage) << c.file;
        EXPECT_LE(strlen(slots[infoKernel]), 127u);
    }
}

} // namespace

namespace
{

// A picture file can claim up to a million pixels a side in a few bytes; the
// menu allocates only for pictures it is willing to show.
TEST(PictureBuffer, BytesOnlyForSizesTheMenuLoads)
{
    const struct {
        int width, height;
        size_t bytes;
    } cases[] = {
        {720, 576, 720 * 576 * 3},
        {1, 1, 3},
        {maxPictureSide, maxPictureSide, (size_t)maxPictureSide * maxPictureSide * 3},
        {maxPictureSide + 1, 1, 0},
        {1, maxPictureSide + 1, 0},
        {1000000, 1000000, 0},
        {0, 576, 0},
        {720, -1, 0},
        {-2147483647 - 1, -2147483647 - 1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pictureBufferBytes(c.width, c.height), c.bytes) << c.width << "x" << c.height;
}

} // namespace
