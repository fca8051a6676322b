// Text in the menu font through FreeType's cache: the font set-up, the face
// requester and the drawing of characters and strings.
#include "fb.h"
#include "draw.h"

#include "bootinit/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

namespace
{

FTC_FaceID fontFaceId()
{
    return (FTC_FaceID) const_cast<char *>(paths::menuFont);
}

} // namespace

FT_Error FB_FaceRequester(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                          FT_Face *aface)
{
    (void)library;
    return ((fbClass *)request_data)->FTC_Face_Requester(face_id, aface);
}

FT_Error fbClass::FTC_Face_Requester(FTC_FaceID face_id, FT_Face *aface)
{
    (void)face_id;
    FT_Error error = FT_New_Face(ftLibrary, paths::menuFont, 0, aface);
    if (error == 0)
        FT_Select_Charmap(*aface, FT_ENCODING_UNICODE);
    else
        printf(" failed: %s", strerror(error));
    return error;
}

bool fbClass::setupFont()
{
    FT_Error error = FT_Init_FreeType(&ftLibrary);
    if (error) {
        printf("[FONT] <FT_Init_FreeType failed with Errorcode 0x%.2X>", (unsigned)error);
        ftLibrary = nullptr;
        releaseFont();
        return false;
    }
    error = FTC_Manager_New(ftLibrary, 10, 20, 0x400000, FB_FaceRequester, this, &cacheManager);
    if (error) {
        printf("[FONT] <FTC_Manager_New failed with Errorcode 0x%.2X>\n", (unsigned)error);
        cacheManager = nullptr;
        releaseFont();
        return false;
    }
    error = FTC_SBitCache_New(cacheManager, &sbitCache);
    if (error) {
        printf("[FONT] <FTC_SBitCache_New failed with Errorcode 0x%.2X>\n", (unsigned)error);
        releaseFont();
        return false;
    }
    error = FTC_Manager_LookupFace(cacheManager, fontFaceId(), &fontFace);
    if (error) {
        printf("[FONT] <FTC_Manager_Lookup_Face failed with Errorcode 0x%.2X>\n", (unsigned)error);
        releaseFont();
        return false;
    }
    kerningEnabled = (int)(fontFace->face_flags & FT_FACE_FLAG_KERNING);
    imageType.face_id = fontFaceId();
    imageType.flags = FT_LOAD_MONOCHROME;
    return true;
}

void fbClass::releaseFont()
{
    // The manager disposes of the cache and the face along with itself.
    if (cacheManager) FTC_Manager_Done(cacheManager);
    if (ftLibrary) FT_Done_FreeType(ftLibrary);
    cacheManager = nullptr;
    sbitCache = nullptr;
    currentSBit = nullptr;
    fontFace = nullptr;
    ftLibrary = nullptr;
    if (screenMap) munmap(screenMap, mapLength);
    screenMap = nullptr;
}

int fbClass::RenderChar(FT_ULong currentchar, int x, int y, int limit, int r, int g, int b)
{
    // No font engine, or no mapping: nothing can be looked up or drawn.
    if (!fontFace || !screenMap) return 0;
    unsigned char rgb[3] = {(unsigned char)r, (unsigned char)g, (unsigned char)b};
    int bypp = 0;
    unsigned char *pixel = convertRGB2FB(fbFd, rgb, 1, modeInfo.bits_per_pixel, &bypp);
    if (!pixel) {
        puts("malloc");
        return 0;
    }
    // A character on its own may follow a string of another size.
    sizeActive = false;
    int result = drawGlyph(currentchar, x, y, limit, r == -1, pixel, bypp);
    free(pixel);
    return result;
}

