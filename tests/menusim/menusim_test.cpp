// The real menu program in a simulated box: what it highlights first, how
// it answers the remote control, when it ends by itself, what it writes.
#include "bootinit/paths.h"
#include "menubox.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace
{

constexpr int64_t second = 1000000000;
constexpr int64_t tenth = second / 10;

RemoteRecord rec(double at, int code, int value, int type = 1)
{
    RemoteRecord r;
    r.at = at;
    r.type = type;
    r.code = code;
    r.value = value;
    return r;
}

RemoteRecord shortRead(double at, int bytes)
{
    RemoteRecord r;
    r.at = at;
    r.shortBytes = bytes;
    return r;
}

RemoteDevice device(const std::string &name, std::vector<RemoteRecord> records = {})
{
    RemoteDevice d;
    d.name = name;
    d.records = records;
    d.syncReports = false; // exactly the records given
    return d;
}

std::vector<RemoteRecord> keyRecords(const std::string &keys, double start = 0.5)
{
    std::vector<RemoteRecord> records;
    EXPECT_TRUE(remote_key_records(keys, start, 0.4, &records)) << keys;
    return records;
}

std::string repeat(const std::string &key, int times)
{
    std::string list;
    for (int i = 0; i < times; i++)
        list += key + ",";
    return list;
}

std::vector<std::string> numbered(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; i++)
        names.push_back("image" + std::to_string(i));
    return names;
}

// The test side's key lists: names to press and release records.
TEST(RemoteKeys, ListsBecomeTimedPressAndReleaseRecords)
{
    const struct {
        const char *keys;
        bool ok;
        std::vector<int> codes;
    } cases[] = {
        {"down,down,ok", true, {108, 108, 352}},
        {"up,red,1,0,code30", true, {103, 398, 2, 11, 30}},
        {"", true, {}},
        {"down,,ok", false, {}},
        {"Down", false, {}},
        {"code", false, {}},
        {"down*", false, {}},
        {"down*x", false, {}},
        {"down*-1", false, {}},
        {"down*1001", false, {}},
        {"nosuch*2", false, {}},
    };
    for (const auto &c : cases) {
        std::vector<RemoteRecord> records;
        ASSERT_EQ(remote_key_records(c.keys, 1.0, 0.8, &records), c.ok) << c.keys;
        if (!c.ok) continue;
        ASSERT_EQ(records.size(), 2 * c.codes.size()) << c.keys;
        for (size_t i = 0; i < c.codes.size(); i++) {
            const RemoteRecord &press = records[2 * i], &release = records[2 * i + 1];
            EXPECT_EQ(press.code, c.codes[i]);
            EXPECT_EQ(release.code, c.codes[i]);
            EXPECT_EQ(press.value, 1);
            EXPECT_EQ(release.value, 0);
            EXPECT_DOUBLE_EQ(press.at, 1.0 + 0.8 * i);
            EXPECT_DOUBLE_EQ(release.at, 1.4 + 0.8 * i);
        }
    }
}

// A held key: its repeats a quarter step apart, the release half a step
// after the last, the next key half a step after the release; and the
// script a device gets, with and without the reports evdev adds.
TEST(RemoteKeys, HeldKeysRepeatAndDevicesReportLikeEvdev)
{
    std::vector<RemoteRecord> records;
    ASSERT_TRUE(remote_key_records("down*2,ok", 1.0, 0.8, &records));
    const struct {
        double at;
        int code, value;
    } want[] = {{1.0, 108, 1}, {1.2, 108, 2}, {1.4, 108, 2}, {1.8, 108, 0}, {2.2, 352, 1},
                {2.6, 352, 0}};
    ASSERT_EQ(records.size(), sizeof want / sizeof want[0]);
    for (size_t i = 0; i < records.size(); i++) {
        EXPECT_DOUBLE_EQ(records[i].at, want[i].at) << i;
        EXPECT_EQ(records[i].code, want[i].code) << i;
        EXPECT_EQ(records[i].value, want[i].value) << i;
    }

    RemoteDevice dev;
    dev.name = "rc";
    dev.records = {rec(0.5, 108, 1), shortRead(0.6, 8), rec(0.7, 108, 0)};
    EXPECT_EQ(remote_script(dev), "name rc\n"
                                  "record 0.5 1 108 1\nrecord 0.5 0 0 0\n"
                                  "short 0.6 8 1 0 0\n"
                                  "record 0.7 1 108 0\nrecord 0.7 0 0 0\n");
    dev.syncReports = false;
    EXPECT_EQ(remote_script(dev), "name rc\nrecord 0.5 1 108 1\nshort 0.6 8 1 0 0\n"
                                  "record 0.7 1 108 0\n");
}

