#include "velmora/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

constexpr char kUntouched = '#';

// Encodes into a buffer of exactly result_size bytes followed by guard bytes,
// and checks that the guard was not written.
std::string encode_into(const std::string &input, int result_size, int *returned)
{
    std::vector<char> buffer(static_cast<std::size_t>(result_size > 0 ? result_size : 0) + 8, kUntouched);
    *returned = base64_encode_bin(input.data(), static_cast<int>(input.size()), buffer.data(), result_size);
    for (std::size_t i = static_cast<std::size_t>(result_size > 0 ? result_size : 0); i < buffer.size(); i++)
        EXPECT_EQ(buffer[i], kUntouched) << "wrote past result_size at " << i;
    if (result_size <= 0 || buffer[0] == kUntouched)
        return "<untouched>";
    return std::string(buffer.data());
}

struct EncodeCase {
    std::string input;
    int result_size;
    std::string expected;
};

class Base64Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Encode, EncodesWholeGroupsThatFit)
{
    const EncodeCase &c = GetParam();
    int returned = -1;
    EXPECT_EQ(encode_into(c.input, c.result_size, &returned), c.expected);
    EXPECT_EQ(returned, c.expected == "<untouched>" ? 0 : static_cast<int>(c.expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Base64, Base64Encode,
    ::testing::Values(EncodeCase{"abc", 64, "YWJj"}, EncodeCase{"ab", 64, "YWI="}, EncodeCase{"a", 64, "YQ=="},
                      EncodeCase{"", 64, ""}, EncodeCase{"abcdef", 9, "YWJj"}, EncodeCase{"abcdef", 10, "YWJjZGVm"},
                      EncodeCase{"abcd", 9, "YWJj"}, EncodeCase{"abcd", 10, "YWJjZA=="},
                      EncodeCase{"abc", 5, ""}, EncodeCase{std::string("\xff\x00", 2), 64, "/wA="},
                      EncodeCase{"\xfb\xff\xbf", 64, "+/+/"},
                      // Buffers too small for one group get an empty text or nothing at all.
                      EncodeCase{"abc", 4, ""}, EncodeCase{"abc", 1, ""}, EncodeCase{"abc", 0, "<untouched>"},
                      EncodeCase{"abc", -3, "<untouched>"}));

TEST(Base64, EncodeOfTextMatchesEncodeOfItsBytes)
{
    char result[32];
    EXPECT_EQ(base64_encode("hello world", result, sizeof result), 16);
    EXPECT_STREQ(result, "aGVsbG8gd29ybGQ=");
    result[0] = kUntouched;
    EXPECT_EQ(base64_encode(nullptr, result, sizeof result), 0);
    EXPECT_EQ(result[0], kUntouched);
}

struct DecodeCase {
    const char *input;
    int result_size;
    std::string bytes; // decode_bin output (its count is the size)
    int text_count;    // what base64_decode returns
};

class Base64Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Decode, DecodesAndTerminatesInsideTheBuffer)
{
    const DecodeCase &c = GetParam();
    for (bool as_text : {false, true}) {
        std::vector<char> buffer(static_cast<std::size_t>(c.result_size) + 8, kUntouched);
        int returned = as_text ? base64_decode(c.input, buffer.data(), c.result_size)
                               : base64_decode_bin(c.input, buffer.data(), c.result_size);
        EXPECT_EQ(returned, as_text ? c.text_count : static_cast<int>(c.bytes.size()));
        EXPECT_EQ(std::string(buffer.data(), c.bytes.size()), c.bytes);
        EXPECT_EQ(buffer[c.bytes.size()], '\0');
        for (std::size_t i = static_cast<std::size_t>(c.result_size); i < buffer.size(); i++)
            EXPECT_EQ(buffer[i], kUntouched) << "wrote past result_size at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Base64, Base64Decode,
                         ::testing::Values(DecodeCase{"YWJj", 5, "abc", 3}, DecodeCase{"YWJj", 4, "", 0},
                                           DecodeCase{"YW Jj", 64, "abc", 3}, DecodeCase{"YWI=", 64, "ab\0"s, 2},
                                           DecodeCase{"YQ==", 64, "a\0\0"s, 1}, DecodeCase{"YQ", 64, "", 0},
                                           DecodeCase{"", 64, "", 0}, DecodeCase{"YW\r\nJj\n", 64, "abc", 3},
                                           DecodeCase{"YWJjZGVm", 7, "abc", 3},
                                           DecodeCase{"YWJjZGVm", 8, "abcdef", 6},
                                           DecodeCase{"YWJjZGVmZ2hp", 10, "abcdef", 6},
                                           DecodeCase{"AAAA", 64, "\0\0\0"s, 0}, DecodeCase{"/wA=", 64, "\xff\0\0"s, 1},
                                           DecodeCase{"YWJj", 1, "", 0}));

TEST(Base64, DecodeRefusesNullAndTinyBuffers)
{
    char buffer[8] = {kUntouched, kUntouched};
    EXPECT_EQ(base64_decode_bin(nullptr, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], kUntouched);
    EXPECT_EQ(base64_decode_bin("YWJj", buffer, 0), 0);
    EXPECT_EQ(buffer[0], kUntouched);
    EXPECT_EQ(base64_decode("YWJj", nullptr, 8), 0);
}

TEST(Base64, RoundTripOfEveryByteValue)
{
    std::string bytes;
    for (int i = 0; i < 256; i++)
        bytes.push_back(static_cast<char>(i));
    std::vector<char> encoded(400);
    int length = base64_encode_bin(bytes.data(), 256, encoded.data(), static_cast<int>(encoded.size()));
    EXPECT_EQ(length, 344);
    std::vector<char> decoded(300);
    EXPECT_EQ(base64_decode_bin(encoded.data(), decoded.data(), static_cast<int>(decoded.size())), 258);
    EXPECT_EQ(std::string(decoded.data(), 256), bytes);
}

TEST(Base64, IsEncoded)
{
    EXPECT_EQ(base64_isEncoded("YWJj", 4), 0);
    EXPECT_EQ(base64_isEncoded("YW*j", 4), 1);
    EXPECT_EQ(base64_isEncoded("YW==\0\0", 6), 0); // NUL bytes count as encoded
    EXPECT_EQ(base64_isEncoded("YW\0*", 4), 1);    // and do not stop the scan
    EXPECT_EQ(base64_isEncoded("YW j", 4), 1);
    EXPECT_EQ(base64_isEncoded("*", 0), 0);
    EXPECT_EQ(base64_isEncoded("*", -1), 0);
}

TEST(Base64, DecodingTableIsBuiltAtLoad)
{
    EXPECT_EQ(base64_initialized, 1);
    EXPECT_EQ(base64_value[static_cast<unsigned char>('A')], 0);
    EXPECT_EQ(base64_value[static_cast<unsigned char>('/')], 63);
    EXPECT_EQ(base64_value[static_cast<unsigned char>('=')], 0);
    EXPECT_EQ(base64_value[static_cast<unsigned char>('*')], -1);
    EXPECT_EQ(base64_value[0xff], -1);
}

} // namespace
