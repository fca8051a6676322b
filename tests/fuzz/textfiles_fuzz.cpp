// The store's version file, the package status file and the mount table, as
// the menu and the boot selector read them. Input: one file's bytes, read by
// each rule in turn.
#include "fuzzcheck.h"

#include "bootinit/bootrules.h"
#include "menu/menurules.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

FILE *memFile(const uint8_t *data, size_t size)
{
    return size ? fmemopen((void *)data, size, "r") : fopen("/dev/null", "r");
}

// The pieces fgets hands out with a buffer of bufSize bytes, each as a C
// string sees it (cut at its first zero byte).
std::vector<std::string> pieces(const uint8_t *data, size_t size, size_t bufSize)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && end - at < bufSize - 1 && data[end] != '\n')
            end++;
        if (end < size && end - at < bufSize - 1) end++; // the line-feed
        std::string piece((const char *)data + at, end - at);
        out.push_back(piece.substr(0, strnlen(piece.c_str(), piece.size())));
        at = end;
    }
    return out;
}

bool bracketed(const char *slot)
{
    size_t n = strnlen(slot, infoSlotSize);
    return n < infoSlotSize && n >= 4 && !strncmp(slot, "[ ", 2) && !strcmp(slot + n - 2, " ]");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<std::string> lines = pieces(data, size, 256);

    // Version line: the prefix, the first line and a blank, cut to the slot.
    std::unique_ptr<char[]> slot(new char[infoSlotSize]);
    FILE *in = memFile(data, size);
    if (!in) return 0;
    versionLineRead(in, slot.get());
    fclose(in);
    std::string expected;
    if (!lines.empty()) expected = ("--Quillon-- version " + lines[0] + " ").substr(0, 127);
    FUZZ_CHECK(slot.get() == expected);

    // Package versions: slots 1 to 3 stay "[ ... ]" and fit; slot 0 is not touched.
    std::unique_ptr<char[][infoSlotSize]> slots(new char[infoSlotCount][infoSlotSize]);
    snprintf(slots[0], infoSlotSize, "untouched");
    for (int i = 1; i < infoSlotCount; i++)
        snprintf(slots[i], infoSlotSize, "[ n/a ]");
    in = memFile(data, size);
    if (!in) return 0;
    packageVersionsRead(in, slots.get());
    fclose(in);
    FUZZ_CHECK(!strcmp(slots[0], "untouched"));
    for (int i = 1; i < infoSlotCount; i++)
        FUZZ_CHECK(bracketed(slots[i]));

    // Mount table: /proc is found exactly when a piece read names it.
    bool named = false;
    for (const std::string &line : lines)
        named = named || line.find("/proc") != std::string::npos;
    in = memFile(data, size);
    if (!in) return 0;
    FUZZ_CHECK(ProcIsMounted(in) == named);
    fclose(in);
    return 0;
}