int fbClass::drawGlyph(FT_ULong currentchar, int x, int y, int limit, bool measuring,
                       const unsigned char *pixel, int bypp)
{
    FT_UInt glyph = glyphIndex(currentchar);
    if (glyph == 0) {
        printf("Glyphor <FT_Get_Char_Index for Char \"%c\" failed: \"undefined character code\">\n",
               (int)currentchar);
        return 0;
    }
    FT_Error error = FTC_SBitCache_Lookup(sbitCache, &imageType, glyph, &currentSBit, nullptr);
    if (error) {
        printf("Glyphor <FTC_SBitCache_Lookup for Char \"%c\" failed with Errorcode 0x%.2X>\n",
               (int)currentchar, (unsigned)error);
        return 0;
    }
    int kerning = 0;
    if (kerningEnabled) {
        kerning = pairKerning(previousGlyph, glyph);
        previousGlyph = glyph;
    }
    int advance = currentSBit->xadvance;
    if (measuring) return advance + kerning;
    if ((int64_t)x + advance >= limit) return -1;

    const FTC_SBitRec &sbit = *currentSBit;
    int64_t left = (int64_t)x + sbit.left + kerning;
    int64_t top = (int64_t)y - sbit.top;
    switch (bypp) {
    case 1:
        drawBits<1>(sbit, left, top, pixel);
        break;
    case 2:
        drawBits<2>(sbit, left, top, pixel);
        break;
    case 4:
        drawBits<4>(sbit, left, top, pixel);
        break;
    default:
        break;
    }
    return advance + kerning;
}

// The set bits of a glyph bitmap as pixels at (left, top), each written only
// where it lies on the screen and inside the mapping.
template <int bypp>
void fbClass::drawBits(const FTC_SBitRec &sbit, int64_t left, int64_t top,
                       const unsigned char *pixel)
{
    FbGeometry geometry = screenGeometry(bypp);
    const int64_t columns = fbVisibleColumns(geometry);
    const int64_t lines = geometry.height;
    const int64_t mapEnd = (int64_t)geometry.mapLength - bypp;
    const int64_t bottom = top + sbit.height - 1;
    if (sbit.height > 0 && top >= 0 && left >= 0 && bottom < lines &&
        left + sbit.width <= columns &&
        bottom * geometry.lineLength + (left + sbit.width - 1) * bypp <= mapEnd) {
        // The whole bitmap lies on the screen: no test per pixel.
        unsigned char *line = screenMap + top * geometry.lineLength + left * bypp;
        const unsigned char *bits = sbit.buffer;
        for (int row = 0; row < sbit.height;
             row++, line += geometry.lineLength, bits += sbit.pitch) {
            for (int byte = 0; byte < sbit.pitch && byte * 8 < sbit.width; byte++) {
                unsigned char eight = bits[byte];
                int end = sbit.width - byte * 8 < 8 ? sbit.width - byte * 8 : 8;
                for (int bit = 0; eight && bit < end; bit++, eight = (unsigned char)(eight << 1))
                    if (eight & 0x80) memcpy(line + (byte * 8 + bit) * bypp, pixel, bypp);
            }
        }
        return;
    }
    for (int row = 0; row < sbit.height; row++) {
        int64_t line = top + row;
        if (line < 0 || line >= lines) continue;
        const unsigned char *bits = sbit.buffer + (ptrdiff_t)row * sbit.pitch;
        int64_t lineStart = line * geometry.lineLength;
        for (int byte = 0; byte < sbit.pitch; byte++) {
            unsigned char eight = bits[byte];
            for (int bit = 0; eight && bit < 8; bit++, eight = (unsigned char)(eight << 1)) {
                int column = byte * 8 + bit;
                if (column >= sbit.width) break;
                if (!(eight & 0x80)) continue;
                int64_t at = left + column;
                if (at < 0 || at >= columns) continue;
                int64_t offset = lineStart + at * bypp;
                if (offset > mapEnd) continue;
                memcpy(screenMap + offset, pixel, bypp);
            }
        }
    }
}

