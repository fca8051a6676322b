// The sandbox itself: a box is isolated, its first process is PID 1, its
// root is the box root, and nothing it mounts reaches the host.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/wait.h>

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempRoot {
    std::string dir;
    TempRoot()
    {
        char tmpl[] = "/tmp/boxroot.XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~TempRoot() { std::system(("rm -rf " + dir).c_str()); }
};

TEST(Sandbox, FirstProcessIsPid1InTheBoxRoot)
{
    TempRoot box;
    std::system(("mkdir -p " + box.dir + "/bin && cp /usr/bin/dash " + box.dir + "/bin/sh").c_str());
    std::ofstream(box.dir + "/marker") << "inside";
    SandboxRun run;
    run.root = box.dir;
    run.stdoutPath = run.stderrPath = box.dir + ".out";
    run.argv = {"/bin/sh", "-c", "echo pid=$$; read x < /marker; echo got=$x"};
    run.preload = false;
    SandboxResult result;
    ASSERT_TRUE(sandbox_run(run, &result)) << result.error;
    ASSERT_TRUE(WIFEXITED(result.waitStatus));
    std::string out = slurp(run.stdoutPath);
    std::remove(run.stdoutPath.c_str());
    EXPECT_NE(out.find("pid=1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("got=inside\n"), std::string::npos) << out;
}

TEST(Sandbox, ExitStatusAndMountsStayInside)
{
    TempRoot box;
    std::system(("mkdir -p " + box.dir + "/bin " + box.dir + "/mnt && cp /usr/bin/dash " + box.dir +
                 "/bin/sh")
                    .c_str());
    SandboxRun run;
    run.root = box.dir;
    run.preload = false;
    run.argv = {"/bin/sh", "-c", "exit 7"};
    SandboxResult result;
    ASSERT_TRUE(sandbox_run(run, &result)) << result.error;
    ASSERT_TRUE(WIFEXITED(result.waitStatus));
    EXPECT_EQ(WEXITSTATUS(result.waitStatus), 7);
    // The library binds and the box's proc are gone with the box.
    EXPECT_EQ(slurp("/proc/self/mounts").find(box.dir), std::string::npos);
}

TEST(Sandbox, MissingProgramIsReported)
{
    TempRoot box;
    SandboxRun run;
    run.root = box.dir;
    run.argv = {"/nothing/here"};
    SandboxResult result;
    EXPECT_FALSE(sandbox_run(run, &result));
    EXPECT_NE(result.error.find("exec in box"), std::string::npos) << result.error;
}

} // namespace
