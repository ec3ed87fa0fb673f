#include "velmora/keywordlist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char *no_match = "<none>";

struct Entry {
    const char *text;
    bool restricted = false;
};

// A table whose data pointers are the entry texts themselves, so a result can
// be told by its data as well as by its item.
class KeywordListTest : public ::testing::Test {
protected:
    ~KeywordListTest() override { keywordlist_terminate(table_); }

    void use_boundaries(const char *prefixes, const char *postfixes)
    {
        keywordlist_terminate(table_);
        table_ = keywordlist_initialize(prefixes, postfixes, nullptr);
        ASSERT_NE(table_, nullptr);
    }

    int add(const char *keyword, bool restricted = false, bool multi = true)
    {
        return keywordlist_add_keyword(table_, keyword, const_cast<char *>(keyword), restricted ? 1 : 0, multi ? 1 : 0);
    }

    void add_all(const std::vector<Entry> &entries)
    {
        for (const Entry &e : entries)
            ASSERT_EQ(add(e.text, e.restricted), 0) << e.text;
    }

    std::string find(const char *text, keywordlist_data_check_fn check = nullptr, void *args = nullptr)
    {
        KEYWORDLIST_RESULT *result = keywordlist_lookup(table_, text, check, args);
        if (result == nullptr)
            return no_match;
        EXPECT_NE(result->data, nullptr);
        return static_cast<const char *>(result->data);
    }

    KEYWORDLIST_TABLE *table_ = keywordlist_initialize(nullptr, nullptr, nullptr);
};

// Where a restricted keyword may stand: punctuation or the text ends around
// it without boundary lists, the listed boundaries with them.
TEST_F(KeywordListTest, RestrictedKeywordNeedsBoundsOnBothSides)
{
    struct Case {
        const char *prefixes;
        const char *postfixes;
        const char *text;
        bool matches;
    };
    const Case cases[] = {
        {nullptr, nullptr, "toy", true},        {nullptr, nullptr, "a.com/toy/b", true},
        {nullptr, nullptr, "toy.com", true},    {nullptr, nullptr, "a-toy", true},
        {nullptr, nullptr, "atoy.com", false},  {nullptr, nullptr, "toys", false},
        {nullptr, nullptr, "x/toytoy/", false}, {"/ q=", "/ &", "a/toy/b", true},
        {"/ q=", "/ &", "?q=toy&x", true},      {"/ q=", "/ &", "toy", true},
        {"/ q=", "/ &", "x.toy.y", false},      {"/ q=", "/ &", "a/toy.", false},
        {"/ q=", "/ &", "/toys/", false},       {"/ q=", "/ &", "q=toy", true},
        {"/ q=", "/ &", "=toy/", false},        {"", "", "toy", true},
        {"", "", "a/toy/b", false},             {"", "", "a/toy", false},
    };
    for (const Case &c : cases) {
        use_boundaries(c.prefixes, c.postfixes);
        ASSERT_EQ(add("toy", true), 0);
        EXPECT_EQ(find(c.text) == "toy", c.matches)
            << c.text << " with prefixes " << (c.prefixes ? c.prefixes : "(none)");
    }
}

struct PhraseCase {
    const char *name;
    std::vector<Entry> entries;
    const char *text;
    const char *expected;
};

class KeywordPhraseTest : public KeywordListTest, public ::testing::WithParamInterface<PhraseCase> {};

TEST_P(KeywordPhraseTest, FindsExpectedEntry)
{
    const PhraseCase &c = GetParam();
    add_all(c.entries);
    EXPECT_EQ(find(c.text), c.expected);
}

