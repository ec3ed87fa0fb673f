#include "velmora/varniksecret.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kPhpBufferSize = 2048;

struct Sealed {
    std::string token;
    int result;
};

Sealed seal(const std::string &secret, int output_size = kPhpBufferSize)
{
    std::vector<char> out(static_cast<size_t>(output_size), 'x');
    int result = varniksecret_encrypt(secret.c_str(), out.data(), output_size);
    return {out.data(), result};
}

Sealed unseal(const std::string &token, int output_size = kPhpBufferSize)
{
    std::vector<char> out(static_cast<size_t>(output_size), 'x');
    int result = varniksecret_decrypt(token.c_str(), out.data(), output_size);
    return {std::string(out.data(), static_cast<size_t>(result > 0 ? result : 0)), result};
}

size_t token_length(size_t secret_length)
{
    return 4 * ((secret_length + 4) / 3);
}

struct KnownToken {
    const char *secret;
    const char *token;
};

class VarniksecretKnownTokens : public testing::TestWithParam<KnownToken> {};

TEST_P(VarniksecretKnownTokens, SealsAndUnseals)
{
    const KnownToken &c = GetParam();
    const std::string secret = c.secret;
    Sealed sealed = seal(secret);
    EXPECT_EQ(sealed.token, c.token);
    EXPECT_EQ(sealed.result, static_cast<int>(secret.size()) + 2);
    Sealed opened = unseal(c.token);
    EXPECT_EQ(opened.token, secret);
    EXPECT_EQ(opened.result, static_cast<int>(secret.size()));
}

INSTANTIATE_TEST_SUITE_P(Tokens, VarniksecretKnownTokens,
    testing::Values(KnownToken{"a", "QGBA"},
                    KnownToken{"pass", "QHFgcnJA"},
                    KnownToken{"secret", "QHJkYnNkdUA="},
                    KnownToken{"hello world", "QGlkbW1uIXZuc21lQA=="},
                    // '+' of the Base64 text is written as '!'
                    KnownToken{"a?", "QGA!QA=="}));

TEST(Varniksecret, EveryByteValueRoundTrips)
{
    std::string secret;
    for (int c = 1; c < 256; ++c)
        secret.push_back(static_cast<char>(c));
    Sealed sealed = seal(secret);
    EXPECT_EQ(sealed.token.find('+'), std::string::npos);
    EXPECT_EQ(unseal(sealed.token).token, secret);
}

TEST(Varniksecret, EveryLengthRoundTripsUpToTheLongestSecret)
{
    constexpr int kLargeBuffer = VARNIKSECRET_MAX_TOKEN + 1;
    for (size_t length = 1; length <= VARNIKSECRET_MAX_SECRET; length += (length < 64 ? 1 : 97)) {
        std::string secret(length, 'k');
        Sealed sealed = seal(secret, kLargeBuffer);
        ASSERT_EQ(sealed.token.size(), token_length(length)) << length;
        ASSERT_EQ(unseal(sealed.token, kLargeBuffer).token, secret) << length;
    }
}

TEST(Varniksecret, LongSecretIsSealedAsItsFirstBytesAndTheLongestTokenUnseals)
{
    std::string secret(3000, 'z');
    secret[VARNIKSECRET_MAX_SECRET - 1] = 'E';
    Sealed sealed = seal(secret, VARNIKSECRET_MAX_TOKEN + 1);
    EXPECT_EQ(sealed.result, VARNIKSECRET_MAX_SECRET + 2);
    ASSERT_EQ(sealed.token.size(), static_cast<size_t>(VARNIKSECRET_MAX_TOKEN));
    Sealed opened = unseal(sealed.token, VARNIKSECRET_MAX_SECRET + 1);
    EXPECT_EQ(opened.result, VARNIKSECRET_MAX_SECRET);
    EXPECT_EQ(opened.token, secret.substr(0, VARNIKSECRET_MAX_SECRET));
}

