#include "draw.h"

#include <string.h>

int fbBytesPerPixel(int depth)
{
    switch (depth) {
    case 8:
        return 1;
    case 15:
    case 16:
        return 2;
    case 24:
    case 32:
        return 4;
    default:
        return 0;
    }
}

uint32_t fbConvertPixel(unsigned char r, unsigned char g, unsigned char b, int depth)
{
    switch (depth) {
    case 8:
        return (r & 0xE0) | ((g >> 5) << 2) | (b >> 6);
    case 15:
        return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case 16:
        return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case 24:
    case 32:
        return ((uint32_t)r << 16) | ((uint32_t)g << 8) | b;
    default:
        return 0;
    }
}

namespace
{

template <typename Word, int depth>
void convertAll(const unsigned char *rgb, unsigned long count, unsigned char *out)
{
    for (unsigned long i = 0; i < count; i++, rgb += 3, out += sizeof(Word)) {
        Word value = (Word)fbConvertPixel(rgb[0], rgb[1], rgb[2], depth);
        memcpy(out, &value, sizeof(Word));
    }
}

} // namespace

void fbConvertPixels(const unsigned char *rgb, unsigned long count, int depth, unsigned char *out)
{
    // One loop per depth, so that the format is chosen once, not per pixel.
    switch (depth) {
    case 8:
        convertAll<uint8_t, 8>(rgb, count, out);
        break;
    case 15:
        convertAll<uint16_t, 15>(rgb, count, out);
        break;
    case 16:
        convertAll<uint16_t, 16>(rgb, count, out);
        break;
    case 24:
        convertAll<uint32_t, 24>(rgb, count, out);
        break;
    case 32:
        convertAll<uint32_t, 32>(rgb, count, out);
        break;
    default:
        break;
    }
}

void fbMake332(uint16_t *red, uint16_t *green, uint16_t *blue)
{
    for (int i = 0; i < 256; i++) {
        red[i] = (uint16_t)(((i >> 5) & 7) * 9180);
        green[i] = (uint16_t)(((i >> 2) & 7) * 9180);
        blue[i] = (uint16_t)((i & 3) * 21675);
    }
}

int64_t fbVisibleColumns(const FbGeometry &geometry)
{
    if (geometry.bytesPerPixel <= 0) return 0;
    int64_t inLine = geometry.lineLength / geometry.bytesPerPixel;
    return geometry.width < inLine ? geometry.width : inLine;
}

FbArea fbClipRect(const FbGeometry &geometry, int64_t x, int64_t y, int64_t width, int64_t height)
{
    FbArea area;
    if (width <= 0 || height <= 0) return area;
    int64_t right = x + width, bottom = y + height;
    int64_t columns = fbVisibleColumns(geometry);
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    if (right > columns) right = columns;
    if (bottom > geometry.height) bottom = geometry.height;
    if (right <= x || bottom <= y) return area;
    // The last line whose pixels up to the right edge still lie in the mapping.
    int64_t rowEnd = right * geometry.bytesPerPixel;
    if (rowEnd > geometry.mapLength) return area;
    if (geometry.lineLength > 0) {
        int64_t lines = (geometry.mapLength - rowEnd) / geometry.lineLength + 1;
        if (bottom > lines) bottom = lines;
    }
    if (bottom <= y) return area;
    area.left = x;
    area.top = y;
    area.width = right - x;
    area.height = bottom - y;
    return area;
}

int64_t fbPixelOffset(const FbGeometry &geometry, int64_t x, int64_t y)
{
    if (x < 0 || y < 0 || x >= fbVisibleColumns(geometry) || y >= geometry.height) return -1;
    int64_t offset = y * geometry.lineLength + x * geometry.bytesPerPixel;
    if (offset + geometry.bytesPerPixel > geometry.mapLength) return -1;
    return offset;
}

size_t fbClearLength(uint32_t lineLength, uint32_t height, uint32_t mapLength)
{
    uint64_t length = (uint64_t)lineLength * height;
    return length < mapLength ? (size_t)length : mapLength;
}

FbPlacement fbPlacePicture(int width, int height, int screenWidth, int screenHeight, int panX,
                           int panY, int offX, int offY)
{
    FbPlacement place;
    place.panX = ((int64_t)panX > (int64_t)width - screenWidth || panX < 0) ? 0 : panX;
    place.panY = ((int64_t)panY > (int64_t)height - screenHeight || panY < 0) ? 0 : panY;
    place.offX = ((int64_t)offX + width > screenWidth || offX < 0) ? 0 : offX;
    place.offY = ((int64_t)offY + height > screenHeight || offY < 0) ? 0 : offY;
    return place;
}

FbCopy fbClipCopy(unsigned int picW, unsigned int picH, unsigned int scrW, unsigned int scrH,
                  unsigned int panX, unsigned int panY, unsigned int offX, unsigned int offY)
{
    FbCopy copy;
    copy.columns = scrW < picW ? scrW : picW;
    copy.lines = scrH < picH ? scrH : picH;
    unsigned int picColumns = panX < picW ? picW - panX : 0;
    unsigned int scrColumns = offX < scrW ? scrW - offX : 0;
    unsigned int picLines = panY < picH ? picH - panY : 0;
    unsigned int scrLines = offY < scrH ? scrH - offY : 0;
    if (copy.columns > picColumns) copy.columns = picColumns;
    if (copy.columns > scrColumns) copy.columns = scrColumns;
    if (copy.lines > picLines) copy.lines = picLines;
    if (copy.lines > scrLines) copy.lines = scrLines;
    return copy;
}

namespace
{

template <typename Word>
void fillWords(unsigned char *dst, const unsigned char *pixel, size_t count)
{
    Word value;
    memcpy(&value, pixel, sizeof value);
    for (size_t i = 0; i < count; i++, dst += sizeof value)
        memcpy(dst, &value, sizeof value);
}

} // namespace

void fbFillPixels(unsigned char *dst, const unsigned char *pixel, int bytesPerPixel, size_t count)
{
    switch (bytesPerPixel) {
    case 1:
        memset(dst, pixel[0], count);
        break;
    case 2:
        fillWords<uint16_t>(dst, pixel, count);
        break;
    case 4:
        fillWords<uint32_t>(dst, pixel, count);
        break;
    default:
        for (size_t i = 0; i < count; i++, dst += bytesPerPixel)
            memcpy(dst, pixel, bytesPerPixel);
        break;
    }
}

bool fbPrefaultCopy(const FbCopy &copy, int bytesPerPixel)
{
    const uint64_t manyPages = 64 * 1024;
    return (uint64_t)copy.columns * copy.lines * (bytesPerPixel > 0 ? bytesPerPixel : 0) >=
           manyPages;
}