// ---------------------------------------------------------------------------
// Pre-selection: OK at once writes the entry highlighted first.

struct PreCase {
    const char *what;
    std::function<void(MenuBox &)> setup;
    // The entry expected to be written, from the menu's entries.
    std::function<std::string(const std::vector<std::string> &)> expect;
    const char *keys = "ok";
};

void PrintTo(const PreCase &c, std::ostream *os)
{
    *os << c.what;
}

class PreSelection : public ::testing::TestWithParam<PreCase>
{
};

TEST_P(PreSelection, OkAtOnceWritesTheEntryHighlightedFirst)
{
    MenuBox box;
    GetParam().setup(box);
    box.keys(GetParam().keys);
    MenuRun run = box.run();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(box.selection(), GetParam().expect(box.entries()));
}

auto named(const std::string &name)
{
    return [name](const std::vector<std::string> &) { return name; };
}

auto entry(size_t index)
{
    return [index](const std::vector<std::string> &e) { return e.at(index); };
}

void abc(MenuBox &box, const std::string &selection)
{
    box.images({"a", "b", "c"});
    box.write(MenuBox::selectionPath, selection);
}

const std::string name99(99, 'n'), name100(100, 'n');

INSTANTIATE_TEST_SUITE_P(
    Menu, PreSelection,
    ::testing::Values(
        PreCase{"line-feed", [](MenuBox &b) { abc(b, "b\n"); }, named("b")},
        PreCase{"no line-feed", [](MenuBox &b) { abc(b, "b"); }, named("b")},
        PreCase{"CR-LF keeps the CR", [](MenuBox &b) { abc(b, "b\r\n"); }, named("Flash")},
        PreCase{"trailing blank", [](MenuBox &b) { abc(b, "b "); }, named("Flash")},
        PreCase{"two lines", [](MenuBox &b) { abc(b, "c\nb\n"); }, named("c")},
        PreCase{"empty file", [](MenuBox &b) { abc(b, ""); }, named("Flash")},
        PreCase{"empty first line", [](MenuBox &b) { abc(b, "\nb\n"); }, named("Flash")},
        PreCase{"no selection file",
                [](MenuBox &b) {
                    b.images({"a", "b"});
                },
                named("Flash")},
        PreCase{"upper case differs", [](MenuBox &b) { abc(b, "B"); }, named("Flash")},
        PreCase{"99 bytes",
                [](MenuBox &b) {
                    b.images({name99});
                    b.write(MenuBox::selectionPath, name99 + "\n");
                },
                named(name99)},
        PreCase{"100 bytes",
                [](MenuBox &b) {
                    b.images({name100});
                    b.write(MenuBox::selectionPath, name100);
                },
                named("Flash")},
        PreCase{"the tenth entry",
                [](MenuBox &b) {
                    b.images(numbered(11));
                    b.write(MenuBox::selectionPath, b.entries()[9]);
                },
                entry(9)},
        PreCase{"beyond the tenth entry",
                [](MenuBox &b) {
                    b.images(numbered(11));
                    b.write(MenuBox::selectionPath, b.entries()[10]);
                },
                named("Flash")},
        // "Flash" names the directory's entry, so down goes to the entry after it.
        PreCase{"a directory named Flash", [](MenuBox &b) { abc(b, "Flash"), b.images({"Flash"}); },
                [](const std::vector<std::string> &e) {
                    size_t dir = std::find(e.begin() + 1, e.end(), "Flash") - e.begin();
                    return e.at((dir + 1) % e.size());
                },
                "down,ok"},
        PreCase{"dot directory",
                [](MenuBox &b) {
                    b.images({".hidden", "a"});
                    b.write(MenuBox::selectionPath, ".hidden");
                },
                named(".hidden")},
        PreCase{"symlink to a directory",
                [](MenuBox &b) {
                    b.images({"real"});
                    EXPECT_EQ(symlink("real", b.path(std::string(paths::store) + "link").c_str()),
                              0);
                    b.write(MenuBox::selectionPath, "link");
                },
                named("link")},
        PreCase{"files are no entries",
                [](MenuBox &b) {
                    b.images({"a"});
                    b.write(std::string(paths::store) + "afile", "x");
                    b.write(MenuBox::selectionPath, "afile");
                },
                named("Flash")}),
    [](const ::testing::TestParamInfo<PreCase> &info) {
        return "case" + std::to_string(info.index);
    });

