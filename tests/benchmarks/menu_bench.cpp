// The menu's budgets, each measured beside its floor in the same run.
//
// Started on the host, the program lays out a box root on a tmpfs of its own
// mount namespace (the real menu program, the font, the project's 720x576
// background, nine images in the store, a version and a package status file,
// the emulated framebuffer and a remote control) and runs itself inside that
// box. There it drives the real menu object and the real program:
//
//   (default)        Google Benchmark: redraw against clearing plus copying
//                    one frame, start to first frame against libpng alone
//   --instructions   the same redraw and floor counted by callgrind
//   --memory         peak resident memory of the menu, growth over 10,000 redraws
//   --idle           system calls of a 10-second idle menu under strace
//
// Google Benchmark arguments go with the default mode.
#include "bootinit/paths.h"
#include "framebuffer/fb.h"
#include "menu/quisel.h"
#include "picture/png.h"

#include "backdrop.h"
#include "menu.h"
#include "remote.h"
#include "sandbox.h"
#include "screen.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <valgrind/callgrind.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

extern char **environ;

namespace
{

const int screenW = 720, screenH = 576;
const size_t frameBytes = (size_t)screenW * screenH * 2;
const char *const remoteName = "dreambox remote control (native)";
const char *const benchInBox = "/bin/menu_bench";
const char *const probeInBox = "/bin/menuprobe.so";
const char *const menuOutput = "/.boxsim/menu.out";

// ---------------------------------------------------------------------------
// Inside the box.

// The report goes to the original standard output; the menu's own console
// lines go to a file, as they go to the box's console.
int reportFd = 1;

class FdBuf : public std::streambuf
{
  protected:
    int overflow(int c) override
    {
        if (c == EOF) return 0;
        char ch = (char)c;
        return write(reportFd, &ch, 1) == 1 ? c : EOF;
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        std::streamsize done = 0;
        while (done < n) {
            ssize_t w = write(reportFd, s + done, (size_t)(n - done));
            if (w <= 0) break;
            done += w;
        }
        return done;
    }
};

void report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void report(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vdprintf(reportFd, fmt, ap);
    va_end(ap);
}

void menuConsoleToFile()
{
    fflush(stdout);
    reportFd = dup(1);
    int out = open(menuOutput, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        dup2(out, 1);
        close(out);
    }
}

int64_t monotonicNs()
{
    struct timespec now;
    // Straight to the kernel: the box may stand in for the clock.
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

// The remote control's script: the given keys from the moment it is opened,
// or none; with idleReal the reads that find nothing reach the kernel.
bool remoteKeys(const std::string &keys, bool idleReal)
{
    RemoteDevice dev;
    dev.name = remoteName;
    if (!keys.empty() && !remote_key_records(keys, 0.0, 0.2, &dev.records)) return false;
    dev.idleReal = idleReal;
    std::ofstream script("/.boxsim/input/event0.conf", std::ios::trunc);
    script << remote_script(dev);
    return (bool)script;
}

// The menu object as the program builds it: its construction runs the whole
// menu (OK is pressed at once), after which its screen is redrawn at will.
quisel *menu()
{
    static quisel *made = [] {
        remoteKeys("ok", false);
        return quisel::getInstance();
    }();
    return made;
}

void redraw()
{
    menu()->showpic();
    menu()->drawmenu();
}

// A framebuffer object of its own for the floor, in the menu's mode.
fbClass *floorScreen()
{
    static fbClass *fb = [] {
        fbClass *made = new fbClass();
        made->SetMode(screenW, screenH, 16);
        return made;
    }();
    return fb;
}

// The background as a 16-bit frame: what the floor copies.
const std::vector<unsigned char> &floorFrame()
{
    static std::vector<unsigned char> frame = [] {
        std::vector<unsigned char> rgb = backdrop_pixels(screenW, screenH);
        std::vector<unsigned char> out(frameBytes);
        int bytes = 0;
        unsigned char *converted =
            convertRGB2FB(-1, rgb.data(), (unsigned long)screenW * screenH, 16, &bytes);
        if (converted) memcpy(out.data(), converted, out.size());
        free(converted);
        return out;
    }();
    return frame;
}

// What any redraw must write: one cleared frame and one full frame copied in.
void floorOnce(fbClass *fb)
{
    memset(fb->screenMap, 0, (size_t)fb->lineLength * fb->screenHeight);
    memcpy(fb->screenMap, floorFrame().data(), frameBytes);
    benchmark::ClobberMemory();
}

bool floorReady(benchmark::State &state)
{
    fbClass *fb = floorScreen();
    if (!fb->available() || (size_t)fb->lineLength * fb->screenHeight < frameBytes) {
        state.SkipWithError("no 720x576x16 framebuffer for the floor");
        return false;
    }
    return true;
}

void BM_RedrawFloor(benchmark::State &state)
{
    if (!floorReady(state)) return;
    fbClass *fb = floorScreen();
    for (auto _ : state)
        floorOnce(fb);
}

void BM_Redraw(benchmark::State &state)
{
    menu();
    for (auto _ : state)
        redraw();
}

// Where a redraw goes: the background (mode set and picture) and the menu
// drawn over it.
void BM_RedrawShowpic(benchmark::State &state)
{
    menu();
    for (auto _ : state)
        menu()->showpic();
    menu()->drawmenu();
}

void BM_RedrawDrawmenu(benchmark::State &state)
{
    menu()->showpic();
    for (auto _ : state)
        menu()->drawmenu();
}

// The requests every redraw makes of the device, without drawing: the mode
// set with its line length, the colour map's one-pixel copy through a fresh
// mapping, the update switch, the picture's fresh mapping (filled in at once,
// as the picture copy has it) and the blit.
void BM_RedrawRequests(benchmark::State &state)
{
    if (!floorReady(state)) return;
    fbClass *fb = floorScreen();
    size_t length = (size_t)fb->linePixels * fb->screenHeight * 2;
    for (auto _ : state) {
        fb_var_screeninfo mode = fb->modeInfo;
        fb_fix_screeninfo fix{};
        ioctl(fb->fbFd, FBIOPUT_VSCREENINFO, &mode);
        ioctl(fb->fbFd, FBIOGET_FSCREENINFO, &fix);
        void *one = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fb->fbFd, 0);
        if (one != MAP_FAILED) {
            *(volatile unsigned char *)one = 0;
            munmap(one, length);
        }
        unsigned char on = 1;
        ioctl(fb->fbFd, fbUpdateSwitchRequest, &on);
        void *all =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fb->fbFd, 0);
        if (all != MAP_FAILED) munmap(all, length);
        ioctl(fb->fbFd, fbBlitRequest);
    }
}

