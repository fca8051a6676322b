// The host side's reading rules: screendumps, the 565 comparison, the ext4
// superblock's UUID, the inits' console reports, module dependencies and the
// kit file that vm-prepare.sh writes.
#include "vmbox.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace
{

std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(Screendump, ReadsP6WithCommentsAndRefusesBrokenOnes)
{
    Picture p;
    ASSERT_TRUE(
        ppm_parse(bytes(std::string("P6\n# qemu\n2 1\n255\n") + "\x01\x02\x03\xfa\xfb\xfc"), &p));
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 1);
    EXPECT_EQ(p.rgb, bytes("\x01\x02\x03\xfa\xfb\xfc"));
    struct Bad {
        const char *what;
        std::string data;
    } bad[] = {{"P3 text form", "P3\n1 1\n255\n1 2 3\n"},
               {"pixels cut short", "P6\n2 2\n255\n\x01\x02\x03"},
               {"16-bit samples", "P6\n1 1\n65535\n\x01\x02\x03\x04\x05\x06"},
               {"no size", "P6\n"},
               {"size not a number", "P6\n2x 1\n255\n\x01\x02\x03\x04\x05\x06"}};
    for (const Bad &b : bad)
        EXPECT_FALSE(ppm_parse(bytes(b.data), &p)) << b.what;
}

TEST(Screendump, ComparesAfterQuantisingTo565)
{
    // (0,0,80) as 565 reads back as (0,0,82): the same colour.
    std::vector<uint8_t> drawn = {0, 0, 80, 255, 255, 255, 8, 4, 8};
    std::vector<uint8_t> dumped = {0, 0, 82, 255, 255, 255, 15, 7, 15};
    EXPECT_EQ(compare565(3, 1, drawn, dumped), "");
    // A step in the top bits of any channel is a different colour.
    for (int channel = 0; channel < 3; channel++) {
        std::vector<uint8_t> other = dumped;
        other[3 + channel] = channel == 1 ? 251 : 247;
        std::string diff = compare565(3, 1, drawn, other);
        EXPECT_NE(diff.find("1 pixels differ; the first at (1,0)"), std::string::npos)
            << channel << ": " << diff;
    }
    EXPECT_NE(compare565(3, 1, drawn, std::vector<uint8_t>(6)).find("sizes differ"),
              std::string::npos);
}

TEST(Ext4, UuidFromTheSuperblockOfARealImage)
{
    const char *tmp = getenv("TMPDIR");
    std::string file = std::string(tmp && *tmp ? tmp : "/tmp") + "/vmparts-ext4.XXXXXX";
    std::vector<char> tmpl(file.begin(), file.end());
    tmpl.push_back('\0');
    int fd = mkstemp(tmpl.data());
    ASSERT_GE(fd, 0) << tmpl.data();
    close(fd);
    std::string image = tmpl.data();
    std::string command =
        "mkfs.ext4 -q -F -U 0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d " + image + " 2M > /dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << "mkfs.ext4 (e2fsprogs) failed";
    std::ifstream in(image, std::ios::binary);
    std::vector<uint8_t> head(2048);
    in.read(reinterpret_cast<char *>(head.data()), head.size());
    unlink(image.c_str());
    EXPECT_EQ(ext4_uuid(head), "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    head[1080] = 0; // no ext4 magic
    EXPECT_EQ(ext4_uuid(head), "");
    EXPECT_EQ(ext4_uuid(std::vector<uint8_t>(1100)), "");
}

TEST(Reports, OneReportPerInitFromTheSerialLog)
{
    std::string serial = "[    1.0] kernel line\r\n"
                         "VMREPORT pid 9\r\n" // before any init: ignored
                         "VMREPORT init flash\r\n"
                         "VMREPORT pid 1\r\n"
                         "VMREPORT argv /sbin/init.sysvinit \r\n"
                         "VMREPORT root flash\r\n"
                         "VMREPORT selection\r\n"
                         "VMREPORT store .quillon\r\n"
                         "VMREPORT store img a\r\n"
                         "VMREPORT mount proc /proc proc rw 0 0\r\n"
                         "VMREPORT end\r\n"
                         "VMREPORT init img\n"
                         "VMREPORT pid 1\n";
    std::vector<InitReport> r = vm_reports(serial);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, "flash");
    EXPECT_EQ(r[0].pid, "1");
    EXPECT_EQ(r[0].argv, "/sbin/init.sysvinit ");
    EXPECT_EQ(r[0].root, "flash");
    EXPECT_EQ(r[0].selection, "");
    EXPECT_EQ(r[0].store, (std::vector<std::string>{".quillon", "img a"}));
    EXPECT_EQ(r[0].mounts, (std::vector<std::string>{"proc /proc proc rw 0 0"}));
    EXPECT_TRUE(r[0].complete);
    EXPECT_EQ(r[1].name, "img");
    EXPECT_FALSE(r[1].complete);
}

