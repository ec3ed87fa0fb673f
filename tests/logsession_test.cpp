#include "velmora/logsession.h"

#include "log_files_support.h"
#include "velmora/qxtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The entries of a sample, released.
std::vector<std::string> take_entries(logsession_sample_t *sample, uint32_t *overflow = nullptr)
{
    std::vector<std::string> entries;
    if (sample == nullptr)
        return entries;
    for (uint32_t i = 0; i < sample->size; i++)
        entries.emplace_back(sample->entries[i]);
    if (overflow != nullptr)
        *overflow = sample->overflow;
    logsession_sample_destroy(sample);
    return entries;
}

void insert_text(logsession_t *session, const std::string &text)
{
    logsession_insert(session, text.c_str(), static_cast<int>(text.size()));
}

void insert_text(logsession_set_t *set, const std::string &text)
{
    logsession_set_insert(set, text.c_str(), static_cast<int>(text.size()));
}

std::string or_null(const char *text)
{
    return text != nullptr ? text : "(null)";
}

// ---- Filters ------------------------------------------------------------

struct FilterBuildCase {
    const char *query;
    const char *match;  // nullptr: no match expression
    const char *negate; // nullptr: no negate expression; both nullptr: no filter
};

class FilterBuild : public ::testing::TestWithParam<FilterBuildCase> {};

TEST_P(FilterBuild, JoinsTheFilterWordsInQueryOrder)
{
    const FilterBuildCase &c = GetParam();
    logsession_filter *filter = logsession_filter_create(c.query, "filter=");
    if (c.match == nullptr && c.negate == nullptr) {
        EXPECT_EQ(filter, nullptr);
        return;
    }
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(or_null(filter->regstr_match), or_null(c.match));
    EXPECT_EQ(or_null(filter->regstr_negate), or_null(c.negate));
    logsession_filter_free(filter);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, FilterBuild,
    ::testing::Values(FilterBuildCase{"filter=ads filter=track filter=!intranet", "(ads|track)", "(intranet)"},
                      FilterBuildCase{"filter=!debug", nullptr, "(debug)"},
                      FilterBuildCase{"user=bob filter=x  filter=y", "(x|y)", nullptr},
                      FilterBuildCase{"filter=!a filter=!b other filter=c", "(c)", "(a|b)"},
                      FilterBuildCase{"user=bob", nullptr, nullptr},
                      FilterBuildCase{"", nullptr, nullptr},
                      FilterBuildCase{"filter= filter=!", nullptr, nullptr},
                      FilterBuildCase{"xfilter=a", nullptr, nullptr},
                      FilterBuildCase{"filter=a(", nullptr, nullptr},      // does not compile
                      FilterBuildCase{"filter=ok filter=!b[", nullptr, nullptr})); // negate does not compile

TEST(Filter, NullArgumentsGiveNoFilterAndNullFilterPassesEverything)
{
    EXPECT_EQ(logsession_filter_create(nullptr, "filter="), nullptr);
    EXPECT_EQ(logsession_filter_create("filter=a", nullptr), nullptr);
    EXPECT_EQ(logsession_filter_run(nullptr, "anything"), 0);
    logsession_filter *filter = logsession_filter_create("filter=a", "filter=");
    EXPECT_EQ(logsession_filter_run(filter, nullptr), 0);
    logsession_filter_free(filter);
    logsession_filter_free(nullptr);
}

struct FilterRunCase {
    const char *query;
    const char *entry;
    bool passes;
};

class FilterRun : public ::testing::TestWithParam<FilterRunCase> {};

TEST_P(FilterRun, MatchesCaseInsensitively)
{
    const FilterRunCase &c = GetParam();
    logsession_filter *filter = logsession_filter_create(c.query, "filter=");
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(logsession_filter_run(filter, c.entry) == 0, c.passes) << c.query << " on " << c.entry;
    logsession_filter_free(filter);
}

