// The selection file as both programs read it: the menu's pre-selection and
// the boot selector's choice. Input: the file's bytes; the part after the
// first NUL-free line also names the store's entries, one a line.
#include "fuzzcheck.h"

#include "bootinit/bootrules.h"
#include "menu/menurules.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace
{

// The input as an open file (fmemopen wants at least one byte).
FILE *memFile(const uint8_t *data, size_t size)
{
    return size ? fmemopen((void *)data, size, "r") : fopen("/dev/null", "r");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *menuIn = memFile(data, size);
    FILE *bootIn = memFile(data, size);
    if (!menuIn || !bootIn) return 0;
    const std::string menuName = selectionRead(menuIn);
    const std::string bootName = ReadBootSelection(bootIn);
    fclose(menuIn);
    fclose(bootIn);

    // The first line as written, without its line-feed, up to the first zero byte.
    const char *bytes = (const char *)data;
    size_t lineLen = 0;
    while (lineLen < size && bytes[lineLen] != '\n')
        lineLen++;
    std::string line(bytes, lineLen);
    std::string shown = line.substr(0, 99);
    std::string booted = line.substr(0, 255);
    shown = shown.substr(0, strnlen(shown.c_str(), shown.size()));
    booted = booted.substr(0, strnlen(booted.c_str(), booted.size()));

    FUZZ_CHECK(menuName == shown);
    FUZZ_CHECK(bootName == (booted.empty() ? std::string(flashName) : booted));
    FUZZ_CHECK(menuName.find('\n') == std::string::npos);
    FUZZ_CHECK(bootName.find('\n') == std::string::npos);
    // Names short enough for the menu are the same in both programs.
    if (lineLen <= 99 && !menuName.empty()) FUZZ_CHECK(menuName == bootName);

    // The entries: "Flash", then the remaining lines.
    std::vector<std::string> entries = {flashName};
    size_t at = lineLen < size ? lineLen + 1 : size;
    while (at < size && entries.size() < 40) {
        size_t end = at;
        while (end < size && bytes[end] != '\n')
            end++;
        entries.emplace_back(bytes + at, end - at);
        at = end + 1;
    }
    int index = selectionIndex(menuName, entries);
    int shownCount = (int)entries.size() < shownEntries ? (int)entries.size() : shownEntries;
    FUZZ_CHECK(index >= 0 && index < shownCount);
    if (index > 0) FUZZ_CHECK(entries[index] == menuName);
    for (int i = index + 1; i < shownCount; i++)
        FUZZ_CHECK(entries[i] != menuName || menuName.empty());
    return 0;
}