// libpng alone: the background decoded row by row into one buffer.
bool pngDecode(const char *path, std::vector<unsigned char> *pixels)
{
    FILE *file = fopen(path, "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    pixels->resize(rowBytes * height);
    for (int pass = 0; pass < passes; pass++)
        for (png_uint_32 y = 0; y < height; y++)
            png_read_row(png, pixels->data() + y * rowBytes, nullptr);
    png_read_end(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    return true;
}

void BM_PngDecodeFloor(benchmark::State &state)
{
    std::vector<unsigned char> pixels;
    for (auto _ : state)
        if (!pngDecode(paths::menuPicture, &pixels)) {
            state.SkipWithError("the background does not decode");
            return;
        }
}

// Starts the real menu program, with the given extra preload in front of the
// box's own library; the child's standard output goes to the menu's file.
pid_t startMenu(const char *extraPreload, const std::string &extraEnv,
                const std::vector<std::string> &before = {})
{
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        if (strncmp(*e, "LD_PRELOAD=", 11) == 0 && extraPreload)
            env.push_back(std::string("LD_PRELOAD=") + extraPreload + ":" + (*e + 11));
        else if (strncmp(*e, "MENU_BENCH", 10) != 0)
            env.push_back(*e);
    }
    if (!extraEnv.empty()) env.push_back(extraEnv);
    std::vector<std::string> args = before;
    args.push_back(paths::menuProgram);
    std::vector<char *> argv, envp;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, menuOutput, O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

void BM_StartToFirstFrame(benchmark::State &state)
{
    if (!remoteKeys("", false)) {
        state.SkipWithError("cannot write the remote control's script");
        return;
    }
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        int64_t start = monotonicNs();
        pid_t pid = startMenu(probeInBox, "FIRSTFRAME_FD=" + std::to_string(pipeFds[1]));
        close(pipeFds[1]);
        int64_t shown = 0;
        ssize_t got = pid > 0 ? read(pipeFds[0], &shown, sizeof shown) : -1;
        close(pipeFds[0]);
        if (pid > 0) waitpid(pid, nullptr, 0);
        if (got != (ssize_t)sizeof shown) {
            state.SkipWithError("the menu showed no frame");
            return;
        }
        state.SetIterationTime((double)(shown - start) / 1e9);
    }
}

BENCHMARK(BM_RedrawFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Redraw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RedrawShowpic)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RedrawDrawmenu)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RedrawRequests)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecodeFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StartToFirstFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The usual table, and each benchmark's time (a single run's, or the median
// when runs are repeated) for the ratios. Wall time: what the user feels.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &run : runs) {
            if (run.error_occurred) {
                errors++;
                continue;
            }
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            times[run.run_name.str()] = run.GetAdjustedRealTime();
            cpuTimes[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
    }
    int errors = 0;
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes;
};