TEST(Modules, DependenciesBeforeTheModulesThatNeedThem)
{
    std::string dep = "kernel/fs/ext4/ext4.ko: kernel/lib/crc16.ko kernel/fs/mbcache.ko "
                      "kernel/fs/jbd2/jbd2.ko\n"
                      "kernel/fs/jbd2/jbd2.ko:\n"
                      "kernel/fs/mbcache.ko:\n"
                      "kernel/lib/crc16.ko:\n"
                      "kernel/drivers/virtio/virtio_pci.ko: kernel/drivers/virtio/virtio_ring.ko "
                      "kernel/drivers/virtio/virtio.ko\n"
                      "kernel/drivers/virtio/virtio_ring.ko: kernel/drivers/virtio/virtio.ko\n"
                      "kernel/drivers/virtio/virtio.ko:\n"
                      "kernel/drivers/block/virtio_blk.ko: kernel/drivers/virtio/virtio_ring.ko "
                      "kernel/drivers/virtio/virtio.ko\n"
                      "kernel/crypto/crc32c-generic.ko:\n";
    std::vector<std::string> got =
        module_closure(dep, {"virtio_pci", "virtio_blk", "crc32c_generic", "ext4", "nosuch"});
    EXPECT_EQ(got, (std::vector<std::string>{
                       "kernel/drivers/virtio/virtio.ko", "kernel/drivers/virtio/virtio_ring.ko",
                       "kernel/drivers/virtio/virtio_pci.ko", "kernel/drivers/block/virtio_blk.ko",
                       "kernel/crypto/crc32c-generic.ko", "kernel/fs/jbd2/jbd2.ko",
                       "kernel/fs/mbcache.ko", "kernel/lib/crc16.ko", "kernel/fs/ext4/ext4.ko"}));
}

TEST(Kit, EveryValueNamedAndItsFilePresent)
{
    std::string self = "/proc/self/exe";
    std::string full = "QUILLON_VM_RELEASE=6.1.0-1-4kc-malta\n"
                       "QUILLON_VM_KERNEL=" +
                       self + "\nQUILLON_VM_MODULES=/proc\nQUILLON_VM_REMOTE_MODULE=" + self +
                       "\nQUILLON_VM_BUSYBOX=" + self + "\nQUILLON_VM_BOOTINIT=" + self +
                       "\nQUILLON_VM_QUISEL=" + self + "\nQUILLON_VM_LIBDIRS=/a:/b\n";
    VmKit kit;
    std::string error;
    ASSERT_TRUE(vm_kit_parse(full, &kit, &error)) << error;
    EXPECT_EQ(kit.release, "6.1.0-1-4kc-malta");
    EXPECT_EQ(kit.libDirs, (std::vector<std::string>{"/a", "/b"}));
    std::string missingFile = full;
    missingFile.replace(missingFile.find("QUILLON_VM_QUISEL=") + 18, self.size(), "/nonexistent");
    EXPECT_FALSE(vm_kit_parse(missingFile, &kit, &error));
    EXPECT_NE(error.find("QUILLON_VM_QUISEL"), std::string::npos) << error;
    std::string noRelease = full.substr(full.find('\n') + 1);
    EXPECT_FALSE(vm_kit_parse(noRelease, &kit, &error));
    EXPECT_NE(error.find("QUILLON_VM_RELEASE"), std::string::npos) << error;
    EXPECT_FALSE(vm_kit_load("/nonexistent/vm.env", &kit, &error));
    EXPECT_NE(error.find("scripts/vm-prepare.sh"), std::string::npos) << error;
}

} // namespace