TEST(Listing, EntriesComeInDirectoryListingOrderNotSorted)
{
    MenuBox box;
    box.images({"m", "c", "x", "a", "k", "b"});
    box.write(std::string(paths::store) + "notes.txt", "not an image");
    std::vector<std::string> e = box.entries();
    ASSERT_EQ(e.size(), 7u);
    std::vector<std::string> sorted(e.begin() + 1, e.end());
    std::sort(sorted.begin(), sorted.end());
    // Only meaningful when the listing is not sorted itself.
    ASSERT_NE(std::vector<std::string>(e.begin() + 1, e.end()), sorted);
    size_t k = 1;
    while (k < e.size() && e[k] == sorted[k - 1])
        k++;
    ASSERT_LT(k, e.size());
    box.keys(repeat("down", (int)k) + "ok");
    EXPECT_EQ(box.run().exitStatus, 0);
    EXPECT_EQ(box.selection(), e[k]);
}

// ---------------------------------------------------------------------------
// Keys: which entry the records of one remote control end on.

struct KeyCase {
    const char *what;
    int images;
    std::vector<RemoteRecord> records;
    int index;     // entry written when the device hands out exactly these records
    int syncIndex; // entry written when it ends each one with an EV_SYN report, as evdev does
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.what;
}

class Keys : public ::testing::TestWithParam<KeyCase>
{
};

TEST_P(Keys, RecordsMoveTheHighlight)
{
    for (bool sync : {false, true}) {
        SCOPED_TRACE(sync ? "each record followed by EV_SYN" : "exactly the records given");
        MenuBox box;
        box.images(numbered(GetParam().images));
        RemoteDevice dev = device("dreambox remote control", GetParam().records);
        dev.syncReports = sync;
        box.remote(0, dev);
        MenuRun run = box.run();
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(box.selection(), box.entries().at(sync ? GetParam().syncIndex : GetParam().index));
    }
}