INSTANTIATE_TEST_SUITE_P(Entries, FilterRun,
                         ::testing::Values(FilterRunCase{"filter=error", "An ERROR occurred\n", true},
                                           FilterRunCase{"filter=error", "all fine\n", false},
                                           FilterRunCase{"filter=!debug", "Debug line\n", false},
                                           FilterRunCase{"filter=!debug", "other line\n", true},
                                           FilterRunCase{"filter=a filter=!b", "xa\n", true},
                                           FilterRunCase{"filter=a filter=!b", "ab\n", false},
                                           FilterRunCase{"filter=a filter=!b", "c\n", false},
                                           FilterRunCase{"filter=^rot filter=[0-9]{3}", "Rotated\n", true},
                                           FilterRunCase{"filter=^rot filter=[0-9]{3}", "x 123\n", true},
                                           FilterRunCase{"filter=^rot filter=[0-9]{3}", "x rot 12\n", false}));

struct FilterStringCase {
    const char *query;
    const char *token;
    const char *delim;
    const char *expected; // nullptr: no text
};

class FilterString : public ::testing::TestWithParam<FilterStringCase> {};

TEST_P(FilterString, JoinsTheRestOfTheTokenWords)
{
    const FilterStringCase &c = GetParam();
    char *joined = logsession_filter_string(c.query, c.token, c.delim);
    EXPECT_EQ(or_null(joined), or_null(c.expected));
    std::free(joined);
}

INSTANTIATE_TEST_SUITE_P(Queries, FilterString,
                         ::testing::Values(FilterStringCase{"user=a filter=x user=c", "user=", ",", "a,c"},
                                           FilterStringCase{"user=a", "user=", ", ", "a"},
                                           FilterStringCase{"user= user=b", "user=", "-", "b"},
                                           FilterStringCase{"user= other", "user=", ",", nullptr},
                                           FilterStringCase{nullptr, "user=", ",", nullptr},
                                           FilterStringCase{"user=a", nullptr, ",", nullptr},
                                           FilterStringCase{"user=a", "user=", nullptr, nullptr}));

// ---- Sessions -----------------------------------------------------------

// A plain set that owns the sessions made for a test.
class Sessions : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_ = logsession_set_create(1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(set_, nullptr);
    }
    void TearDown() override { logsession_set_destroy(set_); }

    logsession_set_t *set_ = nullptr;
};

TEST_F(Sessions, RingKeepsTheNewestEntriesAndCountsTheLostOnes)
{
    for (int locked = 0; locked <= 1; locked++) {
        logsession_t *session = logsession_create(set_, "ring", "", nullptr, 3, 100, locked);
        ASSERT_NE(session, nullptr);
        for (int i = 1; i <= 5; i++)
            insert_text(session, "entry " + std::to_string(i) + "\n");
        uint32_t overflow = 99;
        EXPECT_EQ(take_entries(logsession_sample(session), &overflow),
                  (std::vector<std::string>{"entry 3\n", "entry 4\n", "entry 5\n"}));
        EXPECT_EQ(overflow, 2u);
        EXPECT_TRUE(take_entries(logsession_sample(session), &overflow).empty());
        EXPECT_EQ(overflow, 0u);
        insert_text(session, "after\n");
        EXPECT_EQ(take_entries(logsession_sample(session)), std::vector<std::string>{"after\n"});
        logsession_destroy(session);
    }
}

TEST_F(Sessions, EntryIsCutAfterItsFirstLineAndToItsLength)
{
    logsession_t *session = logsession_create(set_, "cut", nullptr, nullptr, 10, 100, 0);
    ASSERT_NE(session, nullptr);
    insert_text(session, "first\nsecond\n");
    logsession_insert(session, "abcdef", 3);
    logsession_insert(session, "short", 100); // a length beyond the text stops at its end
    logsession_insert(session, "ignored", -1);
    logsession_insert(session, nullptr, 3);
    EXPECT_EQ(take_entries(logsession_sample(session)), (std::vector<std::string>{"first\n", "abc", "short"}));
    logsession_destroy(session);
}

TEST_F(Sessions, SizesBelowTheMinimumsAreRaised)
{
    logsession_t *session = logsession_create(set_, "tiny", nullptr, nullptr, 0, 1, 0);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->max_entries, 1);
    EXPECT_EQ(session->buffer_size, 4);
    logsession_destroy(session);
    EXPECT_EQ(logsession_create(nullptr, "x", nullptr, nullptr, 1, 10, 0), nullptr);
    EXPECT_EQ(logsession_create(set_, nullptr, nullptr, nullptr, 1, 10, 0), nullptr);
}

