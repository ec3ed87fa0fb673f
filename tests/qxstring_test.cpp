#include "velmora/qxstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, FreeDeleter>;

std::string take(char *text)
{
    Owned owned(text);
    return owned ? std::string(owned.get()) : std::string("<NULL>");
}

// Pieces of an exploded array; frees the array.
std::vector<std::string> pieces_of(char **array)
{
    std::vector<std::string> pieces;
    for (char **p = array; p != nullptr && *p != nullptr; p++)
        pieces.emplace_back(*p);
    std::free(array);
    return pieces;
}

using Pieces = std::vector<std::string>;

constexpr int kWholeExplode = INT_MIN;

struct ExplodeCase {
    const char *text;
    char delim;
    int limit; // kWholeExplode: string_explode
    Pieces expected;
};

class Explode : public ::testing::TestWithParam<ExplodeCase> {};

TEST_P(Explode, SplitsInPlaceIntoPieces)
{
    const ExplodeCase &c = GetParam();
    std::string buffer(c.text);
    int num = -7;
    char **array = c.limit == kWholeExplode ? string_explode(buffer.data(), c.delim)
                                : string_explode_limit(buffer.data(), c.delim, c.limit, &num);
    ASSERT_NE(array, nullptr);
    // Every piece points into the caller's buffer.
    for (char **p = array; *p != nullptr; p++) {
        EXPECT_GE(*p, buffer.data());
        EXPECT_LE(*p, buffer.data() + buffer.size());
    }
    EXPECT_EQ(pieces_of(array), c.expected);
    if (c.limit != kWholeExplode) {
        EXPECT_EQ(num, static_cast<int>(c.expected.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    QxString, Explode,
    ::testing::Values(ExplodeCase{"a,,b", ',', kWholeExplode, {"a", "", "b"}}, ExplodeCase{"", ',', kWholeExplode, {""}},
                      ExplodeCase{"a,", ',', kWholeExplode, {"a", ""}}, ExplodeCase{",", ',', kWholeExplode, {"", ""}},
                      ExplodeCase{"abc", ',', kWholeExplode, {"abc"}}, ExplodeCase{"abc", '\0', kWholeExplode, {"abc"}},
                      ExplodeCase{"a b c d e", ' ', 4, {"a", "b", "c", "d e"}},
                      ExplodeCase{"a b c d e", ' ', 1, {"a b c d e"}},
                      ExplodeCase{"a b c", ' ', 0, {"a b c"}}, ExplodeCase{"a b c", ' ', -3, {"a b c"}},
                      ExplodeCase{"a b", ' ', 4, {"a", "b"}}, ExplodeCase{"", ' ', 4, {""}}));

TEST(QxString, ExplodeCutsTheCallersBuffer)
{
    char buffer[] = "a,b";
    char **array = string_explode(buffer, ',');
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(std::string(buffer, 3), std::string("a\0b", 3));
    EXPECT_EQ(array[0], buffer);
    EXPECT_EQ(array[1], buffer + 2);
    EXPECT_EQ(array[2], nullptr);
    std::free(array);
    EXPECT_EQ(string_explode(nullptr, ','), nullptr);
    int num = -7;
    EXPECT_EQ(string_explode_limit(nullptr, ',', 3, &num), nullptr);
    EXPECT_EQ(num, -7);
}

TEST(QxString, CaseFolding)
{
    char text[] = "MiXeD 123 ÄB";
    EXPECT_EQ(string_tolower(text), 0);
    EXPECT_STREQ(text, "mixed 123 Äb");
    EXPECT_EQ(string_tolower(nullptr), 0);
    char other[] = "ABC";
    EXPECT_EQ(string_lcase(other), other);
    EXPECT_STREQ(other, "abc");
}

struct RewriteCase {
    const char *input;
    const char *expected;
};

class LowercaseUrl : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(LowercaseUrl, DecodesFoldsAndPlusesSpaces)
{
    std::string buffer(GetParam().input);
    string_lowercase_url(buffer.data());
    EXPECT_STREQ(buffer.c_str(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(QxString, LowercaseUrl,
                         ::testing::Values(RewriteCase{"A%42%20c d", "ab+c+d"}, RewriteCase{"%zz", "%zz"},
                                           RewriteCase{"x%4", "x%4"}, RewriteCase{"x%", "x%"},
                                           RewriteCase{"%2B", "+"}, RewriteCase{"%25", "%"},
                                           RewriteCase{"%2541", "%41"}, RewriteCase{"%4g%41", "%4ga"},
                                           RewriteCase{"", ""}, RewriteCase{"%%41", "%a"},
                                           // %00 stays, so the rest still reaches keyword matching.
                                           RewriteCase{"a%00BAD", "a%00bad"},
                                           RewriteCase{"%C4", "\xc4"}));

TEST(QxString, ReplaceByteInPlace)
{
    char text[] = "a b  c";
    EXPECT_EQ(string_replace(text, ' ', '+'), text);
    EXPECT_STREQ(text, "a+b++c");
    EXPECT_EQ(string_replace(nullptr, ' ', '+'), nullptr);
}

struct ReplaceCase {
    const char *str;
    const char *find;
    const char *replace;
    const char *first;  // string_replace_string
    const char *global; // string_replace_string_global
};

class ReplaceString : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceString, FirstAndEveryOccurrence)
{
    const ReplaceCase &c = GetParam();
    EXPECT_EQ(take(string_replace_string(c.str, c.find, c.replace)), c.first);
    EXPECT_EQ(take(string_replace_string_global(c.str, c.find, c.replace)), c.global);
}

INSTANTIATE_TEST_SUITE_P(QxString, ReplaceString,
                         ::testing::Values(ReplaceCase{"100%", "%", "%%", "100%%", "100%%"},
                                           ReplaceCase{"%a%b%", "%", "%%", "%%a%b%", "%%a%%b%%"},
                                           ReplaceCase{"aaa", "aa", "b", "ba", "ba"},
                                           ReplaceCase{"abab", "ab", "", "ab", ""},
                                           ReplaceCase{"abc", "x", "y", "abc", "abc"},
                                           ReplaceCase{"abc", "", "y", "abc", "abc"},
                                           ReplaceCase{"", "a", "b", "", ""},
                                           ReplaceCase{"aXa", "a", "aa", "aaXa", "aaXaa"}));

TEST(QxString, ReplaceStringRefusesNull)
{
    EXPECT_EQ(string_replace_string(nullptr, "a", "b"), nullptr);
    EXPECT_EQ(string_replace_string("a", nullptr, "b"), nullptr);
    EXPECT_EQ(string_replace_string_global("a", "a", nullptr), nullptr);
}

TEST(QxString, CountOccurrences)
{
    EXPECT_EQ(string_count_string_occurences("aaaa", "aa"), 2);
    EXPECT_EQ(string_count_string_occurences("abcabc", "bc"), 2);
    EXPECT_EQ(string_count_string_occurences("abc", "x"), 0);
    EXPECT_EQ(string_count_string_occurences("abc", ""), 0);
    EXPECT_EQ(string_count_string_occurences(nullptr, "a"), 0);
    EXPECT_EQ(string_count_string_occurences_l("aaaa", "aa", 1), 3);
    EXPECT_EQ(string_count_string_occurences_l("aaaa", "aa", 0), 0);
    EXPECT_EQ(string_count_string_occurences_l("aaaa", "aa", -1), 0);
    EXPECT_EQ(string_count_string_occurences_l("aaaa", nullptr, 1), 0);
}

TEST(QxString, CountWithLongStepStaysInsideTheText)
{
    // Exactly sized heap block: a resume point past the end would be caught by
    // the address sanitizer.
    Owned text(static_cast<char *>(std::malloc(3)));
    std::memcpy(text.get(), "ab", 3);
    EXPECT_EQ(string_count_string_occurences_l(text.get(), "b", 50), 1);
    EXPECT_EQ(string_count_string_occurences_l(text.get(), "a", 2), 1);
    EXPECT_EQ(string_count_string_occurences_l(text.get(), "a", 3), 1);
}

struct HexCase {
    const char *text;
    int size;
    int result;
    std::vector<unsigned char> written; // bytes expected at the front of the output
};

class HexToBin : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexToBin, ConvertsAtMostSizeBytes)
{
    const HexCase &c = GetParam();
    std::vector<unsigned char> out(8, 0x55);
    EXPECT_EQ(string_hex_to_bin(c.text, out.data(), c.size), c.result);
    std::vector<unsigned char> front(out.begin(), out.begin() + static_cast<long>(c.written.size()));
    EXPECT_EQ(front, c.written);
    EXPECT_EQ(out[c.written.size()], 0x55) << "wrote past the expected bytes";
}

INSTANTIATE_TEST_SUITE_P(QxString, HexToBin,
                         ::testing::Values(HexCase{"0aFf", 2, 0, {0x0a, 0xff}}, HexCase{"0g", 2, 1, {0x00}},
                                           HexCase{"abcdef", 2, 0, {0xab, 0xcd}},
                                           HexCase{"abcdzz", 2, 0, {0xab, 0xcd}},
                                           HexCase{"abc", 4, 0, {0xab, 0xc0}}, HexCase{"", 4, 0, {}},
                                           HexCase{"ab", -1, 0, {}}, HexCase{"ab", 0, 1, {}},
                                           HexCase{"ab x", 4, 1, {0xab}}));

TEST(QxString, HexToBinRefusesNull)
{
    unsigned char out[2];
    EXPECT_EQ(string_hex_to_bin(nullptr, out, 2), 1);
    EXPECT_EQ(string_hex_to_bin("ab", nullptr, 2), 1);
}

TEST(QxString, AppendCopiesExactBytesIncludingNul)
{
    char *text = strdup("ab");
    text = string_append(text, "c\0d", 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, 6), std::string("abc\0d\0", 6));
    text = string_add(text, "xy");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "abcxy"); // appended behind the first NUL, as strlen measures
    char *same = string_append(text, "zzz", -1);
    EXPECT_EQ(same, nullptr);
    EXPECT_STREQ(text, "abcxy");
    std::free(text);
}

TEST(QxString, StrAddGrowsOnlyWhenTheTextDoesNotFit)
{
    STRING *str = str_new();
    ASSERT_NE(str, nullptr);
    EXPECT_EQ(str->allocated, 1000);
    EXPECT_EQ(str->length, 0);
    EXPECT_STREQ(str->data, "");
    std::string chunk(999, 'x');
    EXPECT_EQ(str_add(str, "%s", chunk.c_str()), -1);
    EXPECT_EQ(str->allocated, 1000);
    EXPECT_EQ(str->length, 999);
    EXPECT_EQ(str_add(str, "%d", 7), -1);
    EXPECT_EQ(str->allocated, 1 + 1000 + 3000);
    EXPECT_EQ(str->length, 1000);
    EXPECT_EQ(std::string(str->data), chunk + "7");
    std::free(str->data);
    std::free(str);
}

TEST(QxString, StrAddOfThousandBytesGrowsToFiveThousand)
{
    STRING *str = str_new();
    ASSERT_NE(str, nullptr);
    EXPECT_EQ(str_add(str, "%s", std::string(1000, 'y').c_str()), -1);
    EXPECT_EQ(str->allocated, 5000);
    EXPECT_EQ(str->length, 1000);
    EXPECT_EQ(str_add(str, "-%s-%d", "ab", 12), -1);
    EXPECT_EQ(std::string(str->data + 1000), "-ab-12");
    std::free(str->data);
    std::free(str);
}

TEST(QxString, Trimming)
{
    char spaces[] = "  ";
    EXPECT_STREQ(string_rtrim(spaces), "");
    char text[] = " \tab c \r\n";
    EXPECT_STREQ(string_rtrim(text), " \tab c");
    EXPECT_STREQ(string_ltrim(text), "ab c");
    const char *blank = "  ";
    EXPECT_EQ(string_ltrim(blank), blank + 2);
}

struct TruncateCase {
    const char *text;
    int shortsize;
    const char *expected;
};

class TruncateWithDots : public ::testing::TestWithParam<TruncateCase> {};

TEST_P(TruncateWithDots, FitsInShortsize)
{
    const TruncateCase &c = GetParam();
    std::string result = take(string_truncate_withdots(c.text, c.shortsize));
    EXPECT_EQ(result, c.expected);
    if (c.shortsize >= 4) {
        EXPECT_LT(result.size(), static_cast<std::size_t>(c.shortsize));
    }
}

INSTANTIATE_TEST_SUITE_P(QxString, TruncateWithDots,
                         ::testing::Values(TruncateCase{"0123456789", 10, "012345..."},
                                           TruncateCase{"0123456789", 11, "0123456789"},
                                           TruncateCase{"0123", 4, "..."}, TruncateCase{"012", 4, "012"},
                                           TruncateCase{"0123", 3, "<NULL>"}, TruncateCase{"", 0, "<NULL>"},
                                           TruncateCase{"abc", -5, "<NULL>"}));

TEST(QxString, ImplodeWritesDelimiterAfterEveryElement)
{
    char a[] = "a", b[] = "b", x[] = "x";
    char *two[] = {a, b, nullptr};
    char *one[] = {x, nullptr};
    char *none[] = {nullptr};
    EXPECT_EQ(take(string_implode(two, ',')), "a,b,");
    EXPECT_EQ(take(string_implode(one, ';')), "x;");
    EXPECT_EQ(take(string_implode(none, ';')), "");
    EXPECT_EQ(string_implode(nullptr, ';'), nullptr);
    EXPECT_EQ(take(string_nimplode(two, '-', 1)), "a-");
    EXPECT_EQ(take(string_nimplode(two, '-', 0)), "");
    EXPECT_EQ(take(string_nimplode(two, '-', -2)), "");
}

TEST(QxString, ImplodeOfExplodeRestoresTheLineWithTrailingDelimiter)
{
    char line[] = "one two  three";
    char **array = string_explode(line, ' ');
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(take(string_implode(array, ' ')), "one two  three ");
    std::free(array);
}

} // namespace
