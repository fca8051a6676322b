#include "box.h"
#include "sim/api/files.h"

#include "bootinit/paths.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

namespace
{

std::string dirOf(const std::string &path)
{
    return path.substr(0, path.rfind('/'));
}

void copyFile(const std::string &from, const std::string &to)
{
    ASSERT_EQ(
        std::system(("mkdir -p '" + dirOf(to) + "' && cp '" + from + "' '" + to + "'").c_str()), 0)
        << "cannot copy " << from << " to " << to;
}

} // namespace

const char *testFontPath()
{
    return QUILLON_TEST_FONT;
}

GraphicsBox::GraphicsBox()
{
    char tmpl[] = "/tmp/gfxbox.XXXXXX";
    char *dir = mkdtemp(tmpl);
    root = dir ? dir : "";
}

GraphicsBox::~GraphicsBox()
{
    if (!root.empty()) std::system(("rm -rf '" + root + "'").c_str());
}

void GraphicsBox::prepare(const ScreenPolicy &policy, bool font)
{
    ASSERT_FALSE(root.empty()) << "no temporary box root";
    std::string error;
    ASSERT_TRUE(screen_prepare(root, policy, &error)) << error;
    if (font) copyFile(testFontPath(), root + paths::menuFont);
    copyFile(FBDRIVER_PATH, root + "/bin/fbdriver");
}

void GraphicsBox::put(const std::string &path, const std::string &bytes)
{
    std::system(("mkdir -p '" + dirOf(root + path) + "'").c_str());
    std::ofstream(root + path, std::ios::binary) << bytes;
}

DriverRun GraphicsBox::run(const std::vector<std::string> &script)
{
    std::string text;
    for (const auto &line : script)
        text += line + "\n";
    put("/script", text);
    SandboxRun box;
    box.root = root;
    box.argv = {"/bin/fbdriver", "/script"};
    box.stdoutPath = root + ".out";
    box.stderrPath = root + ".err";
    std::remove(box.stdoutPath.c_str());
    std::remove(box.stderrPath.c_str());
    SandboxResult result;
    DriverRun run;
    bool ran = sandbox_run(box, &result);
    run.out = sim_slurp(box.stdoutPath);
    run.err = sim_slurp(box.stderrPath);
    std::remove(box.stdoutPath.c_str());
    std::remove(box.stderrPath.c_str());
    // A box that cannot run (no namespaces, not root) fails the test.
    EXPECT_TRUE(ran) << result.error;
    EXPECT_FALSE(result.timedOut) << "the driver did not end";
    if (ran && WIFEXITED(result.waitStatus)) run.status = WEXITSTATUS(result.waitStatus);
    return run;
}

ScreenFrame GraphicsBox::frame(int n) const
{
    ScreenFrame f;
    std::string error;
    EXPECT_TRUE(screen_read_frame(root, n, &f, &error)) << error;
    return f;
}