// The face's glyph index of a character; those of the 256 byte values are
// asked of the face once and kept, since the face and its map never change.
FT_UInt fbClass::glyphIndex(FT_ULong currentchar)
{
    if (currentchar >= 256) return FT_Get_Char_Index(fontFace, currentchar);
    if (!glyphKnown[currentchar]) {
        glyphIndices[currentchar] = FT_Get_Char_Index(fontFace, currentchar);
        glyphKnown[currentchar] = true;
    }
    return glyphIndices[currentchar];
}

// The kerning of a glyph pair at the current size, in whole pixels (the
// quotient taken toward minus infinity). Face, size and pair fix it, so each
// is asked of the face once and kept in a small table.
int fbClass::pairKerning(FT_UInt left, FT_UInt right)
{
    KerningPair &kept =
        kerningPairs[((left * 31u + right) * 7u + (unsigned)imageType.width) % kerningPairCount];
    if (kept.known && kept.left == left && kept.right == right && kept.width == imageType.width &&
        kept.height == imageType.height)
        return kept.kerning;
    if (!sizeActive) activateSize();
    FT_Vector delta{0, 0};
    FT_Get_Kerning(fontFace, left, right, FT_KERNING_DEFAULT, &delta);
    kept.known = true;
    kept.left = left;
    kept.right = right;
    kept.width = imageType.width;
    kept.height = imageType.height;
    kept.kerning = (int)(delta.x >> 6);
    return kept.kerning;
}

void fbClass::activateSize()
{
    // Kerning is scaled by the face's active size, which a cache hit leaves
    // at whatever size was loaded last: make it this string's. Every glyph
    // of a string is looked up at the string's size, so once a string will do.
    FTC_ScalerRec scaler{};
    scaler.face_id = imageType.face_id;
    scaler.width = imageType.width;
    scaler.height = imageType.height;
    scaler.pixel = 1;
    FT_Size size = nullptr;
    FTC_Manager_LookupSize(cacheManager, &scaler, &size);
    sizeActive = true;
}

int fbClass::GetStringLen(const unsigned char *string)
{
    previousGlyph = 0;
    sizeActive = false;
    int length = 0;
    // Measuring draws nothing; the colour is converted once for the string
    // only to meet the same end as RenderChar when no pixel can be made.
    unsigned char white[3] = {255, 255, 255};
    int bypp = 0;
    unsigned char *pixel = nullptr;
    if (fontFace && screenMap && *string)
        pixel = convertRGB2FB(fbFd, white, 1, modeInfo.bits_per_pixel, &bypp);
    if (!pixel) {
        for (; *string; string++)
            length += RenderChar(*string, -1, -1, -1, -1, -1, -1);
        return length;
    }
    for (; *string; string++)
        length += drawGlyph(*string, -1, -1, -1, true, pixel, bypp);
    free(pixel);
    return length;
}

void fbClass::RenderString(std::string text, int x, int y, int maxwidth, int alignment, int size,
                           int r, int g, int b)
{
    imageType.width = size;
    imageType.height = size;
    const unsigned char *bytes = (const unsigned char *)text.c_str();
    if (alignment != 0) {
        int length = GetStringLen(bytes);
        if (length < maxwidth) {
            if (alignment == 1)
                x += (maxwidth - length) / 2;
            else if (alignment == 2)
                x += maxwidth - length;
        }
    }
    int limit = x + maxwidth;
    previousGlyph = 0;
    sizeActive = false;
    // The colour is the same for every character: converted once here.
    unsigned char rgb[3] = {(unsigned char)r, (unsigned char)g, (unsigned char)b};
    int bypp = 0;
    unsigned char *pixel = nullptr;
    if (fontFace && screenMap && *bytes)
        pixel = convertRGB2FB(fbFd, rgb, 1, modeInfo.bits_per_pixel, &bypp);
    for (; *bytes; bytes++) {
        int advance = pixel ? drawGlyph(*bytes, x, y, limit, r == -1, pixel, bypp)
                            : RenderChar(*bytes, x, y, limit, r, g, b);
        if (advance == -1) break;
        x += advance;
    }
    free(pixel);
}