TEST_F(Sessions, SetAddFindRemoveAndCount)
{
    EXPECT_EQ(logsession_set_add(set_, "a", "filter=one", nullptr, 5, 100), 0);
    EXPECT_EQ(logsession_set_add(set_, "b", "", nullptr, 5, 100), 0);
    EXPECT_EQ(logsession_set_add(set_, "a", "filter=two", nullptr, 9, 100), -1);
    EXPECT_EQ(logsession_set_get_count(set_), 2);
    logsession_t *a = logsession_set_find(set_, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::string(a->filter->regstr_match), "(one)") << "the first session stays unchanged";
    EXPECT_EQ(a->max_entries, 5);
    EXPECT_EQ(a->set, set_);
    EXPECT_EQ(logsession_set_find(set_, "c"), nullptr);
    EXPECT_EQ(logsession_set_remove(set_, "a"), 0);
    EXPECT_EQ(logsession_set_remove(set_, "a"), -1);
    EXPECT_EQ(logsession_set_get_count(set_), 1);
    EXPECT_EQ(logsession_set_sample(set_, "a"), nullptr);
}

TEST_F(Sessions, NullSetCallsAreRefused)
{
    EXPECT_EQ(logsession_set_add(nullptr, "a", "", nullptr, 5, 100), -1);
    EXPECT_EQ(logsession_set_find(nullptr, "a"), nullptr);
    EXPECT_EQ(logsession_set_get_count(nullptr), 0);
    EXPECT_EQ(logsession_set_remove(nullptr, "a"), -1);
    EXPECT_EQ(logsession_set_sample(nullptr, "a"), nullptr);
    EXPECT_EQ(logsession_set_matches(nullptr, "x"), nullptr);
    EXPECT_EQ(logsession_set_matches(set_, "x"), nullptr) << "an empty set matches nothing";
    logsession_set_insert(nullptr, "x", 1);
    logsession_set_insert_binary(nullptr, nullptr);
    logsession_set_flush(nullptr);
    logsession_set_destroy(nullptr);
}

TEST_F(Sessions, SetInsertFiltersAndShortensPerSession)
{
    ASSERT_EQ(logsession_set_add(set_, "all", "", nullptr, 10, 100), 0);
    ASSERT_EQ(logsession_set_add(set_, "errors", "filter=error", nullptr, 10, 100), 0);
    ASSERT_EQ(logsession_set_add(set_, "short", "", nullptr, 10, 10), 0);
    insert_text(set_, "Error: twenty bytes\n");
    insert_text(set_, "fine\n");
    insert_text(set_, "ab\ncd error efghijk\n"); // cut at its line end, before the dots
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "all")),
              (std::vector<std::string>{"Error: twenty bytes\n", "fine\n", "ab\n"}));
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "errors")),
              (std::vector<std::string>{"Error: twenty bytes\n", "ab\n"}));
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "short")),
              (std::vector<std::string>{"Error:...", "fine\n", "ab\n"}));
}

TEST_F(Sessions, MatchesListTheTakingSessionsInTheOrderTheyWereAdded)
{
    for (const char *name : {"z", "y", "x", "w"})
        ASSERT_EQ(logsession_set_add(set_, name, std::string(name) == "y" ? "filter=!hit" : "", nullptr, 1, 10), 0);
    intarray *takers = logsession_set_matches(set_, "hit\n");
    ASSERT_NE(takers, nullptr);
    std::vector<std::string> names;
    for (int i = 0; intarray_get(takers, i) != nullptr; i++)
        names.emplace_back(static_cast<logsession_t *>(intarray_get(takers, i))->name);
    intarray_destroy(takers);
    EXPECT_EQ(names, (std::vector<std::string>{"z", "x", "w"}));
}

TEST_F(Sessions, StaleSessionsAreFlushedAfterAMinuteWithoutSample)
{
    const time_t saved = current_time;
    current_time = 1700000000;
    ASSERT_EQ(logsession_set_add(set_, "idle", "", nullptr, 1, 10), 0);
    ASSERT_EQ(logsession_set_add(set_, "watched", "", nullptr, 1, 10), 0);
    current_time += 60;
    take_entries(logsession_set_sample(set_, "watched"));
    logsession_set_flush(set_);
    EXPECT_EQ(logsession_set_get_count(set_), 2) << "60 seconds are not stale yet";
    current_time += 1;
    logsession_set_flush(set_);
    EXPECT_EQ(logsession_set_find(set_, "idle"), nullptr);
    EXPECT_NE(logsession_set_find(set_, "watched"), nullptr);
    EXPECT_EQ(logsession_set_get_count(set_), 1);
    current_time = saved;
}

