#include "velmora/urldecode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct UrlDecodeCase {
    const char *input;
    const char *expected;
};

class UrlDecode : public ::testing::TestWithParam<UrlDecodeCase> {};

TEST_P(UrlDecode, DecodesIntoANewText)
{
    char *decoded = qxurldecode(GetParam().input);
    ASSERT_NE(decoded, nullptr);
    EXPECT_STREQ(decoded, GetParam().expected);
    std::free(decoded);
}

INSTANTIATE_TEST_SUITE_P(UrlDecoding, UrlDecode,
                         ::testing::Values(UrlDecodeCase{"a+b%20c", "a b c"}, UrlDecodeCase{"50%", "50"},
                                           UrlDecodeCase{"x%4", "x4"}, UrlDecodeCase{"%41%2f%2F", "A//"},
                                           UrlDecodeCase{"%zz", "3"}, UrlDecodeCase{"%+", " "},
                                           UrlDecodeCase{"%", ""}, UrlDecodeCase{"", ""},
                                           UrlDecodeCase{"%2541", "%41"}, UrlDecodeCase{"a%00b", "a"},
                                           UrlDecodeCase{"%e9t%C3%A9", "\xe9t\xc3\xa9"}));

TEST(UrlDecoding, NullGivesNull)
{
    EXPECT_EQ(qxurldecode(nullptr), nullptr);
}

} // namespace
