// Runs a program inside a simulated box: fresh mount and PID namespaces, the
// box root as the root directory, the host's libraries bound read-only into
// it, and the simulator's preloaded library in the environment.
#pragma once

#include <string>
#include <vector>

struct SandboxRun {
    std::string root;              // prepared box root on the host
    std::vector<std::string> argv; // the program and its arguments, as seen in the box
    std::vector<std::string> env;  // extra environment entries ("NAME=value")
    bool preload = true;           // preload libboxsim.so
    std::string preloadLibrary;    // host path of libboxsim.so; empty: the built one
    std::string stdoutPath;        // host file for the box's standard output; empty: inherit
    std::string stderrPath;        // the same for standard error; may equal stdoutPath
    int timeoutSeconds = 120;      // wall-clock limit, then everything in the box is killed
};

struct SandboxResult {
    int waitStatus = -1;   // wait status of the box's first process
    bool timedOut = false;
    std::string error;     // why the sandbox itself could not run; empty when it ran
};

// The box's control folder, relative to the box root ("/.boxsim").
extern const char *const sandboxCtlDir;

// Makes the folders every box root needs (control folder, library mount
// points, /lib64 loader link). Safe to call more than once.
bool sandbox_prepare_root(const std::string &root, std::string *error);

// Runs one box; returns true when the sandbox itself worked (see result.error).
bool sandbox_run(const SandboxRun &run, SandboxResult *result);
