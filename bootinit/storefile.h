// Opening a text file of the multiboot store for reading. The store lies on
// a removable device anyone can write: what stands at a file's path may be
// a FIFO or a device node, whose opening or reading would hold the boot up
// for good, or a folder. Both programs read only regular files there.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// The file opened for reading like fopen(path, "r"), or null when it cannot
// be opened or is not a regular file. Opening never waits.
inline FILE *OpenStoreFile(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return nullptr;
    }
    FILE *in = fdopen(fd, "r");
    if (!in) close(fd);
    return in;
}
