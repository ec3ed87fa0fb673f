#include "config_fixture.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using velmora_test::ConfigTest;
using velmora_test::Lines;
using velmora_test::take;

// ---- File reader ----

TEST_F(ConfigTest, FileSkipsCommentsAndBlankLinesAndKeepsEveryLineOfAKeyInOrder)
{
    std::string file = write("main.conf", "  # comment\n\n \t \nkey value one\nkey other\nnot#comment x\n");
    ASSERT_EQ(config_configuration_readfile(config, file.c_str()), 0);
    EXPECT_EQ(values("key"), (Lines{"value one", "other"}));
    int count = 0;
    EXPECT_EQ(config_parse_token_count(config, "key", &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(config_parse_string_index(config, "not#comment", 0), "x") << "'#' inside a line is text";
}

TEST_F(ConfigTest, FileLineEndsAndLastLineWithoutLineFeed)
{
    std::string file = write("ends.conf", "a 1\r\nb 2\rignored\n   c 3 %d %s\nlast 4");
    ASSERT_EQ(config_configuration_readfile(config, file.c_str()), 0);
    EXPECT_EQ(values("a"), Lines{"1"});
    EXPECT_EQ(values("b"), Lines{"2"});
    EXPECT_EQ(values("c"), Lines{"3 %d %s"}) << "leading blanks dropped, '%' kept as written";
    EXPECT_EQ(values("last"), Lines{"4"});
}

TEST_F(ConfigTest, MissingFileFailsWithMessage)
{
    std::string missing = dir + "/none.conf";
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_configuration_readfile(config, missing.c_str()), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not open configuration file '" + missing + "'.\n"), std::string::npos) << err;
}

TEST_F(ConfigTest, IncludeBesideTheIncludingFileTakesItsPlaceInOrder)
{
    write("sub/velmora_h8_beside.conf", "key included\n");
    std::string file = write("sub/main.conf",
                             "key before\ninclude velmora_h8_beside.conf ignored words\n"
                             "include velmora_h8_nowhere.conf\ninclude \ninclude  x\nkey after\n");
    ASSERT_EQ(config_configuration_readfile(config, file.c_str()), 0);
    EXPECT_EQ(values("key"), (Lines{"before", "included", "after"}));
    EXPECT_TRUE(values("include").empty()) << "include lines are never stored";
}

TEST_F(ConfigTest, IncludeReadableFromTheWorkingDirectoryComesFirst)
{
    write("work/velmora_h8_other.conf", "where work\n");
    write("etc/velmora_h8_other.conf", "where beside\n");
    std::string file = write("etc/main.conf", "include velmora_h8_other.conf\n");
    fs::path previous = fs::current_path();
    fs::current_path(dir + "/work");
    int rc = config_configuration_readfile(config, file.c_str());
    fs::current_path(previous);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(values("where"), Lines{"work"});
}

TEST_F(ConfigTest, IncludeCycleStopsAtTheNestingLimitWithMessage)
{
    write("a.conf", "from_a 1\ninclude " + dir + "/b.conf\n");
    std::string file = write("b.conf", "from_b 1\ninclude " + dir + "/a.conf\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_configuration_readfile(config, file.c_str()), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("nested deeper than 4 levels"), std::string::npos) << err;
    EXPECT_EQ(values("from_b").size(), 3u) << "b is read at nesting levels 0, 2 and 4, where its include is refused";
    EXPECT_EQ(values("from_a").size(), 2u) << "a is read at nesting levels 1 and 3";
}

// ---- Lines from the program and persistent lines ----

TEST_F(ConfigTest, AddLineFormatsAndSplitsAtEverySpace)
{
    ASSERT_EQ(config_configuration_add_line(config, "%s  %d", "key", 80), 0);
    char **tokens = nullptr;
    ASSERT_EQ(config_parse_tokens(config, "key", &tokens), 0);
    EXPECT_STREQ(tokens[0], "key");
    EXPECT_STREQ(tokens[1], "");
    EXPECT_STREQ(tokens[2], "80");
    EXPECT_EQ(tokens[3], nullptr);
    char *line = nullptr;
    ASSERT_EQ(config_parse_line(config, "key", &line), 0);
    EXPECT_EQ(take(line), " 80");
    EXPECT_EQ(config_parse_string_index(config, "key", 0), nullptr) << "an empty value token is no string";
}

TEST_F(ConfigTest, AddLinesCutsAtLineFeedsAndKeepsEmptyPieces)
{
    char text[] = "a 1\n\nb 2\n";
    ASSERT_EQ(config_configuration_add_lines(config, text), 0);
    EXPECT_EQ(values("a"), Lines{"1"});
    EXPECT_EQ(values(""), Lines{"-"}) << "the empty piece between two line feeds";
    EXPECT_EQ(values("b"), Lines{"2"});
    char unterminated[] = "c 3";
    ASSERT_EQ(config_configuration_add_lines(config, unterminated), 0);
    EXPECT_EQ(values("c"), Lines{"3"});
    char empty[] = "";
    ASSERT_EQ(config_configuration_add_lines(config, empty), 0);
    EXPECT_EQ(values(""), Lines{"-"}) << "an empty text adds no line";
}

using OwnedConfig = std::unique_ptr<void, decltype(&config_configuration_free)>;

std::string first_value(void *config, const char *key)
{
    char *value = nullptr;
    config_parse_string(config, key, &value);
    return take(value);
}

TEST_F(ConfigTest, PersistentLinesComeFirstAndOutliveTheirList)
{
    ASSERT_EQ(config_persistant_add_line(strdup("debug yes")), 0);
    EXPECT_EQ(config_persistant_add_line(nullptr), 1);
    OwnedConfig with_persistent(config_configuration_create(), config_configuration_free);
    ASSERT_NE(with_persistent, nullptr);
    std::string file = write("p.conf", "debug no\n");
    ASSERT_EQ(config_configuration_readfile(with_persistent.get(), file.c_str()), 0);
    EXPECT_EQ(first_value(with_persistent.get(), "debug"), "yes") << "the persistent line is the first of its key";

    config_persistant_terminate();
    EXPECT_EQ(first_value(with_persistent.get(), "debug"), "yes") << "a configuration keeps its own copy";
    OwnedConfig without(config_configuration_create(), config_configuration_free);
    ASSERT_NE(without, nullptr);
    EXPECT_EQ(first_value(without.get(), "debug"), "(null)");
}

struct RemoveCase {
    const char *line;
    int result;
    Lines key_after;
};

class ConfigRemoveTest : public ConfigTest, public ::testing::WithParamInterface<RemoveCase> {};

TEST_P(ConfigRemoveTest, RemovesEveryLineWithTheSameValue)
{
    for (const char *line : {"key value one", "key other", "key value one", "key", "solo x"})
        add(line);
    const RemoveCase &c = GetParam();
    EXPECT_EQ(config_configuration_remove_line(config, c.line), c.result);
    EXPECT_EQ(values("key"), c.key_after);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigRemoveTest,
                         ::testing::Values(RemoveCase{"key value one", 0, {"other", "-"}},
                                           RemoveCase{"key other", 0, {"value one", "value one", "-"}},
                                           RemoveCase{"key missing", 1, {"value one", "other", "value one", "-"}},
                                           // A line without a value matches nothing, not even a
                                           // stored line without one.
                                           RemoveCase{"key", 1, {"value one", "other", "value one", "-"}},
                                           RemoveCase{"absent value", 1, {"value one", "other", "value one", "-"}}));

TEST_F(ConfigTest, RemovingTheLastLineOfAKeyRemovesTheKey)
{
    add("solo x");
    EXPECT_EQ(config_configuration_remove_line(config, "solo x"), 0);
    EXPECT_TRUE(values("solo").empty());
    EXPECT_EQ(config_configuration_remove_line(config, "solo x"), 1);
    add("solo y");
    EXPECT_EQ(values("solo"), Lines{"y"});
}

// ---- Raw access ----

TEST_F(ConfigTest, RawAccessReadsTheFirstLineOrTheIndexedLine)
{
    add("list a b");
    add("list c");
    char *line = nullptr;
    ASSERT_EQ(config_parse_line(config, "list", &line), 0);
    EXPECT_EQ(take(line), "a b");
    char *string = nullptr;
    ASSERT_EQ(config_parse_string(config, "list", &string), 0);
    EXPECT_EQ(take(string), "a");
    EXPECT_STREQ(config_parse_string_index(config, "list", 1), "c");
    EXPECT_EQ(config_parse_string_index(config, "list", 2), nullptr);
    EXPECT_EQ(config_parse_tokens_index(config, "list", nullptr, -1), nullptr);

    add("bare");
    EXPECT_EQ(config_parse_line(config, "bare", &line), 1);
    EXPECT_EQ(config_parse_string(config, "bare", &string), 1);
    EXPECT_EQ(config_parse_line(config, "absent", &line), 1);
    EXPECT_EQ(config_parse_line(nullptr, "list", &line), 1);
}

} // namespace
