// Inputs found by the fuzz targets in fuzz/, kept as unit tests of the
// behaviour that fixed them.
#include <gtest/gtest.h>

#include <string>

#include "velmora/logsession.h"
#include "velmora/urllist.h"
#include "velmora/urllist_action.h"

namespace {

struct RegexCase {
    const char *name;
    std::string pattern;
    int expected;
};

std::string repeated(const std::string &text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// glibc's regcomp copies the operand of every '+' and interval, so stacked
// and nested repetitions took gigabytes, and long runs of optional operands
// took minutes; such list entries are now refused as bad regular expressions
// while ordinary patterns still load.
class RegexEntrySize : public ::testing::TestWithParam<RegexCase> {};

TEST_P(RegexEntrySize, LoadsOrRefuses)
{
    URLLIST *list = urllist_initialize(0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(urllist_add(list, GetParam().pattern.c_str(), "R", "deny", nullptr, -1), GetParam().expected);
    EXPECT_EQ(list->loaded_regexp_count, GetParam().expected == 0 ? 1 : 0);
    urllist_terminate(list);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, RegexEntrySize,
    ::testing::Values(
        // The fuzzer's line: "!p+pileap+pillscl+++++/+++...+" with type Rc.
        RegexCase{"StackedPluses", "!p+pileap+pillscl+++++/" + repeated("+", 46), -5},
        RegexCase{"NestedGroups", repeated("(", 24) + "a" + repeated(")+", 24), -5},
        RegexCase{"NestedIntervals", repeated("(", 6) + "a" + repeated("){9}", 6), -5},
        // Small trees whose epsilon closures take seconds to minutes.
        RegexCase{"ManyOptionalCopies", "(a*){30000}", -5},
        RegexCase{"NestedStars", "((a*)*){10000}", -5},
        RegexCase{"EmptyGroupStackedPluses", "()" + repeated("+", 50), -5},
        // Copies of what matches the empty text chain up quadratically.
        RegexCase{"EmptyGroupCopies", "(){22222}", -5},
        RegexCase{"AnchorCopies", "(^){22222}", -5},
        RegexCase{"WordAnchorCopies", "(\\b){22222}", -5},
        // Optional anchors or empty groups inside a loop: glibc copies them
        // per context, and the work multiplies with each one.
        // glibc reads "{,n}" as "{0,n}".
        RegexCase{"IntervalWithoutLowerBound", "2$x0{,22222}", -5},
        RegexCase{"OptionalAnchorsInALoop", "((^|a)?(^|a)?(^|a)?(^|a)?(^|a)?(^|a)?(^|a)?)+", -5},
        RegexCase{"OptionalAnchorAtTheStart", "^((^|\\.)ads)?[a-z]+$", 0},
        // Back-references match by exponential backtracking.
        RegexCase{"BackReference", "(a|aa)*\\1\\1b", -5},
        RegexCase{"EscapedDigitZeroIsNoReference", "^/v\\0", 0},
        RegexCase{"Ordinary", "^http://(www\\.)?ex+ample\\.com/[a-z]+\\.html$", 0},
        RegexCase{"LongInterval", "^/[0-9]{1,1000}$", 0},
        RegexCase{"PlusInBrackets", "[+]+[[:alpha:]+]{2,3}\\++", 0}),
    [](const ::testing::TestParamInfo<RegexCase> &info) { return std::string(info.param.name); });

// Log-session filters compile the same kind of expression from a client's
// query, so they are guarded the same way: the filter is refused (and the
// session would take everything) instead of exhausting memory.
TEST(LogSessionFilterSize, StackedRepetitionsAreRefusedOrdinaryOnesCompile)
{
    const std::string huge = "filter=" + repeated("(", 24) + "a" + repeated(")+", 24);
    EXPECT_EQ(logsession_filter_create(huge.c_str(), "filter="), nullptr);
    // The fuzzer's query: a starred group under stacked '+' took minutes.
    EXPECT_EQ(logsession_filter_create("filter=^ay])+*+++++++++++", "filter="), nullptr);
    EXPECT_EQ(logsession_filter_create("filter=(a*)*\\1b", "filter="), nullptr);
    // The fuzzer's query "filter=){1,3}{3}{2}{2,}": nested copies of "()".
    EXPECT_EQ(logsession_filter_create("filter=){1,3}{3}{2}{2,}", "filter="), nullptr);
    // The fuzzer's negate word: "filter=!){22222}" gives "(){22222})".
    EXPECT_EQ(logsession_filter_create("filter=!){22222}", "filter="), nullptr);
    // And an alternative closing the filter's own group early: "()++...".
    const std::string empty_group = "filter=)" + repeated("+", 50) + "[[::u[:";
    EXPECT_EQ(logsession_filter_create(empty_group.c_str(), "filter="), nullptr);

    logsession_filter *ordinary = logsession_filter_create("filter=ab+c{1,3} filter=!x+", "filter=");
    ASSERT_NE(ordinary, nullptr);
    EXPECT_EQ(logsession_filter_run(ordinary, "ABBBCC"), 0);
    EXPECT_NE(logsession_filter_run(ordinary, "abcx"), 0);
    logsession_filter_free(ordinary);
}

} // namespace
