// fbdriver: runs a scripted list of operations on one framebuffer object,
// as the menu would, so that tests can drive the real object inside a box.
//
//   fbdriver SCRIPT
//
// SCRIPT holds one operation a line; results are printed as "@op result"
// lines on standard output, between the object's own messages:
//   setmode W H BPP            fill X Y W H R G B
//   blit                       console SHOW
//   raw FILE W H PX PY OX OY   (packed RGB file shown with fb_display)
//   png FILE PX PY OX OY       (loaded with the PNG reader, then shown)
//   text X Y MAX ALIGN SIZE R G B STRING
//   len STRING                 char CODE X Y LIMIT R G B
//   size N                     state
// STRING is the rest of the line; "\xNN" stands for the byte NN.
#include "framebuffer/fb.h"
#include "picture/png.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += (char)strtol(text.substr(i + 2, 2).c_str(), nullptr, 16);
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The rest of the line after n words.
std::string restAfter(const std::string &line, int n)
{
    size_t at = 0;
    for (int i = 0; i < n; i++) {
        at = line.find_first_not_of(' ', at);
        at = line.find(' ', at);
        if (at == std::string::npos) return "";
    }
    return unescape(line.substr(at + 1));
}

void showPng(fbClass &fb, const std::string &file, int px, int py, int ox, int oy)
{
    int w = 0, h = 0;
    int id = fh_png_id(file.c_str());
    int size = fh_png_getsize(file.c_str(), &w, &h, 2147483647, 2147483647);
    printf("@png id %d size %d %dx%d", id, size, w, h);
    if (size != 0) {
        printf("\n");
        return;
    }
    std::vector<unsigned char> rgb((size_t)w * h * 3);
    int load = fh_png_load(file.c_str(), rgb.data(), w, h);
    printf(" load %d\n", load);
    if (load == 0) fb.fb_display(rgb.data(), nullptr, w, h, px, py, ox, oy);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fbdriver SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1]);
    if (!script) {
        fprintf(stderr, "fbdriver: cannot read %s\n", argv[1]);
        return 2;
    }
    fbClass *fb = new fbClass();
    std::string line;
    while (std::getline(script, line)) {
        std::istringstream in(line);
        std::string op;
        in >> op;
        if (op.empty() || op[0] == '#') continue;
        if (op == "setmode") {
            unsigned w, h, b;
            in >> w >> h >> b;
            printf("@setmode %d\n", fb->SetMode(w, h, b));
        } else if (op == "fill") {
            int x, y, w, h, r, g, b;
            in >> x >> y >> w >> h >> r >> g >> b;
            fb->FillRect(x, y, w, h, r, g, b);
        } else if (op == "blit") {
            printf("@blit %d\n", fb->blit());
        } else if (op == "console") {
            int show;
            in >> show;
            printf("@console %d\n", fb->showConsole(show));
        } else if (op == "raw") {
            std::string file;
            int w, h, px, py, ox, oy;
            in >> file >> w >> h >> px >> py >> ox >> oy;
            std::ifstream data(file, std::ios::binary);
            std::vector<unsigned char> rgb((size_t)w * h * 3);
            data.read((char *)rgb.data(), rgb.size());
            fb->fb_display(rgb.data(), nullptr, w, h, px, py, ox, oy);
        } else if (op == "png") {
            std::string file;
            int px, py, ox, oy;
            in >> file >> px >> py >> ox >> oy;
            showPng(*fb, file, px, py, ox, oy);
        } else if (op == "text") {
            int x, y, max, align, size, r, g, b;
            in >> x >> y >> max >> align >> size >> r >> g >> b;
            fb->RenderString(restAfter(line, 9), x, y, max, align, size, r, g, b);
        } else if (op == "len") {
            std::string text = restAfter(line, 1);
            printf("@len %d\n", fb->GetStringLen((const unsigned char *)text.c_str()));
        } else if (op == "char") {
            unsigned long code;
            int x, y, limit, r, g, b;
            in >> code >> x >> y >> limit >> r >> g >> b;
            printf("@char %d\n", fb->RenderChar(code, x, y, limit, r, g, b));
        } else if (op == "size") {
            int size;
            in >> size;
            fb->imageType.width = fb->imageType.height = size;
        } else if (op == "state") {
            printf("@state map %d font %d screen %ux%ux%u line %u pixels %u\n",
                   fb->screenMap != nullptr, fb->fontFace != nullptr, fb->screenWidth,
                   fb->screenHeight, fb->bitsPerPixel, fb->lineLength, fb->linePixels);
        } else {
            fprintf(stderr, "fbdriver: unknown operation %s\n", op.c_str());
            return 2;
        }
    }
    return 0;
}