void ratioLine(const char *what, double figure, double floor, double budget, const char *unit)
{
    if (figure <= 0 || floor <= 0) {
        report("  %-28s not measured\n", what);
        return;
    }
    double ratio = figure / floor;
    if (budget <= 0) {
        // A share of another figure, which has a budget of its own.
        report("  %-28s %12.1f %s  floor %12.1f %s  %6.2fx\n", what, figure, unit, floor, unit,
               ratio);
        return;
    }
    report("  %-28s %12.1f %s  floor %12.1f %s  %6.2fx  budget %.1fx  %s\n", what, figure, unit,
           floor, unit, ratio, budget, ratio <= budget ? "met" : "NOT met");
}

int runBenchmarks(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    FdBuf buf;
    std::ostream out(&buf);
    RatioReporter reporter;
    reporter.SetOutputStream(&out);
    reporter.SetErrorStream(&out);
    menu(); // the menu runs once before anything is timed
    benchmark::RunSpecifiedBenchmarks(&reporter);
    out.flush();
    auto &t = reporter.times;
    auto &c = reporter.cpuTimes;
    report("\nRatios to the floor, wall time:\n");
    ratioLine("redraw (showpic+drawmenu)", t["BM_Redraw"], t["BM_RedrawFloor"], 2.0, "us");
    ratioLine("start to first frame", t["BM_StartToFirstFrame/manual_time"], t["BM_PngDecodeFloor"],
              1.2, "us");
    // The requests every redraw makes of the device are the same whatever
    // the program does; what is left is the program's own drawing.
    report("Redraw in CPU time (steadier on a busy machine):\n");
    ratioLine("redraw (showpic+drawmenu)", c["BM_Redraw"], c["BM_RedrawFloor"], 2.0, "us");
    ratioLine("  the device requests alone", c["BM_RedrawRequests"], c["BM_RedrawFloor"], 0, "us");
    ratioLine("  redraw less the requests", c["BM_Redraw"] - c["BM_RedrawRequests"],
              c["BM_RedrawFloor"], 2.0, "us");
    benchmark::Shutdown();
    return reporter.errors ? 1 : 0;
}

// Under callgrind (started by runInstructions): instructions of n floors and
// of n redraws, each dumped on its own.
int countInstructions(int n)
{
    fbClass *fb = floorScreen();
    if (!fb->available()) return 1;
    floorFrame();
    menu();
    redraw();
    floorOnce(fb);
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < n; i++)
        floorOnce(fb);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT("floor");
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < n; i++)
        redraw();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT("redraw");
    return 0;
}

// The instructions of each callgrind dump, by what triggered it.
std::map<std::string, long long> readDumps(const std::string &dir, const std::string &stem)
{
    std::map<std::string, long long> dumps;
    DIR *d = opendir(dir.c_str());
    if (!d) return dumps;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind(stem, 0) != 0) continue;
        std::ifstream in(dir + "/" + name);
        std::string line, trigger;
        long long total = -1;
        while (std::getline(in, line)) {
            if (line.rfind("desc: Trigger: Client Request: ", 0) == 0) trigger = line.substr(31);
            if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0)
                total = atoll(line.substr(line.find(':') + 1).c_str());
        }
        if (!trigger.empty() && total >= 0) dumps[trigger] = total;
    }
    closedir(d);
    return dumps;
}

