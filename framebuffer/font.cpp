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
    int result = drawGlyph(currentchar, x, y, limit, r == -1, pixel, bypp);
    free(pixel);
    return result;
}

int fbClass::drawGlyph(FT_ULong currentchar, int x, int y, int limit, bool measuring,
                       const unsigned char *pixel, int bypp)
{
    FT_UInt glyph = FT_Get_Char_Index(fontFace, currentchar);
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
        // Kerning is scaled by the face's active size, which a cache hit
        // leaves at whatever size was loaded last: make it this string's.
        FTC_ScalerRec scaler{};
        scaler.face_id = imageType.face_id;
        scaler.width = imageType.width;
        scaler.height = imageType.height;
        scaler.pixel = 1;
        FT_Size size = nullptr;
        FTC_Manager_LookupSize(cacheManager, &scaler, &size);
        FT_Vector delta{0, 0};
        FT_Get_Kerning(fontFace, previousGlyph, glyph, FT_KERNING_DEFAULT, &delta);
        kerning = (int)(delta.x >> 6);
        previousGlyph = glyph;
    }
    int advance = currentSBit->xadvance;
    if (measuring) return advance + kerning;
    if ((int64_t)x + advance >= limit) return -1;

    FbGeometry geometry = screenGeometry(bypp);
    const FTC_SBitRec &sbit = *currentSBit;
    int64_t left = (int64_t)x + sbit.left + kerning;
    int64_t top = (int64_t)y - sbit.top;
    for (int row = 0; row < sbit.height; row++) {
        const unsigned char *bits = sbit.buffer + (ptrdiff_t)row * sbit.pitch;
        for (int byte = 0; byte < sbit.pitch; byte++) {
            for (int bit = 0; bit < 8; bit++) {
                int column = byte * 8 + bit;
                if (column >= sbit.width) break;
                if (!(bits[byte] & (0x80 >> bit))) continue;
                int64_t offset = fbPixelOffset(geometry, left + column, top + row);
                if (offset >= 0) memcpy(screenMap + offset, pixel, bypp);
            }
        }
    }
    return advance + kerning;
}

int fbClass::GetStringLen(const unsigned char *string)
{
    previousGlyph = 0;
    int length = 0;
    for (; *string; string++)
        length += RenderChar(*string, -1, -1, -1, -1, -1, -1);
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
    for (; *bytes; bytes++) {
        int advance = RenderChar(*bytes, x, y, limit, r, g, b);
        if (advance == -1) break;
        x += advance;
    }
}
