// The project's own background picture for the menu: a quiet gradient with
// a lighter panel behind the entry rows, written as an 8-bit RGB PNG.
#pragma once

#include <string>
#include <vector>

// The picture's packed RGB pixels (width x height x 3, rows from the top).
std::vector<unsigned char> backdrop_pixels(int width, int height);

// Writes the picture as a PNG file; false when it cannot be written.
bool backdrop_write(const std::string &path, int width, int height);