int runInstructions()
{
    const int n = 20;
    const char *valgrind = "/usr/bin/valgrind.bin";
    if (access(valgrind, X_OK) != 0) {
        report("instructions: valgrind is not installed (scripts/install-deps.sh)\n");
        return 1;
    }
    std::vector<std::string> args = {valgrind,
                                     "--tool=callgrind",
                                     "--collect-atstart=no",
                                     "--callgrind-out-file=/.boxsim/cg.out",
                                     benchInBox,
                                     "--count",
                                     std::to_string(n)};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, menuOutput, O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/.boxsim/valgrind.err",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Valgrind reads its own process's maps, so the box needs a /proc.
    mkdir("/proc", 0555);
    mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    pid_t pid = -1;
    int status = -1;
    int failed = posix_spawn(&pid, valgrind, &actions, nullptr, argv.data(), environ);
    if (failed) report("instructions: cannot start valgrind: %s\n", strerror(failed));
    if (!failed) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        report("instructions: the callgrind run failed:\n");
        std::ifstream err("/.boxsim/valgrind.err");
        for (std::string line; std::getline(err, line);)
            report("  %s\n", line.c_str());
        return 1;
    }
    std::map<std::string, long long> dumps = readDumps("/.boxsim", "cg.out");
    if (!dumps.count("floor") || !dumps.count("redraw")) {
        report("instructions: callgrind left no dumps\n");
        return 1;
    }
    report("Instructions (callgrind, per run, mean of %d):\n", n);
    ratioLine("redraw (showpic+drawmenu)", (double)dumps["redraw"] / n, (double)dumps["floor"] / n,
              2.0, "Ir");
    return 0;
}

long statmResidentKiB()
{
    std::ifstream in("/.boxsim/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int runMemory()
{
    int width = 0, height = 0;
    if (fh_png_getsize(paths::menuPicture, &width, &height, 0x7fffffff, 0x7fffffff) != 0) {
        report("memory: the background cannot be read\n");
        return 1;
    }
    double packedKiB = (double)width * height * 3 / 1024;
    double budgetKiB = packedKiB + 4096;

    // The real program, from start to end (OK at once), telling its memory
    // by kind as it ends.
    remoteKeys("ok", false);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 1;
    pid_t pid = startMenu(probeInBox, "MEMORY_FD=" + std::to_string(pipeFds[1]));
    close(pipeFds[1]);
    std::string kinds;
    char buf[512];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;)
        kinds.append(buf, n);
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage {
    };
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) {
        report("memory: the menu did not run\n");
        return 1;
    }
    double peak = (double)usage.ru_maxrss;
    report("Memory (KiB):\n");
    report("  picture packed %.0f, budget packed + 4096 = %.0f\n", packedKiB, budgetKiB);
    report("  %-36s %8.0f  %.2fx budget  %s\n", "peak resident of quisel in the box", peak,
           peak / budgetKiB, peak <= budgetKiB ? "met" : "NOT met");
    // In the box the device memory is a file mapping and counts as resident
    // (on the box it is the driver's memory); libraries and the font count
    // as file pages.
    report("  as it ends:");
    std::istringstream lines(kinds);
    std::map<std::string, long> kind;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        long kib = 0;
        words >> name >> kib;
        kind[name] = kib;
        report(" %s %ld", name.c_str(), kib);
    }
    report("\n");
    double own = (double)kind["RssAnon:"];
    report("  %-36s %8.0f  %.2fx budget  %s\n", "own memory (anonymous) as it ends", own,
           own / budgetKiB, own <= budgetKiB ? "met" : "NOT met");

    // Growth: the menu object redrawn 10,000 times in this process.
    menu();
    for (int i = 0; i < 100; i++)
        redraw();
    struct rusage before {
    }, after{};
    getrusage(RUSAGE_SELF, &before);
    long residentBefore = statmResidentKiB();
    struct mallinfo2 heapBefore = mallinfo2();
    for (int i = 0; i < 10000; i++)
        redraw();
    getrusage(RUSAGE_SELF, &after);
    long residentAfter = statmResidentKiB();
    struct mallinfo2 heapAfter = mallinfo2();
    long heapGrowth = (long)heapAfter.uordblks - (long)heapBefore.uordblks;
    report("  growth over 10,000 redraws: resident %+ld KiB, peak %+ld KiB, heap in use %+ld "
           "bytes  %s\n",
           residentAfter - residentBefore, after.ru_maxrss - before.ru_maxrss, heapGrowth,
           (heapGrowth <= 0 && after.ru_maxrss == before.ru_maxrss) ? "met" : "NOT met");
    return 0;
}

