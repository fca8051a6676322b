#include "quisel.h"

#include "framebuffer/fb.h"
#include "bootinit/paths.h"
#include "bootinit/storefile.h"
#include "picture/png.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

quisel *quisel::instance = nullptr;

quisel *quisel::getInstance()
{
    if (!instance) instance = new quisel();
    return instance;
}

quisel::quisel()
{
    instance = this;
    imageList.clear();
    curImage = 0;
    fb = new fbClass();
    rcFd[0] = rcFd[1] = -1;
    findRemoteControls();
    readVersionLine();
    readPackageVersions();
    loadPicture();
    loadImageList();
    selCurImage();
    showpic();
    drawmenu();
    menuLoop();
}

void quisel::findRemoteControls()
{
    int slot = 0;
    for (int n = 0; slot < 2; n++) {
        char path[64];
        snprintf(path, sizeof path, paths::inputPattern, n);
        struct stat st;
        if (stat(path, &st) != 0) break;
        rcFd[slot] = open(path, O_RDONLY | O_NONBLOCK);
        if (rcFd[slot] < 0) printf("Quillon <open remote control>");
        char name[128] = {};
        int got = ioctl(rcFd[slot], EVIOCGNAME(sizeof name), name);
        if (got < 0) printf("EVIOCGNAME failed");
        if (got >= 0 && rcNameIsRemote(name, sizeof name)) {
            slot++;
        } else {
            if (rcFd[slot] >= 0) close(rcFd[slot]);
            rcFd[slot] = -1;
        }
    }
    if (rcFd[0] == -1) printf("couldnt find usable input device!!!\n");
}

int quisel::GetRCCode()
{
    static uint16_t lastCode = 0;
    struct input_event ev;
    const struct input_event *taken = nullptr;
    if (rcFd[0] != -1 && read(rcFd[0], &ev, sizeof ev) == (ssize_t)sizeof ev)
        taken = &ev;
    else if (rcFd[1] != -1 && read(rcFd[1], &ev, sizeof ev) == (ssize_t)sizeof ev)
        taken = &ev;
    if (rcTakeRecord(taken, &rcCode, &lastCode)) return 1;
    usleep(100000);
    return 0;
}

void quisel::startTimer()
{
    timerStart = (int)time(nullptr);
}

int quisel::checkTimer()
{
    return (int)time(nullptr) - timerStart;
}

void quisel::menuLoop()
{
    do {
        GetRCCode();
        if (rcCode == rcUp || rcCode == rcDown) {
            curImage += rcCode == rcUp ? -1 : 1;
            showpic();
            drawmenu();
        }
    } while (checkTimer() <= 10 && rcCode != rcOk);
    missionComplete();
}

void quisel::missionComplete()
{
    fb->SetMode(720, 576, 16);
    fb->blit();
    GetRCCode();
    sleep(1);
    for (int &fd : rcFd) {
        if (fd != -1) close(fd);
        fd = -1;
    }
    std::string name = "Flash";
    for (size_t i = 0; i < imageList.size(); i++)
        if ((int)i == curImage) name = imageList[i].name;
    writeSelection(name);
}

// The name goes to a temporary file first and is renamed over the selection
// file only once it is safely written, so a full or failing medium keeps the
// previous choice. Nothing is reported when it cannot be written. Whatever
// stands at the temporary path goes first: a link there (the store is
// anyone's to write) would lead the write to a file of the flash.
void quisel::writeSelection(const std::string &name)
{
    unlink(paths::selectionTemp);
    int fd = open(paths::selectionTemp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    FILE *out = fdopen(fd, "w");
    if (!out) {
        close(fd);
        unlink(paths::selectionTemp);
        return;
    }
    bool written = fwrite(name.data(), 1, name.size(), out) == name.size();
    written = fflush(out) == 0 && written;
    written = fsync(fileno(out)) == 0 && written;
    written = fclose(out) == 0 && written;
    if (!written || rename(paths::selectionTemp, paths::selectionFile) != 0)
        unlink(paths::selectionTemp);
}

void quisel::readVersionLine()
{
    infoText[infoVersion][0] = 0;
    FILE *in = OpenStoreFile(paths::versionFile);
    if (!in) return;
    versionLineRead(in, infoText[infoVersion]);
    fclose(in);
}

void quisel::readPackageVersions()
{
    for (int slot = infoKernel; slot <= infoSecondStage; slot++)
        snprintf(infoText[slot], infoSlotSize, "[ n/a ]");
    FILE *in = fopen(paths::packageStatus, "r");
    if (!in) return;
    packageVersionsRead(in, infoText);
    fclose(in);
}

void quisel::loadPicture()
{
    const char *path = paths::menuPicture;
    picBuffer = nullptr;
    if (fh_png_id(path) != 1) return;
    int width = 0, height = 0;
    if (fh_png_getsize(path, &width, &height, INT_MAX, INT_MAX) != 0) return;
    size_t bytes = pictureBufferBytes(width, height);
    if (bytes == 0) return;
    unsigned char *buffer = (unsigned char *)malloc(bytes);
    if (!buffer) return;
    if (fh_png_load(path, buffer, width, height) != 0) {
        free(buffer);
        return;
    }
    picBuffer = buffer;
    picWidth = width;
    picHeight = height;
    // The picture never changes: every redraw shows the same conversion.
    fb->keepPicture(picBuffer, picWidth, picHeight);
}

void quisel::loadImageList()
{
    imageList.push_back(eImage("Flash"));
    DIR *dir = opendir(paths::store);
    if (!dir) return;
    while (struct dirent *entry = readdir(dir)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        std::string path = std::string(paths::store) + entry->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            imageList.push_back(eImage(entry->d_name));
    }
    closedir(dir);
}

void quisel::selCurImage()
{
    FILE *in = OpenStoreFile(paths::selectionFile);
    if (!in) return;
    std::string name = selectionRead(in);
    fclose(in);
    std::vector<std::string> names;
    for (const eImage &image : imageList)
        names.push_back(image.name);
    curImage = selectionIndex(name, names);
}

void quisel::showpic()
{
    fb->SetMode(720, 576, 16);
    if (picBuffer) fb->fb_display(picBuffer, nullptr, picWidth, picHeight, 0, 0, 0, 0);
}

void quisel::drawmenu()
{
    startTimer();
    int last = (int)imageList.size() - 1;
    if (last > shownEntries - 1) last = shownEntries - 1;
    if (curImage > last)
        curImage = 0;
    else if (curImage < 0)
        curImage = last;
    for (int i = 0; i <= last; i++) {
        if (i == curImage) fb->FillRect(100, 50 + 28 * i, 500, 26, 0, 0, 255);
        fb->RenderString(imageList[i].name, 100, 70 + 28 * i, 600, 0, 18, 255, 255, 255);
    }
    fb->RenderString(infoText[infoVersion], 70, 350, 500, 0, 14, 255, 255, 255);
    fb->RenderString("Linux kernel version:", 70, 380, 200, 0, 12, 255, 255, 255);
    fb->RenderString(infoText[infoKernel], 400, 380, 250, 2, 12, 0, 255, 0);
    fb->RenderString("Dreambox drivers version:", 70, 405, 200, 0, 12, 255, 255, 255);
    fb->RenderString(infoText[infoDrivers], 400, 405, 250, 2, 12, 0, 255, 0);
    fb->RenderString("Dreambox secondstage version:", 70, 430, 300, 0, 12, 255, 255, 255);
    fb->RenderString(infoText[infoSecondStage], 400, 430, 250, 2, 12, 0, 255, 0);
    fb->blit();
}
