// The background picture as the menu loads it: signature, size, buffer,
// decoding, through a file. Input: a PNG file; the chunks' checksums are
// put right before it is written, so that mutations reach the decoder
// instead of stopping at a checksum error.
#include "fuzzcheck.h"

#include "menu/menurules.h"
#include "picture/png.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace
{

uint32_t be32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void fixChecksums(std::vector<uint8_t> &file)
{
    size_t at = 8;
    while (at + 12 <= file.size()) {
        uint32_t len = be32(&file[at]);
        if (len > file.size() - at - 12) break;
        uLong crc = crc32(0, &file[at + 4], (uInt)len + 4);
        uint8_t *out = &file[at + 8 + len];
        for (int i = 0; i < 4; i++)
            out[i] = (uint8_t)(crc >> (24 - 8 * i));
        at += 12 + len;
    }
}

// One file in memory for the whole run, reached through a path.
const char *pictureFile(int *fd)
{
    static int memFd = memfd_create("picture", 0);
    static std::string path = "/proc/self/fd/" + std::to_string(memFd);
    *fd = memFd;
    return memFd >= 0 ? path.c_str() : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    fixChecksums(file);
    int fd = -1;
    const char *path = pictureFile(&fd);
    if (!path || ftruncate(fd, 0) != 0 || pwrite(fd, file.data(), file.size(), 0) != (ssize_t)size)
        return 0;

    const bool signature = size >= 4 && !memcmp(&file[1], "PNG", 3);
    FUZZ_CHECK(fh_png_id(path) == (signature ? 1 : 0));
    if (!signature) return 0;
    int width = -7, height = -7;
    int sized = fh_png_getsize(path, &width, &height, INT_MAX, INT_MAX);
    FUZZ_CHECK(sized == 0 || sized == 2);
    if (sized != 0) {
        FUZZ_CHECK(width == -7 && height == -7); // untouched on failure
        return 0;
    }
    FUZZ_CHECK(width > 0 && height > 0);
    size_t bytes = pictureBufferBytes(width, height);
    if (bytes == 0) return 0;
    FUZZ_CHECK(bytes == (size_t)width * (size_t)height * 3);
    unsigned char *buffer = (unsigned char *)malloc(bytes);
    if (!buffer) return 0;
    int loaded = fh_png_load(path, buffer, width, height);
    FUZZ_CHECK(loaded == 0 || loaded == 2);
    free(buffer);
    return 0;
}