// One line of an strace log: "PID name(args) = result".
struct TraceCall {
    std::string name;
    std::string args;
    std::string result;
};

bool parseTraceLine(const std::string &line, TraceCall *call)
{
    size_t space = line.find(' ');
    size_t open = line.find('(', space == std::string::npos ? 0 : space);
    if (space == std::string::npos || open == std::string::npos) return false;
    size_t start = line.find_first_not_of(' ', space);
    call->name = line.substr(start, open - start);
    // strace pads the result into a column: "name(args)     = result".
    size_t equals = line.rfind(" = ");
    size_t close = equals == std::string::npos ? equals : line.rfind(')', equals);
    if (close == std::string::npos || close < open) return false;
    call->args = line.substr(open + 1, close - open - 1);
    call->result = line.substr(equals + 3);
    return !call->name.empty() && isalpha((unsigned char)call->name[0]);
}

int runIdle()
{
    const char *strace = "/usr/bin/strace";
    if (access(strace, X_OK) != 0) {
        report("idle: strace is not installed (scripts/install-deps.sh)\n");
        return 1;
    }
    // No key: the menu waits out its timeout on the real clock.
    remoteKeys("", true);
    const char *traceFile = "/.boxsim/idle.trace";
    pid_t pid = startMenu(nullptr, "", {strace, "-f", "-C", "-o", traceFile});
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        report("idle: the menu did not run under strace\n");
        return 1;
    }
    // The idle loop: from the first 100 ms sleep to the last one of the
    // loop; the very last belongs to the poll of the completion.
    std::ifstream in(traceFile);
    std::vector<TraceCall> calls;
    std::vector<std::string> summary;
    std::string line;
    bool inSummary = false;
    while (std::getline(in, line)) {
        if (line.find("% time") != std::string::npos) inSummary = true;
        if (inSummary) {
            summary.push_back(line);
            continue;
        }
        TraceCall call;
        if (parseTraceLine(line, &call)) calls.push_back(call);
    }
    auto isPollSleep = [](const TraceCall &c) {
        return (c.name == "clock_nanosleep" || c.name == "nanosleep") &&
               c.args.find("tv_nsec=100000000") != std::string::npos;
    };
    size_t first = calls.size(), last = 0, final = 0;
    for (size_t i = 0; i < calls.size(); i++)
        if (isPollSleep(calls[i])) {
            if (first == calls.size()) first = i;
            last = final;
            final = i;
        }
    if (first >= last) {
        report("idle: no polls seen in the trace\n");
        return 1;
    }
    // Every poll between the first and the last sleep: the calls after one
    // sleep up to and including the next.
    std::map<std::string, long> counts;
    long polls = 0;
    for (size_t i = first + 1; i <= last; i++) {
        const TraceCall &c = calls[i];
        std::string key = c.name;
        if (c.name == "read") key = "read (remote control)";
        if (c.name == "openat" && c.args.find("clock") != std::string::npos)
            key = "openat (the box's clock file)";
        if (c.name == "clock_gettime") key = "clock_gettime (the box's input log)";
        if (isPollSleep(c)) {
            key = "sleep 100 ms";
            polls++;
        }
        counts[key]++;
    }
    report("Idle polls (strace over a %ld-poll stretch of a 10-second wait, one remote control):\n",
           polls);
    bool met = true;
    for (const auto &c : counts) {
        double perPoll = (double)c.second / polls;
        bool program = c.first == "read (remote control)" || c.first == "sleep 100 ms";
        if (program && perPoll > 1.0) met = false;
        if (!program && c.first.find("the box's") == std::string::npos) met = false;
        report("  %-36s %6ld  %5.2f per poll%s\n", c.first.c_str(), c.second, perPoll,
               program ? "" : "  (the simulator's, not the program's)");
    }
    report("  budget: one read per device and one sleep per poll  %s\n", met ? "met" : "NOT met");
    report("strace -c of the whole run:\n");
    for (const std::string &s : summary)
        report("  %s\n", s.c_str());
    return 0;
}

