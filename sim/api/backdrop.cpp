#include "backdrop.h"

#include <png.h>
#include <stdio.h>

std::vector<unsigned char> backdrop_pixels(int width, int height)
{
    std::vector<unsigned char> rgb((size_t)width * height * 3);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            // Deep blue at the top to a dark violet at the bottom, a little
            // lighter towards the right.
            int r = 8 + 40 * y / height + 10 * x / width;
            int g = 16 + 12 * x / width;
            int b = 70 - 25 * y / height + 30 * x / width;
            // A soft panel behind the entry rows and the information lines.
            bool panel = x >= 60 && x < 660 && y >= 36 && y < 450;
            if (panel) {
                r += 18;
                g += 18;
                b += 24;
            }
            unsigned char *p = &rgb[((size_t)y * width + x) * 3];
            p[0] = (unsigned char)r;
            p[1] = (unsigned char)g;
            p[2] = (unsigned char)b;
        }
    }
    return rgb;
}

bool backdrop_write(const std::string &path, int width, int height)
{
    std::vector<unsigned char> rgb = backdrop_pixels(width, height);
    FILE *out = fopen(path.c_str(), "wb");
    if (!out) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        fclose(out);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++)
        png_write_row(png, &rgb[(size_t)y * width * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(out) == 0;
}
