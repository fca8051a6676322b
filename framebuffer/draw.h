// The pure parts of drawing: pixel formats, the 3-3-2 colour map and the
// clipping decisions that keep every write inside the screen and the mapping.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Bytes per pixel for a depth: 1 (8), 2 (15, 16), 4 (24, 32); 0 when the
// depth has no conversion.
int fbBytesPerPixel(int depth);

// One pixel of 8-bit red, green and blue in the format of the depth.
uint32_t fbConvertPixel(unsigned char r, unsigned char g, unsigned char b, int depth);

// Converts count packed RGB pixels into out (count x fbBytesPerPixel bytes),
// storing 2- and 4-byte values as whole words in the machine's byte order.
void fbConvertPixels(const unsigned char *rgb, unsigned long count, int depth, unsigned char *out);

// Fills the 3-3-2 colour map: red and green in eight levels, blue in four.
void fbMake332(uint16_t *red, uint16_t *green, uint16_t *blue);

// What drawing may touch: the visible screen and the mapped bytes.
struct FbGeometry {
    uint32_t width = 0;      // visible pixels per line
    uint32_t height = 0;     // visible lines
    uint32_t lineLength = 0; // bytes from one line to the next
    uint32_t mapLength = 0;  // bytes mapped
    int bytesPerPixel = 0;
};

// A rectangle of whole pixels, all inside the geometry (width or height 0
// when nothing is left).
struct FbArea {
    int64_t left = 0;
    int64_t top = 0;
    int64_t width = 0;
    int64_t height = 0;
};

// Columns of a line that can be written: the visible width, but never past
// the line length.
int64_t fbVisibleColumns(const FbGeometry &geometry);

// The part of the rectangle (x, y, width, height) inside the screen and the
// mapping; a zero or negative width or height gives an empty area.
FbArea fbClipRect(const FbGeometry &geometry, int64_t x, int64_t y, int64_t width, int64_t height);

// Byte offset of the pixel at (x, y), or -1 when it lies outside the screen
// or its bytes would reach past the mapping.
int64_t fbPixelOffset(const FbGeometry &geometry, int64_t x, int64_t y);

// Bytes the mode change clears: the visible lines, bounded by the mapping.
size_t fbClearLength(uint32_t lineLength, uint32_t height, uint32_t mapLength);

// Where a picture goes: pan (picture column and line shown first) and
// offset (screen column and line it goes to).
struct FbPlacement {
    int panX = 0;
    int panY = 0;
    int offX = 0;
    int offY = 0;
};

// A pan survives only while a whole screen of picture remains after it, an
// offset only while the whole picture fits after it; negative values count
// as 0.
FbPlacement fbPlacePicture(int width, int height, int screenWidth, int screenHeight, int panX,
                           int panY, int offX, int offY);

// How much of a picture one copy moves: columns per line and lines, so that
// neither the picture nor the screen is left.
struct FbCopy {
    unsigned int columns = 0;
    unsigned int lines = 0;
};

FbCopy fbClipCopy(unsigned int picW, unsigned int picH, unsigned int scrW, unsigned int scrH,
                  unsigned int panX, unsigned int panY, unsigned int offX, unsigned int offY);

// Writes count copies of one converted pixel of bytesPerPixel bytes (1, 2
// or 4) one after the other from dst.
void fbFillPixels(unsigned char *dst, const unsigned char *pixel, int bytesPerPixel, size_t count);

// Whether a picture copy should have its mapping filled in by the kernel at
// once rather than page by page as it is written: worth it only when the
// copy covers many pages.
bool fbPrefaultCopy(const FbCopy &copy, int bytesPerPixel);