int runInside(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--count") == 0) {
        menuConsoleToFile();
        return countInstructions(atoi(argv[2]));
    }
    menuConsoleToFile();
    if (argc >= 2 && strcmp(argv[1], "--instructions") == 0) return runInstructions();
    if (argc >= 2 && strcmp(argv[1], "--memory") == 0) return runMemory();
    if (argc >= 2 && strcmp(argv[1], "--idle") == 0) return runIdle();
    return runBenchmarks(argc, argv);
}

// ---------------------------------------------------------------------------
// On the host.

bool writeFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return (bool)out;
}

bool copyFile(const std::string &from, const std::string &to, mode_t mode)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    return in && out && chmod(to.c_str(), mode) == 0;
}

bool makeDirs(const std::string &path)
{
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += "/" + part;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// A tool of the host seen at the same path in the box, read-only.
void bindTool(const std::string &root, const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) return;
    std::string target = root + path;
    if (S_ISDIR(st.st_mode)) {
        makeDirs(target);
    } else {
        makeDirs(target.substr(0, target.rfind('/')));
        writeFile(target, "");
    }
    if (mount(path, target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0)
        mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
}

bool layOut(const std::string &root, std::string *error)
{
    if (!sandbox_prepare_root(root, error)) return false;
    if (!menu_install(root, QUISEL_BINARY, "", error)) return false;
    // Ten entries: "Flash" and nine images; the fifth is highlighted.
    for (int i = 1; i <= 9; i++)
        if (!makeDirs(root + paths::store + "image" + std::to_string(i))) {
            *error = "cannot make the store";
            return false;
        }
    std::string status = "Package: kernel-image\nVersion: 2.6.18-7.1\n\n"
                         "Package: dreambox-dvb-modules\nVersion: 2.6.18-20080404\n\n"
                         "Package: dreambox-secondstage\nVersion: 84\n";
    bool ok = writeFile(root + paths::versionFile, "2.3\n") &&
              writeFile(root + paths::selectionFile, "image4") &&
              makeDirs(root + "/var/lib/opkg") && writeFile(root + paths::packageStatus, status);
    // The device keeps no frames: saving them is the simulator's work.
    std::ofstream conf(root + "/.boxsim/fb.conf", std::ios::app);
    conf << "frames off\n";
    conf.close();
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    ok = ok && conf && makeDirs(root + "/bin") && makeDirs(root + "/tmp") &&
         copyFile(self, root + benchInBox, 0755) &&
         copyFile(PROBE_LIBRARY, root + probeInBox, 0644);
    if (!ok) *error = "cannot lay out the box in " + root;
    return ok;
}

int runHost(int argc, char **argv)
{
    // A mount namespace of its own: the box's tmpfs and the tools bound into
    // it vanish with this process.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
        fprintf(stderr, "menu_bench: no mount namespace (run as root): %s\n", strerror(errno));
        return 1;
    }
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/menubench.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back(0);
    if (!mkdtemp(name.data())) {
        perror("menu_bench: mkdtemp");
        return 1;
    }
    std::string root = name.data();
    int status = 1;
    std::string error;
    // Device memory on tmpfs, which like the box's framebuffer memory has no
    // disk behind it.
    if (mount("tmpfs", root.c_str(), "tmpfs", 0, "size=256m,mode=0755") != 0) {
        fprintf(stderr, "menu_bench: cannot mount a tmpfs on %s: %s\n", root.c_str(),
                strerror(errno));
    } else if (!layOut(root, &error)) {
        fprintf(stderr, "menu_bench: %s\n", error.c_str());
    } else {
        bindTool(root, "/usr/bin/valgrind.bin");
        bindTool(root, "/usr/libexec/valgrind");
        bindTool(root, "/usr/bin/strace");
        SandboxRun run;
        run.root = root;
        run.argv = {benchInBox};
        for (int i = 1; i < argc; i++)
            run.argv.push_back(argv[i]);
        run.env = {"MENU_BENCH_IN_BOX=1"};
        run.timeoutSeconds = 900;
        SandboxResult result;
        if (!sandbox_run(run, &result))
            fprintf(stderr, "menu_bench: %s\n", result.error.c_str());
        else if (WIFEXITED(result.waitStatus))
            status = WEXITSTATUS(result.waitStatus);
    }
    umount2(root.c_str(), MNT_DETACH);
    rmdir(root.c_str());
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (getenv("MENU_BENCH_IN_BOX")) return runInside(argc, argv);
    return runHost(argc, argv);
}
