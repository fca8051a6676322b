// Options for sanitized programs in a box, before any ASAN_OPTIONS or
// UBSAN_OPTIONS of the environment: the preloaded library is found before
// the runtime's own empty defaults (after a change of root there is no
// /proc/self/environ to read the environment from). The preload comes before
// the runtime in the library list, which the runtime is told to accept;
// reports go into the control folder, where the sandbox collects them. The
// leak check needs every process's /proc/PID/task, which a box's stand-in
// /proc does not have: it stays off in a box (the fuzz targets and the unit
// tests check for leaks).
//
// Each runtime also hands the summary line of every report to the hook
// below, which writes it into the control folder through the descriptor the
// sandbox holds open: that reaches the sandbox from any program, whatever
// its own reports do (the undefined-behaviour runtime beside the address
// one writes to standard error only) and after a change of root.
#include "boxrecord.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

extern "C" {

__attribute__((visibility("default"))) const char *__asan_default_options()
{
    return "verify_asan_link_order=0:detect_leaks=0:log_path=/.boxsim/sanitizer";
}

__attribute__((visibility("default"))) const char *__ubsan_default_options()
{
    return "print_stacktrace=1:print_summary=1:report_error_type=1:halt_on_error=1";
}

__attribute__((visibility("default"))) void __sanitizer_report_error_summary(const char *summary)
{
    int fd = boxrec::openCtl("sanitizer.summary", O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return;
    char line[1024];
    int n = snprintf(line, sizeof line, "[%d] %s\n", (int)getpid(), summary);
    if (n > (int)sizeof line - 1) n = sizeof line - 1;
    ssize_t w = write(fd, line, n);
    (void)w;
    close(fd);
}

} // extern "C"
