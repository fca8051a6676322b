// The test side of the box simulator: build a box (its flash root, its store
// devices, its /proc), run a program in it, and read back what happened.
//
//   Box box;                                  // a flash root with the firmware stand-ins
//   Device &usb = box.device("0a1b2c3d-...");  // an ext4 store device, linked in by-uuid
//   usb.store("img1");                        // Qvault/ with the selection file
//   usb.image("img1");                        // a bootable image directory
//   BoxResult r = box.boot();                 // bootinit as PID 1
//   r.commands(), r.execs("mount"), r.init(), r.console
//
// Paths given to a Box or a Device are paths as the box (or the device's
// file system) sees them; they are placed under the host folders behind them.
#pragma once

#include "boxrecord.h"

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

// What one run of a box left behind.
struct BoxResult {
    std::string error; // why the box could not run at all; empty when it ran
    bool timedOut = false;
    int waitStatus = -1; // of the box's first process
    std::vector<boxrec::Record> records;
    std::string console; // everything written to the box's console

    bool ran() const { return error.empty() && !timedOut; }
    // Exit status of the first process, or -1 when it did not exit normally.
    int exitCode() const;
    std::vector<boxrec::Record> of(const std::string &kind) const;
    // The command lines handed to the shell, in order.
    std::vector<std::string> commands() const;
    // The stand-ins' records (kind "exec"), all or of one tool only.
    std::vector<boxrec::Record> execs(const std::string &tool = "") const;
    // The init program that took over, or null when none ran.
    const boxrec::Record *init() const;
    // A readable account of the run, one line per record.
    std::string trace() const;
};

// A store device: a folder that becomes an ext4 image, attached to a loop
// device and linked from the box's /dev/disk/by-uuid/ when the box runs.
class Device
{
  public:
    const std::string uuid;
    const std::string entry; // its name in /dev/disk/by-uuid/

    void file(const std::string &path, const std::string &content, int mode = 0644);
    void dir(const std::string &path);
    void link(const std::string &target, const std::string &path);
    void remove(const std::string &path);
    // Qvault/ with the selection file holding the text (no file when null).
    void store(const char *selection);
    // A bootable image directory Qvault/NAME: init, dev, proc, sys, media
    // places, a logo in /usr/share, and a stray "/&1".
    void image(const std::string &name);
    // The type of a path in the device's file system after the last run
    // ("regular", "directory", "symlink", "" when missing).
    std::string typeAfterRun(const std::string &path) const;
    // The content of a file in the device's file system after the last run.
    std::string readAfterRun(const std::string &path) const;

    Device(const std::string &uuid, const std::string &entry, const std::string &folder,
           const std::string &boxtool);

  private:
    friend class Box;
    std::string folder; // host folder with the device's files
    std::string imageFile;
    std::string boxtool;
    std::string loop; // host loop device while attached
    bool built = false;
};

class Box
{
  public:
    Box();
    ~Box();
    Box(const Box &) = delete;
    Box &operator=(const Box &) = delete;

    // False (with the reason) when the box could not be set up.
    bool ready() const { return setupError.empty(); }
    const std::string &error() const { return setupError; }

    // The host folder of the box root (the flash) and the one behind a box path.
    const std::string &root() const { return rootDir; }
    std::string host(const std::string &boxPath) const { return rootDir + boxPath; }

    // The flash's contents.
    void file(const std::string &path, const std::string &content, int mode = 0644);
    void copy(const std::string &hostFile, const std::string &path, int mode = 0755);
    void dir(const std::string &path);
    void link(const std::string &target, const std::string &path);
    void remove(const std::string &path);
    // A bootable image directory on the flash (as Device::image), its init
    // recording the root "image NAME".
    void image(const std::string &dir, const std::string &name);
    bool exists(const std::string &path) const;
    std::string read(const std::string &path) const;

    // The box's /proc/mounts: its content, or no file at all (null).
    void procMounts(const char *content);
    // Installs the menu stand-in, which writes choice into the selection
    // file (null: it writes nothing). Without a call there is no menu.
    void menu(const char *choice);
    // Where the shared clock starts, in seconds since the epoch.
    void clockStart(int64_t seconds) { clockStartNs = seconds * 1000000000; }

    // A store device; entry defaults to the uuid.
    Device &device(const std::string &uuid, const std::string &entry = "");
    // The names in /dev/disk/by-uuid/ in the order the listing returns them.
    std::vector<std::string> byUuidOrder() const;

    // Boots bootinit (installed as /sbin/init) as PID 1 with argv
    // {"/sbin/init", args...}.
    BoxResult boot(const std::vector<std::string> &args = {});
    // Runs a program of the box as PID 1, or as a child of a shell that is.
    BoxResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                  bool asPid1 = true);

  private:
    std::string baseDir, rootDir, setupError;
    std::deque<Device> devices;
    int64_t clockStartNs;
    bool attach(std::string *error);
    void detach();
};
