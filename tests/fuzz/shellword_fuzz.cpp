// Names the boot selector puts on its command lines: for any byte string
// without a line-feed (and without a zero byte, which no command line can
// hold), the shell must read the quoted word back as exactly that string.
// Every input is read back by a small reader of the shell's quoting rules;
// every sixteenth one (and every one replayed) also by the real dash.
#include "fuzzcheck.h"

#include "bootinit/bootrules.h"

#include <errno.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char **environ;

namespace
{

bool plainByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '/';
}

// Reads one word the way the shell does for plain bytes, single quotes and
// backslashes; anything else unquoted (a blank, an expansion, a pattern)
// makes the word unreadable. False when the word is not exactly one word.
bool readWord(const std::string &word, std::string *out)
{
    out->clear();
    size_t i = 0;
    while (i < word.size()) {
        unsigned char c = word[i];
        if (c == '\'') {
            size_t end = word.find('\'', i + 1);
            if (end == std::string::npos) return false;
            out->append(word, i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '\\') {
            if (i + 1 >= word.size() || word[i + 1] == '\n') return false;
            out->push_back(word[i + 1]);
            i += 2;
        } else if (plainByte(c)) {
            out->push_back((char)c);
            i++;
        } else {
            return false;
        }
    }
    return !word.empty();
}

// What dash prints for a command line; empty with ok false when it could not run.
std::string dashOutput(const std::string &commandLine, bool *ok)
{
    *ok = false;
    int fds[2];
    if (pipe(fds) != 0) return std::string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char *argv[] = {(char *)"dash", (char *)"-c", (char *)commandLine.c_str(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "dash", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    // The fuzzer's own timers interrupt the calls now and then.
    while (rc == 0 && ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0) out.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    pid_t waited = -1;
    while (rc == 0 && (waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (rc == 0 && waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) *ok = true;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string piece;
    for (size_t i = 0; i < size; i++)
        if (data[i] != '\n' && data[i] != 0) piece.push_back((char)data[i]);

    const std::string word = ShellWord(piece);
    std::string back;
    FUZZ_CHECK(readWord(word, &back));
    FUZZ_CHECK(back == piece);
    // Plain names stay as they are.
    bool plain = !piece.empty();
    for (unsigned char c : piece)
        plain = plain && plainByte(c);
    if (plain) FUZZ_CHECK(word == piece);

#ifdef FUZZ_REPLAY
    const bool askDash = true;
#else
    static unsigned runs = 0;
    const bool askDash = runs++ % 16 == 0;
#endif
    if (askDash) {
        // As the hand-off uses it: alone, and with a path glued on.
        bool ok = false;
        std::string out = dashOutput("printf '%s|' " + word + " " + word + "/dev", &ok);
        FUZZ_CHECK(ok);
        FUZZ_CHECK(out == piece + "|" + piece + "/dev|");
    }
    return 0;
}
