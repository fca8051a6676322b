// PNG pictures into packed 24-bit RGB, through libpng.
#include "png.h"

#include <fcntl.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <png.h>

namespace
{

// Everything that reading a picture holds open.
struct PngReader {
    FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlaceType = 0;

    void close()
    {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        png = nullptr;
        info = nullptr;
        if (file) fclose(file);
        file = nullptr;
    }
};

// Opens the file and creates the read structures: 0, or the result code.
int openPicture(const char *name, PngReader &reader)
{
    reader.file = fopen(name, "rb");
    if (!reader.file) return 1;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!reader.png) {
        reader.close();
        return 2;
    }
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) {
        reader.close();
        return 2;
    }
    return 0;
}

// True when a picture of this size fits in one buffer of this machine.
bool pictureFits(png_uint_32 width, png_uint_32 height)
{
    return width <= INT32_MAX && height <= INT32_MAX && fh_png_bytes((int)width, (int)height) != 0;
}

const png_color_16 blackBackground = {0, 0, 0, 0, 0};

} // namespace

size_t fh_png_bytes(int width, int height)
{
    if (width <= 0 || height <= 0) return 0;
    uint64_t pixels = (uint64_t)width * (uint64_t)height;
    if (pixels > (uint64_t)SIZE_MAX / 3 || pixels * 3 > (uint64_t)PTRDIFF_MAX) return 0;
    return (size_t)(pixels * 3);
}

int fh_png_id(const char *name)
{
    int fd = open(name, O_RDONLY);
    if (fd < 0) return 0;
    unsigned char id[4];
    ssize_t got = read(fd, id, 4);
    close(fd);
    return got == 4 && id[1] == 'P' && id[2] == 'N' && id[3] == 'G';
}

int fh_png_getsize(const char *name, int *x, int *y, int wanted_width, int wanted_height)
{
    (void)wanted_width;
    (void)wanted_height;
    PngReader reader;
    int result = openPicture(name, reader);
    if (result) return result;
    if (setjmp(png_jmpbuf(reader.png))) {
        reader.close();
        return 2;
    }
    png_init_io(reader.png, reader.file);
    png_read_info(reader.png, reader.info);
    png_get_IHDR(reader.png, reader.info, &reader.width, &reader.height, &reader.bitDepth,
                 &reader.colorType, &reader.interlaceType, nullptr, nullptr);
    reader.close();
    // A picture that no buffer of this machine can hold cannot be loaded.
    if (!pictureFits(reader.width, reader.height)) return 2;
    *x = (int)reader.width;
    *y = (int)reader.height;
    return 0;
}

int fh_png_load(const char *name, unsigned char *buffer, int x, int y)
{
    PngReader reader;
    int result = openPicture(name, reader);
    if (result) return result;
    if (setjmp(png_jmpbuf(reader.png))) {
        reader.close();
        return 2;
    }
    png_structp png = reader.png;
    png_infop info = reader.info;
    png_init_io(png, reader.file);
    png_read_info(png, info);
    png_get_IHDR(png, info, &reader.width, &reader.height, &reader.bitDepth, &reader.colorType,
                 &reader.interlaceType, nullptr, nullptr);
    // The caller's buffer holds x by y pixels; a file whose size differs (it
    // may have changed since the size was asked) is not decoded into it.
    if (x < 0 || y < 0 || reader.width != (png_uint_32)x || reader.height != (png_uint_32)y ||
        !pictureFits(reader.width, reader.height)) {
        reader.close();
        return 2;
    }

    if (reader.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
        png_set_background(png, &blackBackground, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
    if (reader.colorType == PNG_COLOR_TYPE_GRAY || reader.colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
        png_set_background(png, &blackBackground, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
    if (reader.colorType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
    if (reader.bitDepth < 8) png_set_packing(png);
    if (reader.bitDepth == 16) png_set_strip_16(png);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    size_t rowBytes = (size_t)reader.width * 3;
    if (png_get_rowbytes(png, info) != rowBytes) {
        printf("[png]: Error processing %s - please report (including image).\n", name);
        reader.close();
        return 2;
    }
    for (int pass = 0; pass < passes; pass++)
        for (png_uint_32 row = 0; row < reader.height; row++)
            png_read_row(png, buffer + row * rowBytes, nullptr);
    png_read_end(png, info);
    reader.close();
    return 0;
}