const PhraseCase phrase_cases[] = {
    {"InOrder", {{"red+car"}}, "x/red/car", "red+car"},
    {"ReverseOrder", {{"red+car"}}, "x/car/red", "red+car"},
    {"OneWordMissing", {{"red+car"}}, "x/red/bus", no_match},
    {"CancelAfterBothWords", {{"red+car+!toy"}}, "red/car/toy", no_match},
    {"CancelWordAbsent", {{"red+car+!toy"}}, "red/car/bus", "red+car+!toy"},
    {"ExceptionHidesRequiredInside", {{"ball+^football+game"}}, "football/game", no_match},
    {"RequiredOutsideExceptionCounts", {{"ball+^football+game"}}, "football/ball/game", "ball+^football+game"},
    {"PhraseBeatsEarlierKeyword", {{"aaa"}, {"red+car"}}, "aaa/red/car", "red+car"},
    {"KeywordWhenNoPhraseCompletes", {{"aaa"}, {"red+car"}}, "aaa/red", "aaa"},
    {"LongestCompletedPhraseWins", {{"a1+a2+!zz"}, {"b1+b2+b3+!yy"}}, "a1/a2/b1/b2/b3", "b1+b2+b3+!yy"},
    {"CanceledLongerFallsBackToShorter", {{"a1+a2+!zz"}, {"b1+b2+b3+!yy"}}, "a1/a2/b1/b2/b3/yy", "a1+a2+!zz"},
    {"RepeatedWordNeedsTwoOccurrences", {{"go+go"}}, "x/go/", no_match},
    {"RepeatedWordFoundTwice", {{"go+go"}}, "go/go", "go+go"},
    {"PhraseWordsOverlapAtOnePosition", {{"foo+foobar"}}, "x/foobar", "foo+foobar"},
    {"RestrictedPhraseNeedsWholeWords", {{"red+car", true}}, "redcar/carred", no_match},
    {"RestrictedPhraseWholeWords", {{"red+car", true}}, "red/car", "red+car"},
    // A whole-word keyword that is also a word of a free phrase keeps its
    // restriction for its own data, while the phrase still sees every
    // occurrence.
    {"MixedWordKeepsKeywordRestriction", {{"sex", true}, {"sex+toy"}}, "essex", no_match},
    {"MixedWordFreeForItsPhrase", {{"sex", true}, {"sex+toy"}}, "essex/toy", "sex+toy"},
    {"MixedWordFreeKeywordRestrictedPhrase", {{"sex"}, {"sex+toy", true}}, "essex/toy", "sex"},
    // A completed cancelable phrase met again by its exception word is not
    // linked a second time: the lookup must end (no cycle) and honour the
    // later cancel.
    {"CompletedPhraseNotLinkedTwice", {{"q1+r1+!cc+^ee"}}, "q1/r1/ee/cc", no_match},
    {"CompletedPhraseSurvivesExceptionWord", {{"q1+r1+!cc+^ee"}}, "q1/r1/ee/q1", "q1+r1+!cc+^ee"},
};

INSTANTIATE_TEST_SUITE_P(Phrases, KeywordPhraseTest, ::testing::ValuesIn(phrase_cases),
                         [](const ::testing::TestParamInfo<PhraseCase> &info) { return info.param.name; });

TEST_F(KeywordListTest, AddResults)
{
    EXPECT_EQ(add("word"), 0);
    EXPECT_EQ(add("word"), -2);
    EXPECT_EQ(add("WORD"), -2) << "keywords are lower-cased before storing";
    EXPECT_EQ(add("+++"), -3);
    EXPECT_EQ(add(""), -3);
    EXPECT_EQ(keywordlist_add_keyword(nullptr, "x", const_cast<char *>("x"), 0, 0), -3);
    EXPECT_EQ(keywordlist_add_keyword(table_, nullptr, const_cast<char *>("x"), 0, 0), -3);
    EXPECT_EQ(keywordlist_add_keyword(table_, "x", nullptr, 0, 0), -3);
    EXPECT_EQ(table_->count, 1);
}

TEST_F(KeywordListTest, PhraseWordMergesIntoExistingKeyword)
{
    ASSERT_EQ(add("red"), 0);
    ASSERT_EQ(add("red+car", true), 0);
    EXPECT_EQ(table_->count, 2);
    EXPECT_EQ(find("x/red/car"), "red+car");
    EXPECT_EQ(find("bored"), "red");
}

