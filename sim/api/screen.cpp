#include "screen.h"
#include "files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <png.h>

namespace
{

const char *const ctlDir = "/.boxsim";

bool writeFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool readPng(const std::string &path, std::vector<uint8_t> *rgb, uint32_t *width, uint32_t *height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    *width = image.width;
    *height = image.height;
    return true;
}

std::string describe(uint32_t x, uint32_t y, uint32_t got, uint32_t want, long count)
{
    char text[160];
    snprintf(text, sizeof text, "%ld pixels differ, first at (%u,%u): 0x%X instead of 0x%X", count,
             x, y, got, want);
    return text;
}

} // namespace

uint32_t ScreenFrame::value(uint32_t x, uint32_t y) const
{
    uint32_t bytes = bytesPerPixel();
    size_t at = (size_t)y * lineLength + (size_t)x * bytes;
    if (x >= width || y >= height || at + bytes > raw.size()) return 0xDEADBEEF;
    uint32_t v = 0;
    if (bytes == 1) v = raw[at];
    if (bytes == 2) v = (uint32_t)raw[at] | (uint32_t)raw[at + 1] << 8;
    if (bytes == 3)
        v = (uint32_t)raw[at] | (uint32_t)raw[at + 1] << 8 | (uint32_t)raw[at + 2] << 16;
    if (bytes == 4) memcpy(&v, &raw[at], 4);
    return v;
}

uint32_t ScreenFrame::colour(uint32_t x, uint32_t y) const
{
    size_t at = ((size_t)y * width + x) * 3;
    if (x >= width || y >= height || at + 3 > rgb.size()) return 0xDEADBEEF;
    return (uint32_t)rgb[at] << 16 | (uint32_t)rgb[at + 1] << 8 | rgb[at + 2];
}

bool screen_prepare(const std::string &root, const ScreenPolicy &policy, std::string *error)
{
    std::string ctl = root + ctlDir;
    if (!sim_make_dirs(root + "/dev") || !sim_make_dirs(ctl + "/frames")) {
        if (error) *error = "cannot create the device folders in " + root;
        return false;
    }
    unlink((root + "/dev/fb0").c_str());
    unlink((root + "/dev/tty0").c_str());
    if (policy.fb0) {
        int fd = open((root + "/dev/fb0").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, (off_t)policy.memory) != 0) {
            if (fd >= 0) close(fd);
            if (error) *error = "cannot create " + root + "/dev/fb0";
            return false;
        }
        close(fd);
    }
    if (policy.tty0 && !writeFile(root + "/dev/tty0", "")) {
        if (error) *error = "cannot create " + root + "/dev/tty0";
        return false;
    }
    std::ostringstream conf;
    conf << "initial " << policy.initial << "\n"
         << "mode " << policy.mode << "\n"
         << "pad " << policy.pad << "\n";
    if (policy.smemLen >= 0) conf << "smem_len " << policy.smemLen << "\n";
    for (const auto &f : policy.failures)
        conf << "fail " << f << "\n";
    unlink((ctl + "/fb.state").c_str());
    if (DIR *d = opendir((ctl + "/frames").c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') unlink((ctl + "/frames/" + e->d_name).c_str());
        closedir(d);
    }
    if (!writeFile(ctl + "/fb.conf", conf.str())) {
        if (error) *error = "cannot write " + ctl + "/fb.conf";
        return false;
    }
    return true;
}

int screen_frame_count(const std::string &root)
{
    int count = 0;
    if (DIR *d = opendir((root + ctlDir + "/frames").c_str())) {
        while (dirent *e = readdir(d)) {
            size_t n = strlen(e->d_name);
            if (n > 4 && strcmp(e->d_name + n - 4, ".png") == 0) count++;
        }
        closedir(d);
    }
    return count;
}

bool screen_read_frame(const std::string &root, int n, ScreenFrame *frame, std::string *error)
{
    char base[64];
    snprintf(base, sizeof base, "/frames/%04d", n);
    std::string stem = root + ctlDir + base;
    std::istringstream info(readFile(stem + ".txt"));
    *frame = ScreenFrame();
    if (!(info >> frame->width >> frame->height >> frame->bitsPerPixel >> frame->lineLength)) {
        if (error) *error = "no frame " + stem;
        return false;
    }
    std::string raw = readFile(stem + ".raw");
    frame->raw.assign(raw.begin(), raw.end());
    uint32_t w = 0, h = 0;
    if (!readPng(stem + ".png", &frame->rgb, &w, &h) || w != frame->width || h != frame->height) {
        if (error) *error = "unreadable picture " + stem + ".png";
        return false;
    }
    if (frame->raw.size() != (size_t)frame->lineLength * frame->height) {
        if (error) *error = "raw bytes of " + stem + " do not fill the visible lines";
        return false;
    }
    return true;
}

std::vector<uint8_t> screen_memory(const std::string &root)
{
    std::string bytes = readFile(root + "/dev/fb0");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::string> screen_log(const std::string &root)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(root + ctlDir + "/log"));
    std::string line;
    while (std::getline(in, line)) {
        size_t close = line.find("] ");
        if (line.empty() || line[0] != '[' || close == std::string::npos) continue;
        std::string rest = line.substr(close + 2);
        if (rest.rfind("fb0 ", 0) == 0 || rest.rfind("tty0 ", 0) == 0) lines.push_back(rest);
    }
    return lines;
}

std::vector<std::string> screen_log_matching(const std::string &root, const std::string &start)
{
    std::vector<std::string> found;
    for (const auto &line : screen_log(root))
        if (line.rfind(start, 0) == 0) found.push_back(line);
    return found;
}

std::string screen_region_is(const ScreenFrame &frame, uint32_t x, uint32_t y, uint32_t width,
                             uint32_t height, uint32_t value)
{
    return screen_region_matches(frame, x, y, width, height,
                                 std::vector<uint32_t>((size_t)width * height, value));
}

std::string screen_region_matches(const ScreenFrame &frame, uint32_t x, uint32_t y, uint32_t width,
                                  uint32_t height, const std::vector<uint32_t> &expected)
{
    if (expected.size() != (size_t)width * height) return "expected values do not fill the region";
    long count = 0;
    uint32_t fx = 0, fy = 0, got = 0, want = 0;
    for (uint32_t j = 0; j < height; j++) {
        for (uint32_t i = 0; i < width; i++) {
            uint32_t v = frame.value(x + i, y + j), e = expected[(size_t)j * width + i];
            if (v == e) continue;
            if (count++ == 0) fx = x + i, fy = y + j, got = v, want = e;
        }
    }
    return count ? describe(fx, fy, got, want, count) : std::string();
}

std::string screen_regions_equal(const ScreenFrame &a, uint32_t ax, uint32_t ay,
                                 const ScreenFrame &b, uint32_t bx, uint32_t by, uint32_t width,
                                 uint32_t height)
{
    std::vector<uint32_t> values;
    values.reserve((size_t)width * height);
    for (uint32_t j = 0; j < height; j++)
        for (uint32_t i = 0; i < width; i++)
            values.push_back(b.value(bx + i, by + j));
    return screen_region_matches(a, ax, ay, width, height, values);
}
