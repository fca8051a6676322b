// Drawing speed beside the floor, one memcpy of a 720x576x16 frame.
//
// Started on the host, the program prepares a box root with the emulated
// framebuffer and the menu font and runs itself inside that box, where the
// framebuffer object is built the way the menu builds it. Arguments are
// Google Benchmark's; the ratios to the floor follow the table.
#include "bootinit/paths.h"
#include "framebuffer/fb.h"
#include "sandbox.h"
#include "screen.h"

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace
{

const int screenW = 720, screenH = 576;

fbClass *screen()
{
    static fbClass *fb = [] {
        fbClass *made = new fbClass();
        made->SetMode(screenW, screenH, 16);
        return made;
    }();
    return fb;
}

std::vector<unsigned char> picture()
{
    std::vector<unsigned char> rgb((size_t)screenW * screenH * 3);
    for (size_t i = 0; i < rgb.size(); i++)
        rgb[i] = (unsigned char)(i * 7 + i / 2160);
    return rgb;
}

void BM_FloorMemcpy(benchmark::State &state)
{
    std::vector<unsigned char> from((size_t)screenW * screenH * 2, 1), to(from.size());
    for (auto _ : state) {
        memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void BM_Convert(benchmark::State &state)
{
    std::vector<unsigned char> rgb = picture();
    int depth = (int)state.range(0);
    for (auto _ : state) {
        int bytes = 0;
        unsigned char *out =
            convertRGB2FB(-1, rgb.data(), (unsigned long)screenW * screenH, depth, &bytes);
        // As an input only: GCC's read-write form of this barrier can leave
        // a pointer held in a register changed (seen in the sanitized build).
        benchmark::DoNotOptimize(static_cast<const unsigned char *>(out));
        free(out);
    }
}

void BM_FbDisplay(benchmark::State &state)
{
    fbClass *fb = screen();
    if (!fb->available()) {
        state.SkipWithError("no framebuffer");
        return;
    }
    std::vector<unsigned char> rgb = picture();
    for (auto _ : state)
        fb->fb_display(rgb.data(), nullptr, screenW, screenH, 0, 0, 0, 0);
}

void BM_RenderString(benchmark::State &state)
{
    fbClass *fb = screen();
    if (!fb->available()) {
        state.SkipWithError("no framebuffer");
        return;
    }
    const std::string text = "Quillon multiboot image 1.2.3.";
    if (text.size() != 30) state.SkipWithError("the line must hold 30 characters");
    for (auto _ : state)
        fb->RenderString(text, 40, 300, 640, 0, 18, 255, 255, 255);
}

BENCHMARK(BM_FloorMemcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Convert)->Arg(8)->Arg(15)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FbDisplay)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderString)->Unit(benchmark::kMicrosecond);

// The usual table, and the times of every benchmark kept for the ratios:
// a single run's, or the median when runs are repeated. CPU time, since the
// machine may be busy with other work.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            std::string name = run.run_name.str();
            if (!times.count(name)) order.push_back(name);
            times[name] = run.GetAdjustedCPUTime();
        }
    }
    std::vector<std::string> order;
    std::map<std::string, double> times;
};

int runInside(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double floor = reporter.times.count("BM_FloorMemcpy") ? reporter.times["BM_FloorMemcpy"] : 0;
    if (floor > 0) {
        printf("\nRatio to the floor (one memcpy of a 720x576x16 frame), CPU time:\n");
        for (const auto &name : reporter.order)
            printf("  %-20s %10.1f us  %8.1fx\n", name.c_str(), reporter.times[name],
                   reporter.times[name] / floor);
    }
    benchmark::Shutdown();
    return 0;
}

// On the host: a box with the emulated framebuffer and the font, and this
// program run inside it.
int runInBox(int argc, char **argv)
{
    char tmpl[] = "/tmp/gfxbench.XXXXXX";
    const char *root = mkdtemp(tmpl);
    if (!root) {
        perror("mkdtemp");
        return 1;
    }
    std::string box = root, error;
    ScreenPolicy policy;
    policy.initial = "720x576x16";
    int status = 1;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    std::string font = box + paths::menuFont;
    std::string copy = "mkdir -p '" + font.substr(0, font.rfind('/')) + "' '" + box +
                       "/bin' && cp '" QUILLON_TEST_FONT "' '" + font + "' && cp '" + self + "' '" +
                       box + "/bin/graphics_bench'";
    if (!screen_prepare(box, policy, &error)) {
        fprintf(stderr, "graphics_bench: %s\n", error.c_str());
    } else if (system(copy.c_str()) != 0) {
        fprintf(stderr, "graphics_bench: cannot prepare %s\n", root);
    } else {
        SandboxRun run;
        run.root = box;
        run.argv = {"/bin/graphics_bench"};
        for (int i = 1; i < argc; i++)
            run.argv.push_back(argv[i]);
        run.env = {"GRAPHICS_BENCH_IN_BOX=1"};
        run.timeoutSeconds = 600;
        SandboxResult result;
        if (!sandbox_run(run, &result))
            fprintf(stderr, "graphics_bench: %s\n", result.error.c_str());
        else if (WIFEXITED(result.waitStatus))
            status = WEXITSTATUS(result.waitStatus);
    }
    std::string clean = std::string("rm -rf '") + root + "'";
    if (system(clean.c_str()) != 0) fprintf(stderr, "graphics_bench: %s left behind\n", root);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (getenv("GRAPHICS_BENCH_IN_BOX")) return runInside(argc, argv);
    return runInBox(argc, argv);
}
