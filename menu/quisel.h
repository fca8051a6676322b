// The boot menu: lists "Flash" and the store's images over the background
// picture, lets the remote control move the highlight, and writes the chosen
// name into the selection file. Constructing the one object runs the menu.
#pragma once

#include "menurules.h"

#include <stdint.h>

#include <string>
#include <vector>

class fbClass;

// One menu entry.
class eImage
{
  public:
    explicit eImage(const std::string &n) : name(n) {}
    std::string name;
};

class quisel
{
  public:
    static quisel *getInstance();
    static quisel *instance;

    quisel();

    void menuLoop();
    void missionComplete();
    int GetRCCode();
    void startTimer();
    int checkTimer();

    void loadImageList();
    void selCurImage();
    void showpic();
    void drawmenu();

  private:
    void findRemoteControls();
    void readVersionLine();
    void readPackageVersions();
    void loadPicture();
    void writeSelection(const std::string &name);

    std::vector<eImage> imageList;
    fbClass *fb = nullptr;
    int rcFd[2] = {-1, -1};
    int curImage = 0;
    int16_t rcCode = noKey;
    int timerStart = 0;
    unsigned char *picBuffer = nullptr;
    int picWidth = 0;
    int picHeight = 0;
    char infoText[infoSlotCount][infoSlotSize] = {};
};
