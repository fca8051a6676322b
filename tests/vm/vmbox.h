// The box on a real MIPS kernel under emulation: Debian's Malta kernel in
// qemu-system-mipsel boots a flash (an initramfs with the box build of
// bootinit as the kernel's init, quisel, busybox and stand-ins for the box
// firmware's pieces) and finds the multiboot store on an ext4 disk.
//
//   VmKit kit;  vm_kit_load(envFile, &kit, &error);    // what vm-prepare.sh made
//   flash_build(kit, flashSetup, "flash.cpio", &error);
//   store_build(kit, storeSetup, "store.img", &error);
//   Machine m;  m.start(kit, "flash.cpio", "store.img", readOnly, folder, &error);
//   m.waitSerial("[Framebuffer] available.", 60);  m.screendump(&picture);
//   m.sendKey("down");  m.waitExit(60);  vm_reports(m.serial());
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// What scripts/vm-prepare.sh left in its vm.env.
struct VmKit {
    std::string release;      // kernel release (lib/modules/<release>)
    std::string kernel;       // the kernel image qemu loads
    std::string modules;      // the kernel's modules, with a modules.dep
    std::string remoteModule; // dreambox_keyboard.ko, the remote-control stand-in
    std::string busybox;      // static mipsel busybox
    std::string bootinit;     // mipsel programs
    std::string quisel;
    std::vector<std::string> libDirs; // where their libraries are
};

// Reads the NAME=VALUE lines of vm.env; false (with the reason) when a value
// is missing or names a file that is not there.
bool vm_kit_parse(const std::string &text, VmKit *kit, std::string *error);
bool vm_kit_load(const std::string &envFile, VmKit *kit, std::string *error);

// The box's own firmware files and the plug-in's, as the flash holds them.
struct FlashSetup {
    std::string picture;       // host PNG installed as the menu's background picture
    std::string font;          // host font installed as the menu's font
    std::string packageStatus; // content of /var/lib/opkg/status; empty: no file
};

// The modules the flash needs (disk, file system, evdev) with every module
// they depend on, as paths relative to the modules folder, from its
// modules.dep text; dependencies come before the modules that need them.
std::vector<std::string> module_closure(const std::string &modulesDep,
                                        const std::vector<std::string> &wanted);

// The libraries a program needs (its NEEDED entries, recursively), found in
// the given folders; the interpreter comes first. False when one is missing.
bool program_libraries(const std::string &program, const std::vector<std::string> &dirs,
                       std::vector<std::string> *files, std::string *error);

// Builds the flash as a newc cpio archive (uncompressed).
bool flash_build(const VmKit &kit, const FlashSetup &setup, const std::string &cpio,
                 std::string *error);

// A multiboot store on an ext4 disk.
struct StoreSetup {
    std::string uuid;
    std::vector<std::string> images; // image directories, each a tiny bootable root
    const char *selection = nullptr; // content of the selection file; null: no file
    std::string version;             // content of the version file; empty: no file
};
bool store_build(const VmKit &kit, const StoreSetup &setup, const std::string &image,
                 std::string *error);

// The file-system UUID of an ext4 image, as the by-uuid links name it;
// empty when the buffer holds no ext4 superblock.
std::string ext4_uuid(const std::vector<uint8_t> &head);

// A P6 picture, as the monitor's screendump writes it.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};
bool ppm_parse(const std::vector<uint8_t> &data, Picture *picture);

// Compares two RGB pictures after quantising both to RGB565; empty when
// they agree, else the size difference or the count and first differing pixel.
std::string compare565(int width, int height, const std::vector<uint8_t> &a,
                       const std::vector<uint8_t> &b);

// What one init reported on the console: lines "VMREPORT <key> <value>".
struct InitReport {
    std::string name;                // the init's name (flash or the image's)
    std::string pid;                 // its process id
    std::string argv;                // $0 and its arguments
    std::string root;                // content of the root's /etc/vm-root
    std::string selection;           // the selection file as the init sees it
    std::vector<std::string> store;  // entries it sees in /media/quillon/Qvault
    std::vector<std::string> mounts; // /proc/mounts lines
    bool complete = false;           // the report's last line was seen
};
std::vector<InitReport> vm_reports(const std::string &serial);

// One emulated box.
class Machine
{
  public:
    Machine() = default;
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Starts qemu with the flash as initramfs and the store as a virtio disk;
    // the serial log and the monitor socket go into folder. limitSeconds is
    // a safety limit after which qemu is killed.
    bool start(const VmKit &kit, const std::string &flash, const std::string &store,
               bool storeReadOnly, const std::string &folder, int limitSeconds, std::string *error);
    // Waits until the serial log holds text; false when qemu ended or time ran out.
    bool waitSerial(const std::string &text, double seconds);
    std::string serial() const;
    // A monitor command and what the monitor answered.
    bool monitor(const std::string &command, std::string *answer = nullptr);
    bool sendKey(const std::string &key) { return monitor("sendkey " + key); }
    bool screendump(Picture *picture, std::string *error);
    // Waits for qemu to end by itself; false when it was still running.
    bool waitExit(double seconds);
    bool running();
    int exitStatus() const { return status; } // wait status once ended
    bool hitLimit() const { return killed; }  // ended by the safety limit
    double seconds() const;                   // since start

  private:
    pid_t pid = -1;
    int status = -1;
    int mon = -1;
    std::string folder, serialLog, monSock;
    double started = 0;
    int limit = 120;
    bool killed = false;
    bool readPrompt(std::string *text, double seconds);
    void kill();
};
