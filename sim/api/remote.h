// Test side of the box's remote controls: lays out "/dev/input/eventN" nodes
// with their scripts in a box root, turns key names into timed press and
// release records, and reads back what the box did with the devices.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct RemoteRecord {
    double at = 0; // seconds after the device was opened
    int type = 1;  // EV_KEY
    int code = 0;
    int value = 0;
    int shortBytes = -1; // >= 0: this read gives only so many bytes of the record
};

struct RemoteDevice {
    std::string name = "dreambox remote control (native)";
    bool nameFails = false;
    bool openFails = false;
    // As every Linux evdev device does, follow each whole record with the
    // EV_SYN SYN_REPORT record (type 0, code 0, value 0) that ends its
    // packet. Off, the device hands out exactly the records given: a
    // stream no real kernel produces, kept for tests of the reading rules.
    bool syncReports = true;
    // Reads before the next record is due reach the (empty) node itself.
    bool idleReal = false;
    std::vector<RemoteRecord> records;
};

// One line of the box's input log.
struct RemoteEvent {
    int64_t atNs = 0; // box time, nanoseconds since the epoch
    int device = -1;  // N of eventN
    std::string what; // "open nonblocking", "name 33", "read record 1 108 1", "read none", ...
};

// Linux key code of a key name ("up", "down", "ok", "left", "red", "1", ...,
// or "code" and a number, such as "code30"), -1 when unknown.
int remote_key_code(const std::string &name);

// Press and release records for a comma-separated key list: the first press
// at start, each release half a step after its press, presses step apart.
// "NAME*N" holds the key for N auto-repeat records (value 2), a quarter step
// apart from a quarter step after the press; its release comes half a step
// after the last of them and the next press half a step after that.
// False when a name is unknown or N is not a count from 0 to 1000.
bool remote_key_records(const std::string &keys, double start, double step,
                        std::vector<RemoteRecord> *records);

// The device's script, as the emulated device reads it.
std::string remote_script(const RemoteDevice &dev);

// Creates the node "/dev/input/eventN" in the box root and its script.
bool remote_install(const std::string &root, int number, const RemoteDevice &dev);

// Everything the box did with its input devices, in order.
std::vector<RemoteEvent> remote_log(const std::string &root);