TEST_F(KeywordListTest, PlusSignsWithAndWithoutMulti)
{
    static const char single_piece[] = "++solo+";
    ASSERT_EQ(keywordlist_add_keyword(table_, single_piece, const_cast<char *>(single_piece), 0, 1), 0);
    EXPECT_EQ(table_->phrases, nullptr) << "one non-empty piece is a plain keyword";
    EXPECT_EQ(find("x/solos"), single_piece);
    ASSERT_EQ(add("one+two", false, false), 0);
    EXPECT_EQ(find("x/one+two/"), "one+two");
    EXPECT_EQ(find("x/one/two/"), no_match);
}

TEST_F(KeywordListTest, KeywordsAreDecodedLikeLookupTexts)
{
    ASSERT_EQ(add("Big%20Cat", false, false), 0);
    EXPECT_EQ(find("a/big+cat"), "Big%20Cat");
    ASSERT_EQ(add("Small Dog", false, true), 0);
    KEYWORDLIST_RESULT *r = keywordlist_lookup(table_, "dog/small", nullptr, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->item, "small dog") << "a phrase keeps its text as given, lower-cased";
}

int reject_listed(void *args, void *, KEYWORDLIST_RESULT *result)
{
    const auto *rejected = static_cast<const std::set<std::string> *>(args);
    return rejected->count(result->item) == 0;
}

// Each lookup rejects every answer of the lookups before it; answers lists
// what each lookup must give in turn.
TEST_F(KeywordListTest, CheckCallbackRejectionMovesOnToTheNextCandidate)
{
    struct Case {
        std::vector<Entry> entries;
        const char *text;
        std::vector<std::string> answers;
    };
    const Case cases[] = {
        // shorter words at the same position first, then later positions
        {{{"abc"}, {"ab"}, {"bc"}}, "xabc", {"abc", "ab", "bc", no_match}},
        // a rejected phrase gives way to a completed one, then to the fallback keyword
        {{{"aaa"}, {"red+car+!toy"}, {"big+car"}}, "aaa/big/red/car", {"big+car", "red+car+!toy", "aaa", no_match}},
    };
    for (const Case &c : cases) {
        use_boundaries(nullptr, nullptr);
        add_all(c.entries);
        std::set<std::string> rejected;
        for (const std::string &answer : c.answers) {
            EXPECT_EQ(find(c.text, reject_listed, &rejected), answer) << c.text;
            rejected.insert(answer);
        }
    }
}

TEST_F(KeywordListTest, LookupOfNothing)
{
    EXPECT_EQ(find("anything"), no_match) << "empty table";
    ASSERT_EQ(add("a"), 0);
    EXPECT_EQ(find(""), no_match);
    EXPECT_EQ(keywordlist_lookup(table_, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(keywordlist_lookup(nullptr, "a", nullptr, nullptr), nullptr);
    keywordlist_terminate(nullptr);
}

std::vector<std::string> freed;

void record_free(void *data)
{
    freed.emplace_back(static_cast<char *>(data));
    std::free(data);
}

TEST(KeywordListTeardown, FreesEveryStoredDataOnce)
{
    freed.clear();
    KEYWORDLIST_TABLE *table = keywordlist_initialize("/", "/", record_free);
    ASSERT_NE(table, nullptr);
    const char *entries[] = {"alpha", "beta+gamma", "gamma", "beta+!delta"};
    for (const char *e : entries)
        ASSERT_EQ(keywordlist_add_keyword(table, e, strdup(e), 0, 1), 0) << e;
    char *duplicate = strdup("alpha");
    EXPECT_EQ(keywordlist_add_keyword(table, "alpha", duplicate, 0, 1), -2);
    std::free(duplicate); // a refused keyword's data stays with the caller
    keywordlist_terminate(table);
    std::multiset<std::string> got(freed.begin(), freed.end());
    EXPECT_EQ(got, (std::multiset<std::string>{"alpha", "beta+gamma", "gamma", "beta+!delta"}));
}

} // namespace