struct HashCase {
    const char *name;
    unsigned long hash;
};

class NameHash : public ::testing::TestWithParam<HashCase> {};

TEST_P(NameHash, CombinesTheOuterBytes)
{
    EXPECT_EQ(logsession_hash_fn(GetParam().name), GetParam().hash) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Names, NameHash,
                         ::testing::Values(HashCase{"", 1}, HashCase{"a", 0x61}, HashCase{"ab", 0x61626162},
                                           HashCase{"abcd", 0x61626364}, HashCase{"session", 0x73656f6e},
                                           HashCase{"\xff", ~0UL}, HashCase{"a\xfe", ~0UL & ~0x01UL}));

// ---- Binary records -----------------------------------------------------

struct Record {
    int level;
    const char *text;
};

struct Query {
    int min_level;
    int style; // sessions of one style render alike
};

struct BinaryLog {
    static inline int renders = 0;
    static inline int frees = 0;

    static void free_query(void *data)
    {
        frees++;
        delete static_cast<Query *>(data);
    }
    static int match(void *query, void *record)
    {
        return static_cast<Record *>(record)->level >= static_cast<Query *>(query)->min_level ? 0 : 1;
    }
    static void render(char *out, int out_size, void *record, void *query)
    {
        renders++;
        auto *r = static_cast<Record *>(record);
        int style = query != nullptr ? static_cast<Query *>(query)->style : 0;
        std::snprintf(out, static_cast<size_t>(out_size), style == 0 ? "level %d: %s\n" : "<%d> %s\n", r->level,
                      r->text);
    }
    static int same_output(void *a, void *b, logsession_t *)
    {
        int style_a = a != nullptr ? static_cast<Query *>(a)->style : 0;
        int style_b = b != nullptr ? static_cast<Query *>(b)->style : 0;
        return style_a != style_b;
    }
};

class BinaryRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        BinaryLog::renders = 0;
        BinaryLog::frees = 0;
        set_ = logsession_set_create(1, BinaryLog::free_query, BinaryLog::match, BinaryLog::render,
                                     BinaryLog::same_output);
        ASSERT_NE(set_, nullptr);
    }
    void TearDown() override { logsession_set_destroy(set_); }

    void add(const char *name, const char *query, int min_level, int style, int buffer_size = 200)
    {
        ASSERT_EQ(logsession_set_add(set_, name, query, new Query{min_level, style}, 10, buffer_size), 0);
    }

    logsession_set_t *set_ = nullptr;
};

TEST_F(BinaryRecords, EachSessionGetsItsOwnRenderingOncePerStyle)
{
    add("plain1", "", 1, 0);
    add("plain2", "filter=disk", 1, 0);
    add("tagged", "", 5, 1);
    add("plain3", "", 1, 0);
    Record low{2, "disk full"};
    logsession_set_insert_binary(set_, &low);
    // plain1 renders, plain2 copies it, tagged is not asked (level too low),
    // plain3 copies again
    EXPECT_EQ(BinaryLog::renders, 1);
    Record high{7, "link down"};
    BinaryLog::renders = 0;
    logsession_set_insert_binary(set_, &high);
    // plain1 renders, plain2 copies, tagged renders its style, plain3 renders
    // again since it differs from the last rendering session
    EXPECT_EQ(BinaryLog::renders, 3);
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "plain1")),
              (std::vector<std::string>{"level 2: disk full\n", "level 7: link down\n"}));
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "plain2")), std::vector<std::string>{"level 2: disk full\n"});
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "tagged")), std::vector<std::string>{"<7> link down\n"});
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "plain3")).size(), 2u);
}

