#include "menurules.h"

#include <string.h>

namespace
{

struct KeyEntry {
    unsigned int code;
    int menuCode;
};

const KeyEntry keyTable[] = {
    {KEY_1, 1},           {KEY_2, 2},         {KEY_3, 3},      {KEY_4, 4},      {KEY_5, 5},
    {KEY_6, 6},           {KEY_7, 7},         {KEY_8, 8},      {KEY_9, 9},      {KEY_0, 0},
    {KEY_UP, 12},         {KEY_LEFT, 11},     {KEY_RIGHT, 10}, {KEY_DOWN, 13},  {KEY_MUTE, 15},
    {KEY_VOLUMEDOWN, 22}, {KEY_VOLUMEUP, 21}, {KEY_POWER, 16}, {KEY_HELP, 23},  {KEY_MENU, 24},
    {KEY_EXIT, 31},       {KEY_OK, 14},       {KEY_RED, 19},   {KEY_GREEN, 17}, {KEY_YELLOW, 18},
    {KEY_BLUE, 20},
};

const char remoteText[] = "remote control";

// Removes the first line-feed and everything after it.
void cutAtLineFeed(char *text)
{
    char *lf = strchr(text, '\n');
    if (lf) *lf = 0;
}

// The value of a package: from the first blank of the line (included) to
// its end, without the first line-feed; the whole line when it has no blank.
void packageValue(const char *line, char *slot)
{
    const char *value = strchr(line, ' ');
    if (!value) value = line;
    char text[256];
    snprintf(text, sizeof text, "%s", value);
    cutAtLineFeed(text);
    // Keep the closing bracket: cut the value so "[ " value " ]" fits.
    constexpr size_t room = infoSlotSize - 1 - 4;
    if (strlen(text) > room) text[room] = 0;
    snprintf(slot, infoSlotSize, "[ %s ]", text);
}

} // namespace

size_t pictureBufferBytes(int width, int height)
{
    if (width <= 0 || height <= 0 || width > maxPictureSide || height > maxPictureSide) return 0;
    return (size_t)width * (size_t)height * 3;
}

int rcMenuCode(unsigned int code)
{
    for (const KeyEntry &k : keyTable)
        if (k.code == code) return k.menuCode;
    return -1;
}

int rcTakeRecord(const struct input_event *ev, int16_t *rcCode, uint16_t *lastCode)
{
    if (!ev) {
        *rcCode = noKey;
        return 0;
    }
    if (ev->value == 0) {
        *rcCode = noKey;
        *lastCode = 0;
        return 0;
    }
    if (ev->code == *lastCode) {
        *rcCode = noKey;
        return 0;
    }
    *lastCode = ev->code;
    int menuCode = rcMenuCode(ev->code);
    if (menuCode >= 0) *rcCode = (int16_t)menuCode;
    return 1;
}

bool rcNameIsRemote(const char *name, size_t len)
{
    size_t used = strnlen(name, len);
    return memmem(name, used, remoteText, sizeof remoteText - 1) != nullptr;
}

std::string selectionRead(FILE *in)
{
    char line[100];
    if (!fgets(line, sizeof line, in)) return std::string();
    cutAtLineFeed(line);
    return line;
}

int selectionIndex(const std::string &name, const std::vector<std::string> &entries)
{
    int chosen = 0;
    if (name.empty()) return chosen;
    int last = (int)entries.size() < shownEntries ? (int)entries.size() : shownEntries;
    for (int i = 0; i < last; i++)
        if (entries[i] == name) chosen = i;
    return chosen;
}

void versionLineRead(FILE *in, char *slot)
{
    slot[0] = 0;
    char line[256];
    if (!fgets(line, sizeof line, in)) return;
    char full[sizeof line + 32];
    snprintf(full, sizeof full, "--Quillon-- version %s ", line);
    // A line too long for the slot is cut at the slot's end.
    memcpy(slot, full, infoSlotSize - 1);
    slot[infoSlotSize - 1] = 0;
}

void packageVersionsRead(FILE *in, char slots[][infoSlotSize])
{
    static const struct {
        const char *package;
        int slot;
    } wanted[] = {
        {"Package: dreambox-dvb-modules", infoDrivers},
        {"Package: dreambox-secondstage", infoSecondStage},
        {"Package: kernel-image", infoKernel},
    };
    char line[256];
    while (fgets(line, sizeof line, in)) {
        for (const auto &w : wanted) {
            if (!strstr(line, w.package)) continue;
            // At the end of the file the buffer keeps the package line.
            char *next = fgets(line, sizeof line, in);
            (void)next;
            packageValue(line, slots[w.slot]);
        }
    }
}
