// The menu's framebuffer object: device, video mode, drawing and text.
#pragma once

#include <linux/fb.h>
#include <stdint.h>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H
#include FT_CACHE_SMALL_BITMAPS_H

struct FbGeometry;

// The box driver's private requests: the explicit-update switch (a one-byte
// argument, 1 = show a frame only on request) and the blit request.
extern const unsigned long fbUpdateSwitchRequest;
extern const unsigned long fbBlitRequest;

// Converts packed RGB pixels into the pixel format of the given depth.
// Returns a malloc'ed buffer (caller frees) or null; stores the bytes per
// pixel through bypp. An unsupported depth ends the program with status 1.
unsigned char *convertRGB2FB(int fd, unsigned char *rgbbuff, unsigned long count, int bpp,
                             int *bypp);

class fbClass
{
  public:
    fbClass();

    int SetMode(unsigned int x, unsigned int y, unsigned int bpp);
    int blit();
    void palette();
    int showConsole(int show);

    void FillRect(int x, int y, int width, int height, int r, int g, int b);
    void blit2FB(void *fbbuff, unsigned char *alpha, unsigned int pic_xs, unsigned int pic_ys,
                 unsigned int scr_xs, unsigned int scr_ys, unsigned int xp, unsigned int yp,
                 unsigned int xoffs, unsigned int yoffs, int cpp);
    int make332map();
    int make8map();
    void fb_display(unsigned char *rgbbuff, unsigned char *alpha, int x_size, int y_size, int x_pan,
                    int y_pan, int x_offs, int y_offs);

    FT_Error FTC_Face_Requester(FTC_FaceID face_id, FT_Face *aface);
    int RenderChar(FT_ULong currentchar, int x, int y, int limit, int r, int g, int b);
    int GetStringLen(const unsigned char *string);
    void RenderString(std::string text, int x, int y, int maxwidth, int alignment, int size, int r,
                      int g, int b);

    // Declares a packed RGB picture that stays unchanged for the rest of the
    // run: fb_display then converts it once per depth and shows the kept
    // conversion again, which puts exactly the same pixels on the screen.
    void keepPicture(const unsigned char *rgbbuff, int x_size, int y_size);

    // The object is usable for drawing only with a mapping; after a failed
    // construction every operation leaves the screen alone.
    bool available() const { return screenMap != nullptr; }

    // Font-engine state; the object begins with it.
    FT_Library ftLibrary = nullptr;
    FTC_Manager cacheManager = nullptr;
    FTC_SBitCache sbitCache = nullptr;
    FTC_SBit currentSBit = nullptr;
    FTC_ImageTypeRec imageType{};
    FT_Face fontFace = nullptr;
    unsigned int previousGlyph = 0;
    int kerningEnabled = 0;
    // Whether the face's active size is already the current string's.
    bool sizeActive = false;
    // Glyph indices of the byte values, asked of the face once each.
    FT_UInt glyphIndices[256]{};
    bool glyphKnown[256]{};
    // Kerning of glyph pairs by size, asked of the face once each.
    struct KerningPair {
        bool known = false;
        FT_UInt left = 0;
        FT_UInt right = 0;
        FT_UInt width = 0;
        FT_UInt height = 0;
        int kerning = 0;
    };
    static constexpr unsigned kerningPairCount = 1021;
    KerningPair kerningPairs[kerningPairCount];

    // Device state.
    int fbFd = -1;
    uint32_t mapLength = 0;
    uint32_t screenWidth = 0;
    uint32_t screenHeight = 0;
    uint32_t lineLength = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t linePixels = 0;
    fb_var_screeninfo modeInfo{};
    fb_var_screeninfo savedModeInfo{};
    uint16_t cmapRed[256]{};
    uint16_t cmapGreen[256]{};
    uint16_t cmapBlue[256]{};
    uint16_t cmapTransp[256]{};
    unsigned char *screenMap = nullptr;

  private:
    void unavailable(const char *what);
    bool setupFont();
    void releaseFont();
    int drawGlyph(FT_ULong currentchar, int x, int y, int limit, bool measuring,
                  const unsigned char *pixel, int bypp);
    template <int bypp>
    void drawBits(const FTC_SBitRec &sbit, int64_t left, int64_t top, const unsigned char *pixel);
    void activateSize();
    FT_UInt glyphIndex(FT_ULong currentchar);
    int pairKerning(FT_UInt left, FT_UInt right);
    FbGeometry screenGeometry(int bypp) const;
    unsigned char *keptConversion(unsigned char *rgbbuff, int x_size, int y_size, int *bypp);

    // The picture declared unchanging and its latest conversion.
    struct KeptPicture {
        const unsigned char *source = nullptr;
        int width = 0;
        int height = 0;
        int depth = -1;
        int bytesPerPixel = 0;
        unsigned char *converted = nullptr;
    } kept;
};

// The face requester handed to FreeType's cache manager.
FT_Error FB_FaceRequester(FTC_FaceID face_id, FT_Library library, FT_Pointer request_data,
                          FT_Face *aface);