TEST_F(BinaryRecords, LongRenderingIsRenderedAgainWithinTheSessionSize)
{
    add("narrow", "", 0, 0, 12);
    Record r{1, "a rather long text"};
    logsession_set_insert_binary(set_, &r);
    EXPECT_EQ(take_entries(logsession_set_sample(set_, "narrow")), std::vector<std::string>{"level 1: a "});
}

TEST_F(BinaryRecords, MatchesNameTheTakersAndRemovalFreesQueryData)
{
    add("low", "", 1, 0);
    add("high", "", 9, 0);
    Record r{3, "x"};
    intarray *takers = logsession_set_matches_binary(set_, &r);
    ASSERT_NE(takers, nullptr);
    EXPECT_EQ(std::string(static_cast<logsession_t *>(intarray_get(takers, 0))->name), "low");
    EXPECT_EQ(intarray_get(takers, 1), nullptr);
    intarray_destroy(takers);
    EXPECT_EQ(logsession_set_remove(set_, "high"), 0);
    EXPECT_EQ(BinaryLog::frees, 1);
    auto *refused = new Query{0, 0};
    EXPECT_EQ(logsession_set_add(set_, "low", "", refused, 1, 10), -1);
    EXPECT_EQ(BinaryLog::frees, 1) << "a refused session's data stays the caller's";
    delete refused;
}

