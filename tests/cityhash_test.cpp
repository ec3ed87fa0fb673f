#include "internal/cityhash.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Every row of the reference file: text, a tab, and the 64-bit value in hex.
TEST(CityHash64, MatchesEveryReferenceVector)
{
    std::ifstream in(VELMORA_TEST_DATA_DIR "/cityhash64_v1_0_vectors.tsv", std::ios::binary);
    ASSERT_TRUE(in.is_open());
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t tab = line.rfind('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string text = line.substr(0, tab);
        uint64_t expected = std::strtoull(line.c_str() + tab + 1, nullptr, 16);
        EXPECT_EQ(velmora::city_hash64(text.data(), text.size()), expected)
            << "length " << text.size() << ": " << text;
        rows++;
    }
    EXPECT_EQ(rows, 326);
}

} // namespace
