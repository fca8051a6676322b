// The box's shared clock: sleeps advance it at once, exactly, and are
// recorded in order; every way of reading the time reads it.
#include "box.h"

#include <gtest/gtest.h>

namespace
{

TEST(BoxClock, SleepsAdvanceTheClockExactlyAndAreRecorded)
{
    Box box;
    ASSERT_TRUE(box.ready()) << box.error();
    box.copy(CLOCKPROBE, "/bin/clockprobe");
    box.clockStart(1000);
    BoxResult r = box.run({"/bin/clockprobe"});
    ASSERT_TRUE(r.ran()) << r.error;
    EXPECT_EQ(r.exitCode(), 0);
    EXPECT_EQ(r.console, "time 1000\n"
                         "time 1002\n"
                         "time 1003\n"
                         "gettimeofday 1003.500000\n"
                         "realtime 1004.750000000\n"
                         "monotonic 1014.000000000\n");
    std::vector<std::string> sleeps;
    for (const auto &s : r.of("sleep"))
        sleeps.push_back(s.get("call") + " " + s.get("ns"));
    std::vector<std::string> expected = {"sleep 2000000000"};
    for (int i = 0; i < 10; i++)
        expected.push_back("usleep 100000000");
    expected.push_back("nanosleep 500000000");
    expected.push_back("clock_nanosleep 1250000000");
    expected.push_back("clock_nanosleep 9250000000");
    EXPECT_EQ(sleeps, expected);
}

TEST(BoxClock, SharedByEveryProcessOfTheBox)
{
    Box box;
    ASSERT_TRUE(box.ready()) << box.error();
    box.copy(CLOCKPROBE, "/bin/clockprobe");
    box.clockStart(50);
    // Two runs one after the other in the same box: the second starts where
    // the first left the clock.
    BoxResult r = box.run({"/bin/sh", "-c", "/bin/clockprobe; /bin/clockprobe"});
    ASSERT_TRUE(r.ran()) << r.error;
    EXPECT_NE(r.console.find("monotonic 64.000000000\ntime 64\n"), std::string::npos) << r.console;
    EXPECT_NE(r.console.find("monotonic 78.000000000\n"), std::string::npos) << r.console;
}

} // namespace
