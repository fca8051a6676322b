#include "testpng.h"

#include <stdio.h>

#include <png.h>

int testChannels(int colorType)
{
    switch (colorType) {
    case 0:
    case 3:
        return 1;
    case 4:
        return 2;
    case 2:
        return 3;
    default:
        return 4;
    }
}

TestPicture testPattern(uint32_t width, uint32_t height, int colorType, int bitDepth,
                        bool interlaced, uint32_t seed)
{
    TestPicture p;
    p.width = width;
    p.height = height;
    p.colorType = colorType;
    p.bitDepth = bitDepth;
    p.interlaced = interlaced;
    uint32_t top = (1u << bitDepth) - 1;
    uint32_t state = seed * 2654435761u + 1;
    int channels = testChannels(colorType);
    uint32_t entries = colorType == 3 ? top + 1 : 0;
    for (uint32_t i = 0; i < width * height * channels; i++) {
        state = state * 1103515245u + 12345u;
        uint32_t v = (state >> 8) % (top + 1);
        // Alpha samples: mostly the extremes, some in between.
        bool alpha = (colorType == 4 || colorType == 6) && (i % channels) == (uint32_t)channels - 1;
        if (alpha && (state >> 4) % 3 == 0) v = 0;
        if (alpha && (state >> 4) % 3 == 1) v = top;
        if (colorType == 3) v %= entries;
        p.samples.push_back((uint16_t)v);
    }
    for (uint32_t e = 0; e < entries; e++) {
        p.palette.push_back((uint8_t)(e * 37 + seed));
        p.palette.push_back((uint8_t)(e * 91 + 3));
        p.palette.push_back((uint8_t)(255 - e * 13));
        // A few transparent and half-transparent entries.
        p.alpha.push_back(e % 3 == 0 ? 0 : e % 3 == 1 ? 255 : (uint8_t)(e * 29));
    }
    return p;
}

bool writeTestPng(const std::string &path, const TestPicture &p)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colorType,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (p.colorType == 3) {
        std::vector<png_color> colours;
        for (size_t i = 0; i + 2 < p.palette.size(); i += 3)
            colours.push_back(png_color{p.palette[i], p.palette[i + 1], p.palette[i + 2]});
        png_set_PLTE(png, info, colours.data(), (int)colours.size());
        if (!p.alpha.empty()) png_set_tRNS(png, info, p.alpha.data(), (int)p.alpha.size(), nullptr);
    }
    png_write_info(png, info);
    int channels = testChannels(p.colorType);
    // Pack each row by hand: samples of under 8 bits share bytes, 16-bit
    // samples are big-endian.
    std::vector<std::vector<uint8_t>> rows(p.height);
    for (uint32_t y = 0; y < p.height; y++) {
        std::vector<uint8_t> &row = rows[y];
        uint32_t bits = 0, acc = 0;
        for (uint32_t i = 0; i < p.width * channels; i++) {
            uint16_t v = p.samples[(size_t)y * p.width * channels + i];
            if (p.bitDepth == 16) {
                row.push_back((uint8_t)(v >> 8));
                row.push_back((uint8_t)v);
            } else if (p.bitDepth == 8) {
                row.push_back((uint8_t)v);
            } else {
                acc = (acc << p.bitDepth) | v;
                bits += p.bitDepth;
                if (bits == 8) {
                    row.push_back((uint8_t)acc);
                    acc = bits = 0;
                }
            }
        }
        if (bits) row.push_back((uint8_t)(acc << (8 - bits)));
    }
    std::vector<png_bytep> pointers;
    for (auto &row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0;
}

namespace
{

// A sample widened (or cut) to 8 bits the way the reader asks for it.
uint32_t to8(uint32_t v, int depth)
{
    if (depth == 16) return v >> 8;
    if (depth == 8) return v;
    return v * 255 / ((1u << depth) - 1);
}

// Composition onto black at the sample's own precision.
uint32_t onBlack(uint32_t v, uint32_t alpha, uint32_t top)
{
    return (v * alpha + top / 2) / top;
}

} // namespace

std::vector<uint8_t> expectedRgb(const TestPicture &p)
{
    std::vector<uint8_t> out;
    int channels = testChannels(p.colorType);
    uint32_t top = (1u << p.bitDepth) - 1;
    for (size_t px = 0; px < (size_t)p.width * p.height; px++) {
        const uint16_t *s = &p.samples[px * channels];
        uint32_t r, g, b;
        if (p.colorType == 3) {
            uint32_t i = s[0];
            uint32_t a = i < p.alpha.size() ? p.alpha[i] : 255;
            r = onBlack(p.palette[i * 3], a, 255);
            g = onBlack(p.palette[i * 3 + 1], a, 255);
            b = onBlack(p.palette[i * 3 + 2], a, 255);
        } else if (p.colorType == 0) {
            r = g = b = to8(s[0], p.bitDepth);
        } else if (p.colorType == 4) {
            r = g = b = to8(onBlack(s[0], s[1], top), p.bitDepth);
        } else {
            r = to8(s[0], p.bitDepth);
            g = to8(s[1], p.bitDepth);
            b = to8(s[2], p.bitDepth);
        }
        out.push_back((uint8_t)r);
        out.push_back((uint8_t)g);
        out.push_back((uint8_t)b);
    }
    return out;
}

std::vector<uint8_t> gradientRgb(uint32_t width, uint32_t height, uint32_t seed)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++) {
            out.push_back((uint8_t)(x * 3 + seed));
            out.push_back((uint8_t)(y * 5 + seed * 7));
            out.push_back((uint8_t)((x ^ y) + seed * 13));
        }
    return out;
}
