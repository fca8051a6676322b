// The remote control as the menu's GetRCCode sees it: device names as the
// name request leaves them, then a stream of event records, possibly short.
// Input: a 128-byte name buffer, then records.
#include "fuzzcheck.h"

#include "menu/menurules.h"

#include <linux/input.h>
#include <string.h>

#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The name buffer exactly as large as the request was told, with no
    // terminator of its own, so any read past it is caught.
    const size_t nameLen = size < 128 ? size : 128;
    std::unique_ptr<char[]> name(new char[nameLen ? nameLen : 1]);
    memcpy(name.get(), data, nameLen);
    std::string asText(name.get(), strnlen(name.get(), nameLen));
    FUZZ_CHECK(rcNameIsRemote(name.get(), nameLen) ==
               (asText.find("remote control") != std::string::npos));
    data += nameLen;
    size -= nameLen;

    int16_t rcCode = noKey;
    uint16_t lastCode = 0;
    while (size > 0) {
        // A short read takes no record.
        const struct input_event *taken = nullptr;
        struct input_event ev;
        if (size >= sizeof ev) {
            memcpy(&ev, data, sizeof ev);
            taken = &ev;
        }
        const int16_t codeBefore = rcCode;
        const uint16_t lastBefore = lastCode;
        int pressed = rcTakeRecord(taken, &rcCode, &lastCode);
        if (!taken) {
            FUZZ_CHECK(!pressed && rcCode == noKey && lastCode == lastBefore);
            break;
        }
        if (ev.value == 0) {
            FUZZ_CHECK(!pressed && rcCode == noKey && lastCode == 0);
        } else if (ev.code == lastBefore) {
            FUZZ_CHECK(!pressed && rcCode == noKey && lastCode == lastBefore);
        } else {
            int menuCode = rcMenuCode(ev.code);
            FUZZ_CHECK(pressed == 1 && lastCode == ev.code);
            FUZZ_CHECK(rcCode == (menuCode >= 0 ? menuCode : codeBefore));
        }
        FUZZ_CHECK(rcCode >= noKey && rcCode <= 31);
        data += sizeof ev;
        size -= sizeof ev;
    }
    return 0;
}
