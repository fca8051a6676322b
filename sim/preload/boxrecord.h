// The box's record log: one line per event, written by the preloaded library
// and by the firmware stand-ins, read back by the test side.
//
// A line is "[pid] kind" followed by tab-separated "key=value" fields. Values
// are escaped so that a line never holds a tab, a line-feed or a byte outside
// printable ASCII: "\\", "\t", "\n" and "\xHH".
//
// The sandbox keeps the control folder, the box's real proc and the console
// open at fixed descriptors. They are inherited through exec and survive a
// change of root, so a program started inside an image still reaches them.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace boxrec
{

constexpr int ctlFd = 250;     // the control folder
constexpr int procFd = 251;    // the box's real proc
constexpr int consoleFd = 252; // the box's console (its standard output at start)
// Set in the box's environment when the descriptors above are open.
constexpr const char *ctlFdEnv = "BOXSIM_CTL_FD";

inline std::string escape(const std::string &value)
{
    std::string out;
    for (unsigned char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::string unescape(const std::string &value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] != '\\' || i + 1 >= value.size()) {
            out += value[i];
            continue;
        }
        char c = value[++i];
        if (c == 't') {
            out += '\t';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 'x' && i + 2 < value.size()) {
            out += static_cast<char>(strtol(value.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// Opens a file of the control folder: through the inherited descriptor when
// the sandbox provides one, otherwise by its path.
inline int openCtl(const char *name, int flags, mode_t mode = 0644)
{
    const char *fd = getenv(ctlFdEnv);
    if (fd && *fd) {
        int opened = openat(atoi(fd), name, flags | O_CLOEXEC, mode);
        // A program that closed the inherited descriptor still finds the
        // folder by its path (as long as it has not changed its root).
        if (opened >= 0 || errno != EBADF) return opened;
    }
    const char *dir = getenv("BOXSIM_CTL");
    std::string path = std::string(dir && *dir ? dir : "/.boxsim") + "/" + name;
    return openat(AT_FDCWD, path.c_str(), flags | O_CLOEXEC, mode);
}

// One record, built field by field and appended to the log in one write.
class Line
{
  public:
    explicit Line(const char *kind)
    {
        char head[32];
        snprintf(head, sizeof head, "[%d] ", static_cast<int>(getpid()));
        text = std::string(head) + kind;
    }
    Line &add(const char *key, const std::string &value)
    {
        text += std::string("\t") + key + "=" + escape(value);
        return *this;
    }
    void write() const
    {
        int fd = openCtl("log", O_WRONLY | O_APPEND | O_CREAT);
        if (fd < 0) return;
        std::string line = text + "\n";
        ssize_t w = ::write(fd, line.data(), line.size());
        (void)w;
        close(fd);
    }

  private:
    std::string text;
};

// A record read back from the log.
struct Record {
    int pid = 0;
    std::string kind;
    std::vector<std::pair<std::string, std::string>> fields;

    // The first value of the key, or "" when there is none.
    std::string get(const std::string &key) const
    {
        for (const auto &f : fields)
            if (f.first == key) return f.second;
        return "";
    }
    bool has(const std::string &key) const
    {
        for (const auto &f : fields)
            if (f.first == key) return true;
        return false;
    }
    std::vector<std::string> all(const std::string &key) const
    {
        std::vector<std::string> values;
        for (const auto &f : fields)
            if (f.first == key) values.push_back(f.second);
        return values;
    }
};

// Parses one log line; false when it is not a record.
inline bool parse(const std::string &line, Record *record)
{
    if (line.size() < 4 || line[0] != '[') return false;
    size_t close = line.find("] ");
    if (close == std::string::npos) return false;
    *record = Record();
    record->pid = atoi(line.substr(1, close - 1).c_str());
    size_t pos = close + 2;
    size_t tab = line.find('\t', pos);
    record->kind = line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos);
    while (tab != std::string::npos) {
        pos = tab + 1;
        tab = line.find('\t', pos);
        std::string field =
            line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos);
        size_t eq = field.find('=');
        if (eq == std::string::npos) {
            record->fields.emplace_back(field, "");
        } else {
            record->fields.emplace_back(field.substr(0, eq), unescape(field.substr(eq + 1)));
        }
    }
    return true;
}

} // namespace boxrec
