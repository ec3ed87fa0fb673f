// Randomized inputs with a fixed seed for the decoders that read untrusted
// text: every input lives in an exactly sized heap block, so the address
// sanitizer build catches any read or write outside the buffers.
#include "velmora/base64.h"
#include "velmora/qxstring.h"
#include "velmora/urldecode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 4000;

class RandomText {
public:
    explicit RandomText(unsigned seed) : engine_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine_); }

    // Any bytes except NUL, which would only end the text early.
    std::string arbitrary(int max_len)
    {
        std::string text(static_cast<std::size_t>(below(max_len + 1)), '\0');
        for (char &c : text)
            c = static_cast<char>(1 + below(255));
        return text;
    }

    // A plausible input for one of the decoders, then damaged.
    std::string mutated()
    {
        static const char *const seeds[] = {"YWJjZGVm",        "YQ==",          "/wA=",          "aGVsbG8gd29ybGQ=",
                                            "a+b%20c%41%2f",    "A%42%20c d",    "%00%zz%4",      "http://X.com/%7E",
                                            "a\\tb\\x41\\101",  "\\x\\0\\777\\", "\"q\\\" r\"",   "%%%%"};
        std::string text = seeds[below(sizeof seeds / sizeof seeds[0])];
        int edits = 1 + below(4);
        for (int i = 0; i < edits; i++)
            damage(text);
        return text;
    }

private:
    void damage(std::string &text)
    {
        static const char *const tails[] = {"%", "%4", "%g", "\\", "\\x", "\\x4", "\\1", "=", "==", "YQ"};
        switch (below(6)) {
        case 0:
            text += tails[below(sizeof tails / sizeof tails[0])];
            break;
        case 1:
            if (!text.empty())
                text[static_cast<std::size_t>(below(static_cast<int>(text.size())))] =
                    static_cast<char>(1 + below(255));
            break;
        case 2:
            text.resize(static_cast<std::size_t>(below(static_cast<int>(text.size()) + 1)));
            break;
        case 3:
            while (text.size() < 5000 && !text.empty())
                text += text; // overlong input
            break;
        case 4:
            text.insert(static_cast<std::size_t>(below(static_cast<int>(text.size()) + 1)), "%");
            break;
        default:
            text += arbitrary(8);
            break;
        }
    }

    std::mt19937 engine_;
};

// A heap copy of text with its NUL and nothing more.
std::vector<char> exact_copy(const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    buffer.shrink_to_fit();
    return buffer;
}

std::vector<std::string> random_inputs()
{
    RandomText random(20240611u);
    std::vector<std::string> inputs;
    for (int i = 0; i < kRounds; i++)
        inputs.push_back(i % 2 == 0 ? random.arbitrary(96) : random.mutated());
    return inputs;
}

TEST(DecodingRobustness, Base64DecodeStaysInsideTheResultBuffer)
{
    RandomText random(7u);
    for (const std::string &text : random_inputs()) {
        std::vector<char> input = exact_copy(text);
        int result_size = random.below(70) - 2;
        std::vector<unsigned char> result(static_cast<std::size_t>(std::max(result_size, 1)), 0xAA);
        int count = base64_decode_bin(input.data(), result.data(), result_size);
        ASSERT_GE(count, 0);
        if (result_size <= 0) {
            ASSERT_EQ(count, 0);
            ASSERT_EQ(result[0], 0xAA) << "wrote into a buffer of size " << result_size;
            continue;
        }
        ASSERT_LT(count, result_size);
        ASSERT_EQ(result[static_cast<std::size_t>(count)], 0);
        ASSERT_EQ(count % 3, 0);
        ASSERT_LE(base64_decode(input.data(), result.data(), result_size), count);
    }
}

TEST(DecodingRobustness, Base64EncodeStaysInsideAndRoundTrips)
{
    RandomText random(11u);
    for (const std::string &text : random_inputs()) {
        int result_size = random.below(120) - 2;
        std::vector<char> result(static_cast<std::size_t>(std::max(result_size, 1)), '#');
        int length = base64_encode_bin(text.data(), static_cast<int>(text.size()), result.data(), result_size);
        if (result_size <= 0) {
            ASSERT_EQ(length, 0);
            ASSERT_EQ(result[0], '#');
            continue;
        }
        ASSERT_LT(length, result_size);
        ASSERT_EQ(std::strlen(result.data()), static_cast<std::size_t>(length));
        ASSERT_EQ(base64_isEncoded(result.data(), length), 0);

        // With room for everything, decoding gives the bytes back.
        std::vector<char> full(text.size() / 3 * 4 + 9);
        int full_length = base64_encode_bin(text.data(), static_cast<int>(text.size()), full.data(),
                                            static_cast<int>(full.size()));
        std::vector<char> decoded(text.size() + 8);
        int decoded_count = base64_decode_bin(full.data(), decoded.data(), static_cast<int>(decoded.size()));
        ASSERT_EQ(full_length, static_cast<int>((text.size() + 2) / 3 * 4));
        ASSERT_GE(decoded_count, static_cast<int>(text.size()));
        ASSERT_EQ(std::string(decoded.data(), text.size()), text);
    }
}

TEST(DecodingRobustness, UrlDecodeNeverLengthens)
{
    for (const std::string &text : random_inputs()) {
        std::vector<char> input = exact_copy(text);
        char *decoded = qxurldecode(input.data());
        ASSERT_NE(decoded, nullptr);
        ASSERT_LE(std::strlen(decoded), text.size());
        std::free(decoded);
    }
}

TEST(DecodingRobustness, LowercaseUrlShrinksAndFoldsEverything)
{
    for (const std::string &text : random_inputs()) {
        std::vector<char> buffer = exact_copy(text);
        string_lowercase_url(buffer.data());
        std::string result(buffer.data());
        ASSERT_LE(result.size(), text.size());
        // %00 escapes are kept, so nothing of the input is cut off after them.
        if (text.find("%00") != std::string::npos) {
            ASSERT_NE(result.find("%00"), std::string::npos);
        }
        for (char c : result) {
            ASSERT_FALSE(c >= 'A' && c <= 'Z') << result;
            ASSERT_NE(c, ' ') << result;
        }
    }
}

TEST(DecodingRobustness, UnescapeStringShrinks)
{
    for (const std::string &text : random_inputs()) {
        std::vector<char> buffer = exact_copy(text);
        string_unescape_string(buffer.data());
        ASSERT_LE(std::strlen(buffer.data()), text.size());
    }
}

} // namespace