struct SealSizeCase {
    size_t secret_length;
    int output_size;
    bool whole;
};

class VarniksecretSealBuffer : public testing::TestWithParam<SealSizeCase> {};

// A token must fit whole with its NUL; otherwise nothing is handed out.
TEST_P(VarniksecretSealBuffer, WritesTheWholeTokenOrNothing)
{
    const SealSizeCase &c = GetParam();
    const std::string secret(c.secret_length, 's');
    Sealed sealed = seal(secret, c.output_size);
    if (c.whole) {
        EXPECT_EQ(sealed.token.size(), token_length(c.secret_length));
        EXPECT_EQ(sealed.result, static_cast<int>(c.secret_length) + 2);
        EXPECT_EQ(unseal(sealed.token).token, secret);
    } else {
        EXPECT_EQ(sealed.token, "");
        EXPECT_EQ(sealed.result, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, VarniksecretSealBuffer,
    testing::Values(SealSizeCase{1531, kPhpBufferSize, true},  // 2044 characters
                    SealSizeCase{1532, kPhpBufferSize, false}, // 2048 characters
                    SealSizeCase{1, 5, true},                  // "QGBA" and its NUL
                    SealSizeCase{1, 4, false},
                    SealSizeCase{2, 9, true},
                    SealSizeCase{2, 8, false},
                    SealSizeCase{1, 1, false}));

TEST(Varniksecret, UnsealNeedsRoomForTheSecretAndItsNul)
{
    const std::string secret = "0123456789";
    const std::string token = seal(secret).token;
    EXPECT_EQ(unseal(token, static_cast<int>(secret.size())).result, 0);
    EXPECT_EQ(unseal(token, static_cast<int>(secret.size())).token, "");
    EXPECT_EQ(unseal(token, static_cast<int>(secret.size()) + 1).token, secret);
}

struct NotAToken {
    const char *name;
    const char *text;
};

class VarniksecretRefused : public testing::TestWithParam<NotAToken> {};

TEST_P(VarniksecretRefused, UnsealsToNothing)
{
    char out[16] = "leftover";
    EXPECT_EQ(varniksecret_decrypt(GetParam().text, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

INSTANTIATE_TEST_SUITE_P(Texts, VarniksecretRefused,
    testing::Values(NotAToken{"Null", nullptr},
                    NotAToken{"Empty", ""},
                    NotAToken{"PlainWord", "hello"},
                    NotAToken{"LoneMarker", "QA=="},   // payload "@"
                    NotAToken{"EmptyFrame", "QEA="},   // payload "@@"
                    NotAToken{"NoClosingMarker", "QGBh"}),
    [](const testing::TestParamInfo<NotAToken> &info) { return std::string(info.param.name); });

TEST(Varniksecret, TextBeyondTheLongestTokenIsNotRead)
{
    const std::string token = seal(std::string(VARNIKSECRET_MAX_SECRET, 'q'), VARNIKSECRET_MAX_TOKEN + 1).token;
    EXPECT_EQ(unseal(token + "QGBA", VARNIKSECRET_MAX_SECRET + 1).result, VARNIKSECRET_MAX_SECRET);
}

TEST(Varniksecret, EmptySecretSealsToEmptyText)
{
    char out[8] = "junk";
    EXPECT_EQ(varniksecret_encrypt("", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    out[0] = 'j';
    EXPECT_EQ(varniksecret_encrypt(nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

TEST(Varniksecret, NoOutputBufferWritesNothing)
{
    char out[1] = {'j'};
    EXPECT_EQ(varniksecret_encrypt("a", nullptr, 16), 0);
    EXPECT_EQ(varniksecret_decrypt("QGBA", nullptr, 16), 0);
    EXPECT_EQ(varniksecret_encrypt("a", out, 0), 0);
    EXPECT_EQ(varniksecret_decrypt("QGBA", out, 0), 0);
    EXPECT_EQ(out[0], 'j');
}

} // namespace
