// Sanitized programs in a box: the preloaded library's devices answer them,
// and any sanitizer report fails the box's run, even when the program's
// exit status is ignored (as bootinit ignores the menu's).
#include "remote.h"
#include "sandbox.h"
#include "screen.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdlib.h>

namespace
{

struct ProbeBox {
    std::string dir;
    ProbeBox()
    {
        char tmpl[] = "/tmp/sanbox.XXXXXX";
        dir = mkdtemp(tmpl);
        std::system(("mkdir -p " + dir + "/bin && cp /usr/bin/dash " + dir + "/bin/sh && cp " +
                     SANPROBE_PATH + " " + dir + "/bin/sanprobe")
                        .c_str());
    }
    ~ProbeBox() { std::system(("rm -rf " + dir + " " + dir + ".out").c_str()); }
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SanitizedBox, DevicesAnswerThroughThePreload)
{
    ProbeBox box;
    std::string error;
    ASSERT_TRUE(screen_prepare(box.dir, ScreenPolicy(), &error)) << error;
    RemoteDevice remote;
    remote.records.push_back({0.0, 1, 103, 1, -1});
    ASSERT_TRUE(remote_install(box.dir, 0, remote));
    SandboxRun run;
    run.root = box.dir;
    run.argv = {"/bin/sanprobe", "devices"};
    run.stdoutPath = run.stderrPath = box.dir + ".out";
    SandboxResult result;
    ASSERT_TRUE(sandbox_run(run, &result)) << result.error;
    EXPECT_EQ(slurp(box.dir + ".out"), "fb 0 720x576x32\n"
                                       "name 33 dreambox remote control (native)\n"
                                       "record 1 103 1\n");
}

struct ReportCase {
    const char *name;
    std::vector<std::string> argv;
    const char *report; // text the run's error must hold
};

class Reports : public testing::TestWithParam<ReportCase>
{
};

TEST_P(Reports, FailTheRunWhateverTheExitStatus)
{
    const ReportCase &c = GetParam();
    ProbeBox box;
    SandboxRun run;
    run.root = box.dir;
    run.argv = c.argv;
    run.stdoutPath = run.stderrPath = box.dir + ".out";
    SandboxResult result;
    EXPECT_FALSE(sandbox_run(run, &result));
    EXPECT_NE(result.error.find(c.report), std::string::npos) << result.error;
    // The next run of the same box starts without the old report.
    run.argv = {"/bin/sanprobe"};
    EXPECT_TRUE(sandbox_run(run, &result)) << result.error;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Reports,
    testing::Values(
        ReportCase{"use_after_free", {"/bin/sanprobe", "freed"}, "heap-use-after-free"},
        ReportCase{"signed_overflow", {"/bin/sanprobe", "undefined"}, "signed-integer-overflow"},
        // A child whose status the first process ignores.
        ReportCase{"ignored_child",
                   {"/bin/sh", "-c", "/bin/sanprobe freed; exit 0"},
                   "heap-use-after-free"}),
    [](const testing::TestParamInfo<ReportCase> &info) { return std::string(info.param.name); });

} // namespace
