// PNG pictures read into packed 24-bit RGB (red, green, blue; rows top down).
#pragma once

#include <stddef.h>

// 1 when the file carries the PNG signature, else 0.
int fh_png_id(const char *name);
// 0 on success (width and height stored), 1 file not openable, 2 other failure.
int fh_png_getsize(const char *name, int *x, int *y, int wanted_width, int wanted_height);
// Decodes into buffer (width x height x 3 bytes for the size in the file).
// 0 on success, 1 file not openable, 2 other failure.
int fh_png_load(const char *name, unsigned char *buffer, int x, int y);
// Bytes of the packed RGB buffer for a picture of width x height: 0 when
// the size is not positive or no buffer of this machine can hold it, in
// which case the picture cannot be loaded.
size_t fh_png_bytes(int width, int height);