std::vector<RemoteRecord> join(std::vector<RemoteRecord> a, const std::vector<RemoteRecord> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Menu, Keys,
    ::testing::Values(
        KeyCase{"one entry: up stays", 0, keyRecords("up,ok"), 0, 0},
        KeyCase{"one entry: down stays", 0, keyRecords("down,ok"), 0, 0},
        KeyCase{"three entries: up wraps to the last", 2, keyRecords("up,ok"), 2, 2},
        KeyCase{"three entries: down twice", 2, keyRecords("down,down,ok"), 2, 2},
        KeyCase{"three entries: down three times wraps", 2, keyRecords("down,down,down,ok"), 0, 0},
        KeyCase{"twelve entries: up wraps to row 9", 11, keyRecords("up,ok"), 9, 9},
        KeyCase{"twelve entries: down nine times", 11, keyRecords(repeat("down", 9) + "ok"), 9, 9},
        KeyCase{"twelve entries: down on row 9 wraps", 11, keyRecords(repeat("down", 10) + "ok"),
                0, 0},
        KeyCase{"OK at once", 2, keyRecords("ok"), 0, 0},
        KeyCase{"keys that do not move", 2,
                keyRecords("1,0,left,right,red,green,yellow,blue,exit,menu,help,mute,power,"
                           "volumeup,volumedown,esc,code30,ok"),
                0, 0},
        // A held key moves once while nothing but its repeats arrive; the
        // report evdev sends after each record is a value-0 record, so on a
        // real kernel every repeat of a held key moves again.
        KeyCase{"held key: auto-repeat dropped until a value 0",
                5,
                {rec(0.5, 108, 1), rec(0.6, 108, 2), rec(0.7, 108, 2), rec(0.8, 108, 2),
                 rec(0.9, 108, 0), rec(1.0, 352, 1)},
                1, 4},
        KeyCase{"held key from a key list", 5, keyRecords("down*3,ok"), 1, 4},
        KeyCase{"press, press without release",
                2,
                {rec(0.5, 108, 1), rec(0.6, 108, 1), rec(1.0, 352, 1)},
                1, 2},
        KeyCase{"press, release, press",
                2,
                {rec(0.5, 108, 1), rec(0.6, 108, 0), rec(0.7, 108, 1), rec(1.0, 352, 1)},
                2, 2},
        KeyCase{"a zero record of another type ends the hold",
                2,
                {rec(0.5, 108, 1), rec(0.6, 0, 0, 0), rec(0.7, 108, 2), rec(1.0, 352, 1)},
                2, 2},
        KeyCase{"another type with a value counts by its code",
                2,
                {rec(0.5, 108, 1, 4), rec(1.0, 352, 1, 4)},
                1, 1},
        KeyCase{"short reads are no records", 2,
                join({shortRead(0.5, 8), shortRead(0.6, 15)}, keyRecords("down,ok", 0.7)), 1, 1},
        // ESC leaves rcCode as the poll before set it: the down's own code
        // when ESC comes straight after it, no key after the down's report.
        KeyCase{"an unlisted key keeps the last code: down, then ESC moves again",
                3,
                {rec(0.5, 108, 1), rec(0.5, 1, 1), rec(1.0, 352, 1)},
                2, 1}),
    [](const ::testing::TestParamInfo<KeyCase> &info) {
        return "case" + std::to_string(info.index);
    });

// ---------------------------------------------------------------------------
// Remote-control discovery: which devices are used, what the console says.

struct DeviceCase {
    const char *what;
    std::function<void(MenuBox &)> setup;
    const char *stdoutHas;   // text standard output holds (may be empty)
    bool found;              // a remote control was found
    int index;               // entry written
    std::vector<int> unused; // devices never opened
};

void PrintTo(const DeviceCase &c, std::ostream *os)
{
    *os << c.what;
}

class Devices : public ::testing::TestWithParam<DeviceCase>
{
};

TEST_P(Devices, DiscoveryAndConsole)
{
    const DeviceCase &c = GetParam();
    MenuBox box;
    box.images({"a", "b", "c"});
    c.setup(box);
    MenuRun run = box.run();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find(c.stdoutHas), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("couldnt find usable input device!!!\n") == std::string::npos, c.found)
        << run.out;
    EXPECT_EQ(box.selection(), box.entries().at(c.index));
    for (const RemoteEvent &e : remote_log(box.root))
        for (int unused : c.unused)
            EXPECT_NE(e.device, unused) << e.what;
}

const std::string remoteName = "dreambox remote control";

