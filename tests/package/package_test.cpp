// The box package: packed from the box build by scripts/package-ipk.sh,
// unpacked here with ar and tar. It holds the stripped mipsel programs at
// the plug-in's fixed paths, with their modes, its control fields, and no
// maintainer scripts, so installing it does not activate bootinit.
#include "bootinit/paths.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Output of a host command; its exit status through status.
std::string shell(const std::string &command, int *status)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

std::string contribDir()
{
    std::string menu = paths::menuProgram;
    return menu.substr(0, menu.rfind('/'));
}

// True when the ELF file is a 32-bit little-endian MIPS program without a
// symbol table (stripped); why not in *why.
bool strippedMipsel(const std::string &path, std::string *why)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Elf32_Ehdr h;
    if (bytes.size() < sizeof h) return *why = "too short", false;
    memcpy(&h, bytes.data(), sizeof h);
    if (memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 || h.e_ident[EI_CLASS] != ELFCLASS32 ||
        h.e_ident[EI_DATA] != ELFDATA2LSB || h.e_machine != EM_MIPS)
        return *why = "not a 32-bit little-endian MIPS ELF file", false;
    if (h.e_shoff + (size_t)h.e_shnum * sizeof(Elf32_Shdr) > bytes.size() ||
        h.e_shstrndx >= h.e_shnum)
        return *why = "section headers out of the file", false;
    std::vector<Elf32_Shdr> sections(h.e_shnum);
    memcpy(sections.data(), bytes.data() + h.e_shoff, h.e_shnum * sizeof(Elf32_Shdr));
    const Elf32_Shdr &names = sections[h.e_shstrndx];
    for (const Elf32_Shdr &s : sections) {
        if (names.sh_offset + s.sh_name >= bytes.size()) continue;
        std::string name = bytes.c_str() + names.sh_offset + s.sh_name;
        if (name == ".symtab" || name.rfind(".debug", 0) == 0)
            return *why = "has " + name + ": not stripped", false;
    }
    return true;
}

class Package : public ::testing::Test
{
  protected:
    static std::string dir, ipk, packError;

    static void SetUpTestSuite()
    {
        const char *tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/package-test.XXXXXX";
        if (!mkdtemp(&tmpl[0])) {
            packError = "no temporary folder";
            return;
        }
        dir = tmpl;
        int status = -1;
        std::string out = shell("QUILLON_IPK_PREBUILT=1 BUILD_MIPSEL=" + quote(TARGET_BUILD) +
                                    " sh " + quote(PACKAGE_SCRIPT) + " " + quote(dir) + " 2>&1",
                                &status);
        if (status != 0) packError = "scripts/package-ipk.sh failed: " + out;
        ipk = dir + "/quillon-boot_" PROJECT_VERSION_TEXT "_mipsel.ipk";
    }
    static void TearDownTestSuite()
    {
        int status;
        if (!dir.empty()) shell("rm -rf " + quote(dir), &status);
    }
    void SetUp() override { ASSERT_EQ(packError, ""); }

    // Output of a command run in the package's folder; fails the test on error.
    std::string run(const std::string &command)
    {
        int status = -1;
        std::string out = shell("cd " + quote(dir) + " && " + command, &status);
        EXPECT_EQ(status, 0) << command << ": " << out;
        return out;
    }
    std::string member(const std::string &name) { return "ar p " + quote(ipk) + " " + name; }
};

std::string Package::dir, Package::ipk, Package::packError;

TEST_F(Package, IsAnArArchiveOfTheThreeMembersInOrder)
{
    EXPECT_EQ(run("ar t " + quote(ipk)), "debian-binary\ncontrol.tar.gz\ndata.tar.gz\n");
    EXPECT_EQ(run(member("debian-binary")), "2.0\n");
}

TEST_F(Package, ControlFields)
{
    EXPECT_EQ(run(member("control.tar.gz") + " | tar tzf -"), "./\n./control\n")
        << "the control archive holds the control file alone: no maintainer scripts";
    std::map<std::string, std::string> fields;
    std::string last;
    for (const std::string &line :
         lines(run(member("control.tar.gz") + " | tar xzOf - ./control"))) {
        if (!line.empty() && line[0] == ' ') {
            fields[last] += "\n" + line;
            continue;
        }
        size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        last = line.substr(0, colon);
        fields[last] = line.substr(colon + 2);
    }
    const std::pair<const char *, const char *> expected[] = {
        {"Package", "quillon-boot"},
        {"Version", PROJECT_VERSION_TEXT},
        {"Architecture", "mipsel"},
        {"Depends", "libfreetype6, libpng16-16"},
    };
    for (const auto &field : expected)
        EXPECT_EQ(fields[field.first], field.second) << field.first;
    EXPECT_NE(fields["Description"].find('\n'), std::string::npos)
        << "a summary line and a longer text: " << fields["Description"];
}

TEST_F(Package, DataHoldsTheStrippedProgramsBesideEachOther)
{
    std::set<std::string> files;
    for (const std::string &line : lines(run(member("data.tar.gz") + " | tar tvzf -"))) {
        std::istringstream fields(line);
        std::string mode, owner, size, date, time, name;
        fields >> mode >> owner >> size >> date >> time >> name;
        EXPECT_EQ(owner, "0/0") << line;
        EXPECT_EQ(mode, mode[0] == 'd' ? "drwxr-xr-x" : "-rwxr-xr-x") << line;
        if (mode[0] != 'd') files.insert(name);
    }
    const std::string contrib = "." + contribDir();
    EXPECT_EQ(files, (std::set<std::string>{contrib + "/bootinit", contrib + "/quisel"}))
        << "nothing where the kernel looks for init";
    run("mkdir data && " + member("data.tar.gz") + " | tar xzf - -C data");
    for (const char *program : {"bootinit", "quisel"}) {
        std::string why;
        EXPECT_TRUE(strippedMipsel(dir + "/data" + contribDir() + "/" + program, &why))
            << program << ": " << why;
    }
}

} // namespace
