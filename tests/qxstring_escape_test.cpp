#include "velmora/qxstring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string take(char *text)
{
    std::string result = text != nullptr ? std::string(text) : std::string("<NULL>");
    std::free(text);
    return result;
}

template <typename T>
std::optional<T> take_value(T *block)
{
    if (block == nullptr)
        return std::nullopt;
    T value = *block;
    std::free(block);
    return value;
}

struct TextCase {
    const char *text;
    const char *expected;
};

void expect_new_texts(char *(*produce)(const char *), std::initializer_list<TextCase> cases)
{
    for (const TextCase &c : cases)
        EXPECT_EQ(take(produce(c.text)), c.expected) << c.text;
}

TEST(QxStringEscape, HtmlEntitiesAreSizedExactly)
{
    char *result = string_html_entities("a<b>&\"c\xe9");
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(result, "a&lt;b&gt;&amp;&quot;c&eacute;");
    EXPECT_EQ(std::strlen(result) + 1, 31u);
    std::free(result);
}

TEST(QxStringEscape, HtmlEntitiesCoverLatin1Range)
{
    expect_new_texts(string_html_entities,
                     {{"'\xff", "'\xff"}, {"\xa0", "&nbsp;"}, {"\xa9", "&copy;"}, {"\xc6\xd0", "&AElig;&ETH;"},
                      {"\xdf", "&szlig;"}, {"\xfe", "&thorn;"}, {"\x9f\x01", "\x9f\x01"}, {"", ""},
                      {"\xd7\xf7", "&times;&divide;"}});
}

TEST(QxStringEscape, EscapeShellArg)
{
    EXPECT_EQ(take(string_escapeshellarg("it's")), "'it'\\''s'");
    EXPECT_EQ(take(string_escapeshellarg("")), "''");
    EXPECT_EQ(take(string_escapeshellarg(nullptr)), "");
    EXPECT_EQ(take(string_escapeshellarg("a b;$x")), "'a b;$x'");
}

struct UnescapeCase {
    std::string input;
    std::string expected;
};

class UnescapeString : public ::testing::TestWithParam<UnescapeCase> {};

TEST_P(UnescapeString, UndoesBackslashEscapesInPlace)
{
    // Exactly sized heap copy: reading beyond the text is caught by ASan.
    std::vector<char> buffer(GetParam().input.begin(), GetParam().input.end());
    buffer.push_back('\0');
    string_unescape_string(buffer.data());
    EXPECT_EQ(std::string(buffer.data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(QxStringEscape, UnescapeString,
                         ::testing::Values(UnescapeCase{"a\\tb\\x41\\101\\q", "a\tbAAq"},
                                           UnescapeCase{"\\b\\f\\n\\r\\t", "\b\f\n\r\t"},
                                           UnescapeCase{"\\\\\\\"\\v", "\\\"v"}, UnescapeCase{"\\7x", "\ax"},
                                           UnescapeCase{"\\1011", "A1"}, UnescapeCase{"\\777", "\xff"},
                                           UnescapeCase{"\\x4a\\xzz", "JS"}, UnescapeCase{"ab\\", "ab"},
                                           UnescapeCase{"ab\\x4", "ab"}, UnescapeCase{"ab\\x", "ab"},
                                           UnescapeCase{"a\\0b", "a"}, UnescapeCase{"plain", "plain"},
                                           UnescapeCase{"", ""}));

TEST(QxStringEscape, ExtractFromQuotes)
{
    expect_new_texts(string_extract_from_quotes,
                     {{"\"a\\tb\"", "a\tb"}, {"\"a\\qb\"", "a\\qb"}, {"x\"y\"z", "xyz"}, {"\\\"q\\\"", "\"q\""},
                      {"a\\", "a\\"}, {"\\a\\v\\'", "\a\v'"}, {"\\\\n", "\\n"}, {"", ""}});
}

std::vector<std::string> split_quoted(const char *text)
{
    std::string buffer(text);
    char **array = string_explode_quotes(buffer.data());
    std::vector<std::string> pieces;
    for (char **p = array; p != nullptr && *p != nullptr; p++)
        pieces.emplace_back(*p);
    std::free(array);
    return pieces;
}

TEST(QxStringEscape, ExplodeQuotesSplitsOutsideQuotesOnly)
{
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(split_quoted("a \"b c\" d"), (Pieces{"a", "\"b c\"", "d"}));
    EXPECT_EQ(split_quoted("\"x\\\" y\" z"), (Pieces{"\"x\\\" y\"", "z"}));
    EXPECT_EQ(split_quoted(" a"), (Pieces{"", "a"}));
    EXPECT_EQ(split_quoted("a  b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split_quoted("a \"b c"), (Pieces{"a", "\"b c"}));
    EXPECT_EQ(split_quoted("\"a\\"), (Pieces{"\"a\\"}));
    EXPECT_EQ(split_quoted(""), (Pieces{""}));
    EXPECT_EQ(string_explode_quotes(nullptr), nullptr);
}

TEST(QxStringEscape, SecurityKeyHasTwentyAlphabetCharacters)
{
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
    for (int i = 0; i < 50; i++) {
        std::string key = take(string_security_key());
        ASSERT_EQ(key.size(), 20u);
        EXPECT_EQ(key.find_first_not_of(alphabet), std::string::npos) << key;
    }
}

TEST(QxStringEscape, ExtractNumbers)
{
    EXPECT_EQ(take_value(string_extract_number_signed("  -42abc")), -42);
    EXPECT_EQ(take_value(string_extract_number_signed("x")), 0);
    EXPECT_EQ(take_value(string_extract_number_signed("-9000000000")), -9000000000LL);
    EXPECT_EQ(take_value(string_extract_long_number("18446744073709551615")), UINT64_MAX);
    EXPECT_EQ(take_value(string_extract_number(" 17 ")), 17u);
    EXPECT_EQ(take_value(string_extract_number("")), 0u);
}

struct IpCase {
    const char *text;
    std::optional<uint32_t> expected;
};

class ExtractIp : public ::testing::TestWithParam<IpCase> {};

TEST_P(ExtractIp, ParsesFourDottedParts)
{
    std::string buffer(GetParam().text);
    EXPECT_EQ(take_value(string_extract_ip(buffer.data())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(QxStringEscape, ExtractIp,
                         ::testing::Values(IpCase{"10.1.2.3", (10u << 24) + (1u << 16) + (2u << 8) + 3u},
                                           IpCase{"0.0.0.0", 0u}, IpCase{"255.255.255.255", 0xffffffffu},
                                           IpCase{"1a.2.3.4", 0x01020304u}, IpCase{"1..3.4", 0x01000304u},
                                           IpCase{"1.2.3", std::nullopt}, IpCase{"1.2.3.256", std::nullopt},
                                           IpCase{"-1.2.3.4", std::nullopt}, IpCase{"1.2.3.4.5", std::nullopt},
                                           IpCase{"", std::nullopt}));

TEST(QxStringEscape, ExtractIpCutsTheTextAtItsFirstDot)
{
    char text[] = "10.1.2.3";
    uint32_t *ip = string_extract_ip(text);
    ASSERT_NE(ip, nullptr);
    std::free(ip);
    EXPECT_STREQ(text, "10");
    EXPECT_EQ(string_extract_ip(nullptr), nullptr);
}

} // namespace