INSTANTIATE_TEST_SUITE_P(
    Menu, Devices,
    ::testing::Values(
        DeviceCase{"no event nodes",
                   [](MenuBox &) {},
                   "couldnt find usable input device!!!\n",
                   false,
                   0,
                   {}},
        DeviceCase{
            "the name inside a longer name",
            [](MenuBox &b) { b.remote(0, device("xremote controlx", keyRecords("down,ok"))); },
            "",
            true,
            1,
            {}},
        DeviceCase{"capital letters do not count",
                   [](MenuBox &b) { b.remote(0, device("Remote Control", keyRecords("down,ok"))); },
                   "",
                   false,
                   0,
                   {}},
        DeviceCase{"an open that fails",
                   [](MenuBox &b) {
                       RemoteDevice failing = device(remoteName, keyRecords("down,down,ok"));
                       failing.openFails = true;
                       b.remote(0, failing);
                       b.remote(1, device(remoteName, keyRecords("down,ok")));
                   },
                   "Quillon <open remote control>EVIOCGNAME failed",
                   true,
                   1,
                   {}},
        DeviceCase{"a name request that fails",
                   [](MenuBox &b) {
                       RemoteDevice failing = device(remoteName, keyRecords("down,down,ok"));
                       failing.nameFails = true;
                       b.remote(0, failing);
                       b.remote(1, device(remoteName, keyRecords("down,ok")));
                   },
                   "EVIOCGNAME failed",
                   true,
                   1,
                   {}},
        DeviceCase{"a gap in the numbers ends the scan",
                   [](MenuBox &b) {
                       b.remote(0, device("front panel"));
                       b.remote(1, device("keyboard"));
                       b.remote(3, device(remoteName, keyRecords("down,ok")));
                   },
                   "couldnt find usable input device!!!\n",
                   false,
                   0,
                   {2, 3}},
        DeviceCase{"a third remote control is never opened",
                   [](MenuBox &b) {
                       b.remote(0, device(remoteName));
                       b.remote(1, device(remoteName, keyRecords("down,ok")));
                       b.remote(2, device(remoteName, keyRecords("down,down,ok")));
                   },
                   "",
                   true,
                   1,
                   {2}},
        DeviceCase{"a 128-character name ending in the text",
                   [](MenuBox &b) {
                       b.remote(0, device(std::string(114, 'x') + "remote control",
                                          keyRecords("down,ok")));
                   },
                   "",
                   true,
                   1,
                   {}},
        DeviceCase{"the text past the 128-byte buffer",
                   [](MenuBox &b) {
                       b.remote(0, device(std::string(115, 'x') + "remote control",
                                          keyRecords("down,ok")));
                   },
                   "couldnt find usable input device!!!\n",
                   false,
                   0,
                   {}}),
    [](const ::testing::TestParamInfo<DeviceCase> &info) {
        return "case" + std::to_string(info.index);
    });

TEST(Devices, SecondRemoteIsReadOnlyWhenTheFirstGivesNothing)
{
    MenuBox box;
    box.images({"a", "b", "c"});
    box.remote(0, device(remoteName, join({shortRead(0.3, 4)}, keyRecords("down", 0.5))));
    box.remote(1, device(remoteName, keyRecords("down,ok", 2.0)));
    EXPECT_EQ(box.run().exitStatus, 0);
    EXPECT_EQ(box.selection(), box.entries().at(2));
    std::vector<RemoteEvent> log = remote_log(box.root);
    int secondReads = 0;
    for (size_t i = 0; i < log.size(); i++) {
        if (log[i].device != 1 || log[i].what.rfind("read", 0) != 0) continue;
        secondReads++;
        ASSERT_GT(i, 0u);
        const RemoteEvent &before = log[i - 1];
        EXPECT_EQ(before.device, 0);
        EXPECT_TRUE(before.what == "read none" || before.what.rfind("read short", 0) == 0)
            << "event1 read after: " << before.what;
    }
    EXPECT_GT(secondReads, 0);
    // Both devices are closed before the selection is written.
    int closes = 0;
    for (const RemoteEvent &e : log)
        closes += e.what == "close";
    EXPECT_EQ(closes, 2);
}

// ---------------------------------------------------------------------------
// The idle timeout: the loop ends once the second count has moved on by 11
// since the last redraw. Its end is the final poll of the completion.

