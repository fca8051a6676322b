// The remote control's records and the driver's explicit-update request as
// this build sees them. The boxes (32-bit little-endian MIPS) read 16-byte
// event records and send the update switch as 0x80014621; a build for this
// x86-64 machine sees 24 bytes and 0x40014621. Both come from the platform's
// own struct and request macros, never from fixed numbers in the programs.
#include "framebuffer/fb.h"

#include <gtest/gtest.h>

#include <linux/input.h>
#include <string.h>

namespace
{

struct Abi {
    const char *machine;
    size_t eventRecordBytes;
    unsigned long updateSwitchRequest;
};

const Abi abis[] = {
    {"mipsel-o32", 16, 0x80014621ul},
    {"x86_64", 24, 0x40014621ul},
};

#if defined(__mips__) && defined(__MIPSEL__) && _MIPS_SIM == _ABIO32
const char *const thisMachine = "mipsel-o32";
#elif defined(__x86_64__)
const char *const thisMachine = "x86_64";
#else
const char *const thisMachine = "unknown";
#endif

TEST(Abi, RecordSizeAndUpdateRequestOfThisBuild)
{
    const Abi *abi = nullptr;
    for (const Abi &a : abis)
        if (strcmp(a.machine, thisMachine) == 0) abi = &a;
    ASSERT_NE(abi, nullptr) << "no known ABI for this build";
    RecordProperty("machine", thisMachine);
    EXPECT_EQ(sizeof(struct input_event), abi->eventRecordBytes) << thisMachine;
    EXPECT_EQ(fbUpdateSwitchRequest, abi->updateSwitchRequest) << thisMachine;
}

} // namespace
