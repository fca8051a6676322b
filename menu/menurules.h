// The boot menu's reading rules: what the menu makes of the selection file,
// the version file, the package status file, the remote control's records
// and device names. Each works on what it is given (a stream, a record, a
// buffer), so the menu class only wires them to the fixed paths.
#pragma once

#include <linux/input.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// One text slot of the information lines: 127 characters and the zero byte.
constexpr size_t infoSlotSize = 128;
constexpr int infoSlotCount = 4;
// Slot of each information text.
enum { infoVersion = 0, infoKernel = 1, infoDrivers = 2, infoSecondStage = 3 };

// Menu key codes the loop acts on; noKey means "this poll took no new key".
constexpr int16_t rcUp = 12;
constexpr int16_t rcDown = 13;
constexpr int16_t rcOk = 14;
constexpr int16_t noKey = -1;

// At most this many entries are shown and can be highlighted.
constexpr int shownEntries = 10;

// The largest background picture the menu loads, in either direction: far
// beyond the 720 x 576 screen, yet a buffer the box can always hold. A file
// can claim any size up to a million pixels a side in a few bytes.
constexpr int maxPictureSide = 2048;

// Bytes of the packed RGB buffer for a background picture of this size, or
// 0 when the menu does not load a picture that size.
size_t pictureBufferBytes(int width, int height);

// Menu key code of a raw key code, or -1 when the key is not in the table.
int rcMenuCode(unsigned int code);

// Decides what one poll makes of the record it took (null: no record).
// Updates rcCode and lastCode; returns 1 for a new press (the caller answers
// at once), 0 when the caller is to wait before the next poll.
int rcTakeRecord(const struct input_event *ev, int16_t *rcCode, uint16_t *lastCode);

// True when a device name, as the name request left it in a buffer of len
// bytes (not necessarily zero-terminated), contains "remote control".
bool rcNameIsRemote(const char *name, size_t len);

// The name in the first line of a selection file (at most 99 bytes, the
// first line-feed removed). Empty when no line could be read.
std::string selectionRead(FILE *in);

// Index of the entry to highlight first for the selection name: the last of
// the first ten entries whose name equals it, else 0.
int selectionIndex(const std::string &name, const std::vector<std::string> &entries);

// Version line from the version file's first line into a slot; the slot is
// left empty when no line can be read. Cut to fit the slot.
void versionLineRead(FILE *in, char *slot);

// Versions of the kernel, driver and second-stage packages from the package
// status file into slots 1 to 3 (which the caller has set to "[ n/a ]").
void packageVersionsRead(FILE *in, char slots[][infoSlotSize]);