struct TimeoutCase {
    const char *what;
    int64_t phaseNs; // where in its second the box's clock starts
    std::vector<RemoteRecord> records;
    int64_t lastRedrawNs; // after the device was opened
    int64_t endNs;        // the loop's end after the last redraw
    std::vector<std::string> images = {"a"};
    const char *chosen = "Flash";
};

void PrintTo(const TimeoutCase &c, std::ostream *os)
{
    *os << c.what;
}

class Timeout : public ::testing::TestWithParam<TimeoutCase>
{
};

TEST_P(Timeout, EndsMoreThanTenAndAtMostElevenSecondsAfterTheLastRedraw)
{
    const TimeoutCase &c = GetParam();
    MenuBox box;
    box.images(c.images);
    box.clockStart(boxStartNs + c.phaseNs);
    box.remote(0, device(remoteName, c.records));
    MenuRun run = box.run();
    EXPECT_EQ(run.exitStatus, 0);
    std::vector<RemoteEvent> log = remote_log(box.root);
    ASSERT_FALSE(log.empty());
    int64_t opened = log.front().atNs, last = 0;
    EXPECT_EQ(opened, boxStartNs + c.phaseNs) << "nothing may take time before the first drawing";
    for (const RemoteEvent &e : log)
        if (e.what.rfind("read", 0) == 0) last = e.atNs;
    int64_t redraw = opened + c.lastRedrawNs;
    EXPECT_GT(last - redraw, 10 * second);
    EXPECT_LE(last - redraw, 11 * second + tenth);
    EXPECT_EQ(last - redraw, c.endNs);
    // The final poll waits 100 ms, then the menu sleeps one second.
    EXPECT_EQ(run.endNs, last + tenth + second);
    EXPECT_EQ(box.selection(), c.chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Menu, Timeout,
    ::testing::Values(
        TimeoutCase{"no key, clock on a whole second", 0, {}, 0, 11 * second},
        TimeoutCase{
            "no key, clock half-way into a second", second / 2, {}, 0, 10 * second + 5 * tenth},
        TimeoutCase{
            "no key, clock late in a second", 95 * second / 100, {}, 0, 10 * second + tenth},
        TimeoutCase{"a move at 8 seconds",
                    0,
                    {rec(8.0, 108, 1), rec(8.2, 108, 0)},
                    8 * second,
                    11 * second,
                    {"a"},
                    "a"},
        TimeoutCase{"an up at 8 seconds on one row still redraws",
                    second / 2,
                    {rec(8.0, 103, 1), rec(8.2, 103, 0)},
                    8 * second,
                    10 * second + 5 * tenth,
                    {},
                    "Flash"},
        TimeoutCase{"a key that does not move at 8 seconds",
                    0,
                    {rec(8.0, 398, 1), rec(8.2, 398, 0), rec(9.0, 2, 1)},
                    0,
                    11 * second}),
    [](const ::testing::TestParamInfo<TimeoutCase> &info) {
        return "case" + std::to_string(info.index);
    });

// ---------------------------------------------------------------------------
// Completion: what the selection file holds afterwards.

struct CompletionCase {
    const char *what;
    // Mounts made for the run in the test's own mount namespace; null: none.
    std::function<bool(MenuBox &)> mounts;
    std::string expected; // the file's content afterwards; "-" for no file
};

void PrintTo(const CompletionCase &c, std::ostream *os)
{
    *os << c.what;
}

class Completion : public ::testing::TestWithParam<CompletionCase>
{
};

const std::string oddName = "my image #1 $HOME; (x) \xc3\xa9";

// The selection file as it is, "-" when there is none, and "+" appended
// when the temporary file was left behind.
std::string selectionState(const MenuBox &box)
{
    std::string state = box.selectionExists() ? box.selection() : "-";
    if (box.exists(paths::selectionTemp)) state += "+";
    return state;
}

TEST_P(Completion, TheSelectionFileHoldsTheNameOrStaysAsItWas)
{
    const CompletionCase &c = GetParam();
    MenuBox box;
    box.images({oddName});
    box.write(MenuBox::selectionPath, "previous\n");
    box.keys("down,ok");
    MenuRun run;
    std::string state;
    if (c.mounts) {
        run = box.run([&box, &c]() { return c.mounts(box); },
                      [&box]() { return selectionState(box); });
        state = run.inside;
    } else {
        run = box.run();
        state = selectionState(box);
    }
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(state, c.expected);
}

// The store on a medium that cannot be written.
bool readOnlyStore(MenuBox &box)
{
    std::string store = box.path("/media/quillon/Qvault");
    return mount(store.c_str(), store.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, store.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// The store on a medium with no room left: the old selection file is there,
// a new one can be created but not filled.
bool fullStore(MenuBox &box)
{
    std::string store = box.path("/media/quillon/Qvault");
    if (mount("tmpfs", store.c_str(), "tmpfs", 0, "size=64k") != 0) return false;
    box.images({oddName});
    box.write(MenuBox::selectionPath, "previous\n");
    std::ofstream filler(store + "/filler", std::ios::binary);
    std::string block(4096, 'f');
    for (int i = 0; i < 64 && filler.write(block.data(), block.size()); i++)
        filler.flush();
    return true;
}

INSTANTIATE_TEST_SUITE_P(
    Menu, Completion,
    ::testing::Values(CompletionCase{"the name verbatim, no line end", nullptr, oddName},
                      CompletionCase{"a read-only store", readOnlyStore, "previous\n"},
                      CompletionCase{"a full store", fullStore, "previous\n"},
                      CompletionCase{"no store",
                                     [](MenuBox &b) {
                                         b.remove("/media/quillon/Qvault");
                                         return true;
                                     },
                                     "-"}),
    [](const ::testing::TestParamInfo<CompletionCase> &info) {
        return "case" + std::to_string(info.index);
    });

// ---------------------------------------------------------------------------
// Failures: without a framebuffer, a font, a remote control or a readable
// picture the menu still ends by its timeout and writes the pre-selection.

struct FailureCase {
    const char *what;
    std::function<void(MenuBox &)> setup;
    const char *stdoutHas;
    const char *stderrHas;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.what;
}

class Failures : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(Failures, TheMenuStillEndsByItsTimeoutAndWritesTheSelection)
{
    const FailureCase &c = GetParam();
    MenuBox box;
    box.images({"a", "b"});
    box.write(MenuBox::selectionPath, "b");
    c.setup(box);
    MenuRun run = box.run();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(box.selection(), "b");
    EXPECT_NE(run.out.find(c.stdoutHas), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
    // 110 polls of 100 ms, the final poll and the closing second.
    EXPECT_EQ(run.endNs - boxStartNs, 11 * second + tenth + second);
}

INSTANTIATE_TEST_SUITE_P(
    Menu, Failures,
    ::testing::Values(
        FailureCase{"no remote control", [](MenuBox &) {},
                    "[Framebuffer] available.\ncouldnt find usable input device!!!\n", ""},
        FailureCase{"no framebuffer",
                    [](MenuBox &b) {
                        ScreenPolicy none;
                        none.fb0 = false;
                        b.screen(none);
                    },
                    "[Framebuffer] <not available>", "/dev/fb0: No such file or directory"},
        FailureCase{"no font", [](MenuBox &b) { b.remove(paths::menuFont); },
                    "[FONT] <FTC_Manager_Lookup_Face failed with Errorcode 0x", ""},
        FailureCase{"a picture that is no PNG",
                    [](MenuBox &b) { b.write(paths::menuPicture, "xPNG and nothing else"); }, "",
                    ""},
        FailureCase{"a picture cut short",
                    [](MenuBox &b) {
                        std::string png = b.read(paths::menuPicture);
                        b.write(paths::menuPicture, png.substr(0, png.size() / 2));
                    },
                    "", ""}),
    [](const ::testing::TestParamInfo<FailureCase> &info) {
        return "case" + std::to_string(info.index);
    });

} // namespace