TEST(BinaryRecordsWithoutRenderer, TakeNothing)
{
    logsession_set_t *set = logsession_set_create(0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(logsession_set_add(set, "s", "", nullptr, 1, 10), 0);
    int record = 0;
    logsession_set_insert_binary(set, &record);
    EXPECT_EQ(logsession_set_matches_binary(set, &record), nullptr);
    EXPECT_TRUE(take_entries(logsession_set_sample(set, "s")).empty());
    logsession_set_destroy(set);
}

// ---- Arbitrary queries --------------------------------------------------

// Queries and entries made of filter words, expression syntax and odd bytes
// must never crash or leak, whatever compiles.
TEST(RandomQueries, BuildFiltersAndSessionsSafely)
{
    std::mt19937 rng(20240131);
    const std::vector<std::string> pieces = {"filter=", "filter=!", "!", " ", "  ", "(", ")", "[", "]", "|", "*",
                                             "+", "?", "{2}", "{", "\\", "^", "$", ".", "a", "B", "err", "\n",
                                             "\xff", "\x01", "[[:alpha:]]", "x=", "=", "filter"};
    qxlog_silent_mode = 1; // most of these expressions do not compile
    logsession_set_t *set = logsession_set_create(1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(set, nullptr);
    for (int round = 0; round < 1500; round++) {
        std::string query;
        std::uniform_int_distribution<size_t> length(0, 12), pick(0, pieces.size() - 1);
        for (size_t n = length(rng); n > 0; n--)
            query += pieces[pick(rng)];
        logsession_filter_free(logsession_filter_create(query.c_str(), "filter="));
        std::free(logsession_filter_string(query.c_str(), "filter=", "|"));
        std::string name = "s" + std::to_string(round % 7);
        logsession_set_remove(set, name.c_str());
        std::uniform_int_distribution<int> size(-2, 40);
        logsession_set_add(set, name.c_str(), query.c_str(), nullptr, size(rng), size(rng));
        insert_text(set, query);
        if (round % 5 == 0)
            take_entries(logsession_set_sample(set, name.c_str()));
    }
    EXPECT_LE(logsession_set_get_count(set), 7);
    logsession_set_destroy(set);
    qxlog_silent_mode = 0;
}

// ---- Sessions on the log channels -----------------------------------------

using log_files_test::LogFiles;
using log_files_test::contains;

class ChannelSessions : public LogFiles {};

TEST_F(ChannelSessions, ErrorSessionKeepsOnlyMatchingMessages)
{
    create_all();
    ASSERT_EQ(qxlog_logsession_create("qxd_error", "errors", "filter=error", 10, 1000), 0);
    qxlog_send(QXLOG_ERROR, "An ERROR here\n");
    qxlog_send(QXLOG_ERROR, "nothing to see\n");
    qxlog_send(QXLOG_ERROR, "%s again\n", "error");
    qxlog_send(QXLOG_MESSAGE, "error on another channel\n");
    EXPECT_EQ(take_entries(qxlog_logsession_sample("qxd_error", "errors")),
              (std::vector<std::string>{"An ERROR here\n", "error again\n"}));
    EXPECT_EQ(qxlog_logsession_destroy("qxd_error", "errors"), 0);
    EXPECT_EQ(qxlog_logsession_destroy("qxd_error", "errors"), 0) << "0 whether or not it existed";
    EXPECT_EQ(qxlog_logsession_sample("qxd_error", "errors"), nullptr);
}

TEST_F(ChannelSessions, UnknownLogNameIsRefusedSilently)
{
    create_all();
    testing::internal::CaptureStderr();
    for (const char *name : {"qxd_Error", "message", "", static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(qxlog_logsession_create(name, "s", "", 10, 100), -1);
        EXPECT_EQ(qxlog_logsession_sample(name, "s"), nullptr);
        EXPECT_EQ(qxlog_logsession_destroy(name, "s"), 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    flush(qxlog_error);
    EXPECT_TRUE(messages("e.log").empty());
}

TEST_F(ChannelSessions, DisabledAndMissingChannelsAreReported)
{
    create(&qxlog_error, "e.log");
    create(&qxlog_debug, "d.log", 1000000, 5, 0);
    EXPECT_EQ(qxlog_logsession_create("qxd_debug", "s", "", 10, 100), -1);
    EXPECT_EQ(qxlog_logsession_create("qxd_remoteadmin", "s", "", 10, 100), -1);
    EXPECT_EQ(qxlog_logsession_destroy("qxd_remoteadmin", "s"), 1);
    flush(qxlog_error);
    EXPECT_EQ(messages("e.log"), (std::vector<std::string>{"qxlog_create_session: log qxd_debug is disabled",
                                                          "qxlog_create_session: unknown log type 2"}));
}

// Building a session's filter logs on the debug channel (and on the error
// channel when the expression is bad) while the session joins that very
// channel's set.
TEST_F(ChannelSessions, DebugAndErrorChannelsTakeSessionsOfTheirOwn)
{
    create_all(true);
    ASSERT_EQ(qxlog_logsession_create("qxd_debug", "dbg", "filter=x", 10, 1000), 0);
    ASSERT_EQ(qxlog_logsession_create("qxd_error", "err", "filter=(", 10, 1000), 0);
    ASSERT_EQ(qxlog_logsession_create("qxd_debug", "dbg2", "filter=!y", 10, 1000), 0);
    EXPECT_EQ(logsession_set_find(qxlog_error->sessions, "err")->filter, nullptr) << "a bad expression filters nothing";
    flush(qxlog_error);
    flush(qxlog_debug);
    EXPECT_EQ(messages("e.log").size(), 1u);
    EXPECT_TRUE(contains(messages("d.log"), "Logsession: Parsing for token filter= from query filter=x"));
    EXPECT_TRUE(contains(messages("d.log"), "Logsession: Created match regular expression for regular exp (x)"));
    std::vector<std::string> dbg2 = take_entries(qxlog_logsession_sample("qxd_debug", "dbg2"));
    EXPECT_TRUE(dbg2.empty()) << "its own filter messages came before the session joined";
    qxlog_send(QXLOG_DEBUG, "x marks\n");
    qxlog_send(QXLOG_ERROR, "anything\n");
    EXPECT_EQ(take_entries(qxlog_logsession_sample("qxd_debug", "dbg")), std::vector<std::string>{"x marks\n"});
    EXPECT_EQ(take_entries(qxlog_logsession_sample("qxd_error", "err")), std::vector<std::string>{"anything\n"});
}

TEST_F(ChannelSessions, MaintenanceRemovesSessionsNotSampledForAMinute)
{
    create_all();
    start_maintenance();
    ASSERT_EQ(qxlog_logsession_create("qxd_message", "idle", "", 10, 100), 0);
    ASSERT_EQ(qxlog_logsession_create("qxd_message", "watched", "", 10, 100), 0);
    for (int minute = 0; minute < 2; minute++) {
        tick(60);
        take_entries(qxlog_logsession_sample("qxd_message", "watched"));
    }
    EXPECT_EQ(logsession_set_find(qxlog_message->sessions, "idle"), nullptr);
    EXPECT_NE(logsession_set_find(qxlog_message->sessions, "watched"), nullptr);
}

} // namespace
