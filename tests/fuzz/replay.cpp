// Replays a fuzz target over its corpus (seeds and the cases that once
// failed), one test per file.
#include "fuzzcheck.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> corpusFiles()
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(FUZZ_CORPUS)) {
        while (struct dirent *e = readdir(dir))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Corpus : public testing::TestWithParam<std::string>
{
};

TEST_P(Corpus, InputPassesEveryCheck)
{
    std::ifstream in(std::string(FUZZ_CORPUS) + "/" + GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

std::string caseName(const testing::TestParamInfo<std::string> &info)
{
    std::string name;
    for (char c : info.param)
        name += isalnum((unsigned char)c) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, testing::ValuesIn(corpusFiles()), caseName);

} // namespace
