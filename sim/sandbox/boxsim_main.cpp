// boxsim: the box simulator's command line.
//
//   boxsim run --root DIR [--no-preload] [--env NAME=VALUE]... [--out FILE] -- PROGRAM [ARG]...
//
// runs PROGRAM (a path inside the box root) as the first process of a fresh
// box and exits with its exit status.
#include "sandbox.h"

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include <string>

namespace {

int usage()
{
    fprintf(stderr, "usage: boxsim run --root DIR [--no-preload] [--env NAME=VALUE]... "
                    "[--out FILE] -- PROGRAM [ARG]...\n");
    return 2;
}

int runCommand(int argc, char **argv)
{
    SandboxRun run;
    int i = 0;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--") {
            i++;
            break;
        } else if (a == "--root" && i + 1 < argc) {
            run.root = argv[++i];
        } else if (a == "--env" && i + 1 < argc) {
            run.env.push_back(argv[++i]);
        } else if (a == "--out" && i + 1 < argc) {
            run.stdoutPath = run.stderrPath = argv[++i];
        } else if (a == "--no-preload") {
            run.preload = false;
        } else {
            return usage();
        }
    }
    if (run.root.empty() || i >= argc) return usage();
    for (; i < argc; i++) run.argv.push_back(argv[i]);
    SandboxResult result;
    if (!sandbox_run(run, &result)) {
        fprintf(stderr, "boxsim: %s\n", result.error.c_str());
        return 125;
    }
    if (result.timedOut) {
        fprintf(stderr, "boxsim: the box did not end in time and was killed\n");
        return 124;
    }
    if (WIFEXITED(result.waitStatus)) return WEXITSTATUS(result.waitStatus);
    fprintf(stderr, "boxsim: the box's first process died of signal %d\n",
            WTERMSIG(result.waitStatus));
    return 128 + WTERMSIG(result.waitStatus);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "run") == 0) return runCommand(argc - 2, argv + 2);
    return usage();
}
