#include "velmora/urllist_action.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "velmora/qxlog.h"
#include "velmora/qxtime.h"

namespace {

// Silences the messages that rejected or trimmed arguments produce.
class QuietLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = qxlog_silent_mode;
        qxlog_silent_mode = 1;
    }
    void TearDown() override { qxlog_silent_mode = saved_; }

private:
    int saved_ = 0;
};

struct Outcome {
    int result;
    std::string text;
};

// A result record holding one parsed action, released like the list does.
class Action {
public:
    Action(const char *word, const char *args)
    {
        data_.action = urllist_action_parse_action(word, args, &data_.action_data);
    }
    Action(const Action &) = delete;
    Action &operator=(const Action &) = delete;
    ~Action() { urllist_action_data_free(&data_); }

    URLLIST_ITEM_DATA *get() { return &data_; }
    UrlAction action() const { return data_.action; }

    std::string dump(size_t size = 1024) const
    {
        std::vector<char> buffer(size + 1, 'X');
        urllist_action_dump_action(&data_, buffer.data(), size);
        EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
        return buffer.data();
    }

    Outcome process(const char *url, cat_t *cat = nullptr) const
    {
        char *ret_url = nullptr;
        int result = urllist_action_process_action(&data_, cat, url, &ret_url, nullptr);
        Outcome out{result, ret_url != nullptr ? ret_url : ""};
        if (result != URLLIST_RESULT_URL) {
            EXPECT_EQ(ret_url, nullptr);
        }
        std::free(ret_url);
        return out;
    }

private:
    URLLIST_ITEM_DATA data_{};
};

// ---- parsing and short form ------------------------------------------------

struct RoundTrip {
    const char *word;
    const char *args;
    UrlAction action;
    const char *dump;
};

class ActionRoundTrip : public QuietLog, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(ActionRoundTrip, ParsesAndDumpsShortForm)
{
    const RoundTrip &c = GetParam();
    Action a(c.word, c.args);
    EXPECT_EQ(a.action(), c.action);
    EXPECT_EQ(a.dump(), c.dump);
}

const RoundTrip round_trips[] = {
    {"deny", nullptr, UA_DENY, "D"},
    {"Deny", "ignored", UA_DENY, "D"},
    {"D", nullptr, UA_DENY, "D"},
    {"allow", nullptr, UA_ALLOW, "A"},
    {"N", "caller text", UA_NONE, "N"},
    {"Category", "5,3,5", UA_CATEGORY, "C 3,5"},
    {"c", "7,", UA_CATEGORY, "C 7"},
    {"C", " 12,,4 rest", UA_CATEGORY, "C 4,12"},
    {"C", "-1", UA_CATEGORY, "C 4294967295"},
    {"Q", "+a=1 -b", UA_MODQUERY, "Q +a=1 -b"},
    {"Qa", "a=1", UA_MODQUERY, "Qa a=1"},
    {"QA", "a=1", UA_MODQUERY, "Q a=1"},
    {"q", "-b=2 c", UA_MODQUERY, "Q -b=2 c"},
    {"S", "a aa", UA_REPLACE, "S a aa"},
    {"s", "a  b", UA_REPLACE, "S a "},
    {"S", "x y z", UA_REPLACE, "S x y"},
    {"R", "^(.*)$ $1", UA_REGREPLACE, "R ^(.*)$ $1"},
    {"Rb", "^a(.*) $1 ignored", UA_REGREPLACE, "R ^a(.*) $1"},
    {"T", "hello world", UA_TEXT, "T hello world"},
    {"H", "X-A: 1", UA_HEADER, "H X-A: 1"},
    {"H", "5 abcde 5 fghij", UA_HEADER, "H 5 abcde 5 fghij"},
    {"H", "6 X-A: 1", UA_HEADER, "H X-A: 1"},
    {"H", "3 a b2 cd", UA_HEADER, "H 3 a b 2 cd"},
    {"H", "3abc4 defg", UA_HEADER, "H 3 abc 4 defg"},
    {"L", "12 more text", UA_LIST, "L 0xc"},
    {"list", "-5", UA_LIST, "L 0xfffffffffffffffb"},
    {"x", "anything", UA_UNKNOWN, "unknown"},
    {"", nullptr, UA_UNKNOWN, "unknown"},
    {nullptr, nullptr, UA_UNKNOWN, "unknown"},
};
INSTANTIATE_TEST_SUITE_P(Words, ActionRoundTrip, ::testing::ValuesIn(round_trips));

struct BadArgument {
    const char *word;
    const char *args;
};

class ActionBadArgument : public QuietLog, public ::testing::WithParamInterface<BadArgument> {};

TEST_P(ActionBadArgument, IsErrorWithoutData)
{
    void *data = reinterpret_cast<void *>(1);
    EXPECT_EQ(urllist_action_parse_action(GetParam().word, GetParam().args, &data), UA_ERROR);
    EXPECT_EQ(data, nullptr);
}

const BadArgument bad_arguments[] = {
    {"C", nullptr}, {"C", "word"}, {"C", ""}, {"C", ",,"},
    {"Q", nullptr}, {"Q", "a"}, {"Q", "a= +b="}, {"Q", "=x"}, {"Q", "-"},
    {"S", nullptr}, {"S", "nospace"},
    {"R", nullptr}, {"R", "nospace"}, {"R", "(unclosed $1"},
    {"T", nullptr}, {"T", ""},
    {"H", nullptr}, {"H", ""}, {"H", "5 abc"}, {"H", "3 abc 9 x"}, {"H", "2 ab -1 x"}, {"H", "3 abc  1 x"},
    {"H", "99999999999999999999999 x"},
    {"L", nullptr}, {"L", ""}, {"L", "12x"}, {"L", "abc"}, {"L", "99999999999999999999"},
};
INSTANTIATE_TEST_SUITE_P(Arguments, ActionBadArgument, ::testing::ValuesIn(bad_arguments));

TEST(ActionParse, NoneKeepsNoPointerIntoTheArgument)
{
    char line[] = "N text";
    void *data = line;
    EXPECT_EQ(urllist_action_parse_action("N", line + 2, &data), UA_NONE);
    EXPECT_EQ(data, nullptr);
}

TEST(ActionParse, CategoryNumbersAreSortedAndUnique)
{
    Action a("C", "30,10,20,10,5,30,1,2,3,4,6,7");
    ASSERT_EQ(a.action(), UA_CATEGORY);
    const auto *cat = static_cast<const cat_t *>(a.get()->action_data);
    EXPECT_EQ(std::vector<uint32_t>(cat->catnums, cat->catnums + cat->num),
              (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 10, 20, 30}));
}

TEST(ActionParse, QueryItemsCarryFlagsAndNames)
{
    Action a("Q", "+a=1 -b -c=3 +a=2 -d=");
    ASSERT_EQ(a.action(), UA_MODQUERY);
    const auto *q = static_cast<const QModData *>(a.get()->action_data);
    ASSERT_EQ(q->num, 5);
    struct Expect {
        int flags;
        std::string name;
        std::string complete;
    };
    const Expect expected[] = {{QMOD_SAME_NAME_FOLLOWS, "a", "a=1"},
                               {QMOD_REMOVE | QMOD_REMOVE_ANY, "b", "b"},
                               {QMOD_REMOVE, "c", "c=3"},
                               {0, "a", "a=2"},
                               {QMOD_REMOVE | QMOD_REMOVE_ANY, "d", "d="}};
    for (int i = 0; i < q->num; ++i) {
        const QModItem &item = q->items[i];
        EXPECT_EQ(item.flags, expected[i].flags) << i;
        EXPECT_EQ(std::string(item.name, static_cast<size_t>(item.name_len)), expected[i].name) << i;
        EXPECT_EQ(std::string(item.complete, static_cast<size_t>(item.complete_len)), expected[i].complete) << i;
    }
}

class ActionParseQuiet : public QuietLog {};

TEST_F(ActionParseQuiet, QueryModificationKeepsAtMost64Items)
{
    std::string args;
    for (int i = 0; i < 70; ++i)
        args += (i > 0 ? " " : "") + std::string("-p") + std::to_string(i);
    Action a("Q", args.c_str());
    ASSERT_EQ(a.action(), UA_MODQUERY);
    EXPECT_EQ(static_cast<const QModData *>(a.get()->action_data)->num, QMOD_MAX_ITEMS);
    std::string dump = a.dump(4096);
    EXPECT_NE(dump.find(" -p63"), std::string::npos);
    EXPECT_EQ(dump.find(" -p64"), std::string::npos);
}

TEST(ActionParse, HeaderBlockSizeCoversArgumentAndPointers)
{
    Action a("H", "5 abcde 5 fghij");
    ASSERT_EQ(a.action(), UA_HEADER);
    const auto *h = static_cast<const HdrData *>(a.get()->action_data);
    EXPECT_EQ(h->num, 2);
    EXPECT_EQ(h->size, static_cast<int>(15 + 3 * sizeof(char *) + 1));
    EXPECT_EQ(h->lines[2], nullptr);
}

TEST(ActionParse, RegexpSecondLetterSelectsPostprocessing)
{
    const std::pair<const char *, int> cases[] = {{"R", 0}, {"Rb", 'b'}, {"RU", 'u'}, {"regexp_replace", 'e'}};
    for (const auto &[word, post] : cases) {
        Action a(word, "^a $0");
        ASSERT_EQ(a.action(), UA_REGREPLACE) << word;
        EXPECT_EQ(static_cast<const RegRData *>(a.get()->action_data)->postprocess, post) << word;
    }
}

// ---- short form into small buffers ---------------------------------------

TEST(ActionDump, CategoriesStopAtTheLastNumberThatFits)
{
    Action a("C", "10,200,3000");
    const std::pair<size_t, const char *> cases[] = {{1, ""},          {2, "C"},         {3, "C "},
                                                     {5, "C "},        {6, "C 10"},      {14, "C 10,200"},
                                                     {15, "C 10,200,3000"}, {64, "C 10,200,3000"}};
    for (const auto &[size, expected] : cases)
        EXPECT_EQ(a.dump(size), expected) << size;
}

TEST(ActionDump, TextsAreCutToFit)
{
    Action q("Q", "+a=1 -b");
    EXPECT_EQ(q.dump(6), "Q +a=");
    Action h("H", "1 a 1 b");
    EXPECT_EQ(h.dump(7), "H 1 a ");
}

TEST(ActionDump, ValuesBeyondErrorWriteNothing)
{
    URLLIST_ITEM_DATA data{};
    data.action = static_cast<UrlAction>(12);
    char buffer[8] = "xxxxxxx";
    urllist_action_dump_action(&data, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

TEST(ActionName, NamesEveryActionAndUnknownBeyondList)
{
    const char *names[] = {"no_action",      "deny", "allow",  "category", "modify_query", "search_replace",
                           "regexp_replace", "text", "header", "list",     "unknown",      "unknown"};
    for (int i = 0; i <= UA_ERROR; ++i) {
        URLLIST_ITEM_DATA data{};
        data.action = static_cast<UrlAction>(i);
        EXPECT_STREQ(urllist_action_name(&data), names[i]) << i;
    }
}

// ---- carrying actions out ------------------------------------------------

struct Rewrite {
    const char *word;
    const char *args;
    const char *url;
    int result;
    const char *text;
};

class ActionRewrite : public QuietLog, public ::testing::WithParamInterface<Rewrite> {};

TEST_P(ActionRewrite, ProducesExpectedUrl)
{
    const Rewrite &c = GetParam();
    Action a(c.word, c.args);
    ASSERT_LT(a.action(), UA_UNKNOWN);
    Outcome out = a.process(c.url);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.text, c.text);
}

constexpr int URL = URLLIST_RESULT_URL;
constexpr int NONE = URLLIST_RESULT_NONE;

const Rewrite query_modifications[] = {
    {"Q", "+a=1 -b", "http://h/p?b=2&c=3", URL, "http://h/p?c=3&a=1"},
    {"Q", "+a=1 -b", "http://h/p?a=1&b=2", URL, "http://h/p?a=1"},
    {"Q", "+a=1 -b", "http://h/p", NONE, ""},
    {"Qa", "+a=1 -b", "http://h/p", URL, "http://h/p?a=1"},
    {"Q", "-b", "http://h/?b=1&b=2&c=3", URL, "http://h/?c=3"},
    {"Q", "-b=2", "http://h/?b=1&b=2&c=3", URL, "http://h/?b=1&c=3"},
    {"Q", "-b=", "http://h/?b=5", URL, "http://h/?"},
    {"Q", "+a=1 +a=2", "http://h/?a=2&a=3", URL, "http://h/?a=2&a=1"},
    {"Q", "+a=1 -a", "http://h/?a=1&a=2", URL, "http://h/?a=1"},
    {"Q", "-a=1 -a=2", "http://h/?a=1&a=3&a=2", URL, "http://h/?a=3"},
    {"Q", "-b", "http://h/?b=1", URL, "http://h/?"},
    {"Q", "-c", "http://h/?a=1&c=3", URL, "http://h/?a=1"},
    {"Q", "+a=1", "http://h/?x&a=1", URL, "http://h/?x&a=1&a=1"},
    {"Q", "+a=1", "http://h/?a=1", NONE, ""},
    {"Q", "+a=1", "http://h/?a=2", URL, "http://h/?a=1"},
    {"Q", "+a=1", "http://h/?", URL, "http://h/?a=1"},
    {"Q", "-b", "http://h/?a=1", NONE, ""},
    {"Q", "-B", "http://h/?b=1", NONE, ""},
    {"Q", "+a=1 +c", "http://h/?z=9", URL, "http://h/?z=9&a=1"},
};
INSTANTIATE_TEST_SUITE_P(QueryModify, ActionRewrite, ::testing::ValuesIn(query_modifications));

const Rewrite replacements[] = {
    {"S", "a aa", "aaa", URL, "aaaaaa"},
    {"S", "x y", "abc", NONE, ""},
    {"S", "b ", "abcb", URL, "ac"},
    {"S", " x", "a b", NONE, ""},
    {"S", "http: https:", "http://h/http:", URL, "https://h/https:"},
    {"R", "^(a+)b $1", "aaab", URL, "aaa"},
    {"R", "^(a+)b $2", "aaab", NONE, ""},
    {"R", "^(a+)b $2x", "aaab", URL, "x"},
    {"R", "^(.*)$ $1", "same", NONE, ""},
    {"R", "^(.*)$ $01", "same", NONE, ""},
    {"R", "x(y)? [$1]", "x", URL, "[]"},
    {"R", "^a $", "a", URL, "$"},
    {"R", "^a $99999999999999999999z", "a", URL, "z"},
    {"R", "^q nomatch", "a", NONE, ""},
    {"R", "^http://([^/]*)/(.*)$ https://$1/$2", "http://h/p?x", URL, "https://h/p?x"},
    {"R",
     "^(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)(q)(r)(s)$ $19$1",
     "abcdefghijklmnopqrs", URL, "sa"},
    {"Rb", "^.*/([^/]*)$ $1", "http://h/aGVsbG8=", URL, "hello"},
    {"RB", "^.*/([^/]*)$ $1", "http://h/aHR0cDovL3gv", URL, "http://x/"},
    {"Ru", "^.*/([^/]*)$ $1", "http://h/a%20b+c", URL, "a b c"},
    {"R", "^.*/([^/]*)$ $1", "http://h/aGVsbG8=", URL, "aGVsbG8="},
    {"regexp_replace", "^.*/([^/]*)$ $1", "http://h/a%20b", URL, "a%20b"},
    {"T", "http://blocked/", "http://any/", URL, "http://blocked/"},
};
INSTANTIATE_TEST_SUITE_P(Replace, ActionRewrite, ::testing::ValuesIn(replacements));

TEST(ActionProcess, PlainResultsByAction)
{
    const std::pair<const char *, int> cases[] = {{"D", URLLIST_RESULT_DENY},
                                                  {"A", URLLIST_RESULT_ALLOW},
                                                  {"N", URLLIST_RESULT_NONE}};
    for (const auto &[word, result] : cases) {
        Action a(word, nullptr);
        EXPECT_EQ(a.process("http://h/").result, result) << word;
    }
    Action list("L", "12");
    EXPECT_EQ(list.process("http://h/").result, URLLIST_RESULT_LIST);
    EXPECT_EQ(reinterpret_cast<intptr_t>(urllist_action_get_raw_data(list.get())), 12);
    URLLIST_ITEM_DATA bad{};
    for (UrlAction act : {UA_UNKNOWN, UA_ERROR}) {
        bad.action = act;
        EXPECT_EQ(urllist_action_process_action(&bad, nullptr, "u", nullptr, nullptr), URLLIST_RESULT_NONE);
    }
    EXPECT_EQ(urllist_action_process_action(nullptr, nullptr, "u", nullptr, nullptr), URLLIST_RESULT_NONE);
}

TEST(ActionProcess, MissingOutputsGiveNone)
{
    Action text("T", "x");
    Action snr("S", "a b");
    Action hdr("H", "X: y");
    EXPECT_EQ(urllist_action_process_action(text.get(), nullptr, "a", nullptr, nullptr), URLLIST_RESULT_NONE);
    EXPECT_EQ(urllist_action_process_action(snr.get(), nullptr, "a", nullptr, nullptr), URLLIST_RESULT_NONE);
    char *ret = nullptr;
    EXPECT_EQ(urllist_action_process_action(snr.get(), nullptr, nullptr, &ret, nullptr), URLLIST_RESULT_NONE);
    EXPECT_EQ(urllist_action_process_action(hdr.get(), nullptr, "a", &ret, nullptr), URLLIST_RESULT_NONE);
    EXPECT_EQ(ret, nullptr);
}

TEST(ActionProcess, CategoriesMergeIntoCallerSet)
{
    Action a("C", "5,3");
    EXPECT_EQ(a.process("u").result, URLLIST_RESULT_NONE);
    cat_t *cat = category_new();
    ASSERT_NE(cat, nullptr);
    ASSERT_EQ(category_add_number(cat, 4), 0);
    EXPECT_EQ(urllist_action_process_action(a.get(), cat, "u", nullptr, nullptr), URLLIST_RESULT_CATEGORY);
    EXPECT_EQ(std::vector<uint32_t>(cat->catnums, cat->catnums + cat->num), (std::vector<uint32_t>{3, 4, 5}));
    EXPECT_EQ(urllist_action_get_category(a.get(), cat), 1);
    EXPECT_EQ(cat->num, 3u);
    Action deny("D", nullptr);
    EXPECT_EQ(urllist_action_get_category(deny.get(), cat), 0);
    category_free(cat);
}

TEST(ActionProcess, HeadersComeAsOneBlock)
{
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"5 abcde 5 fghij", {"abcde", "fghij"}},
        {"X-A: 1 2", {"X-A: 1 2"}},
        {"3abc4 defg0", {"abc", "defg", ""}},
    };
    for (const auto &[args, expected] : cases) {
        Action a("H", args);
        char **block = nullptr;
        ASSERT_EQ(urllist_action_process_action(a.get(), nullptr, "u", nullptr, &block), URLLIST_RESULT_HEADER)
            << args;
        std::vector<std::string> got;
        for (char **p = block; *p != nullptr; ++p)
            got.emplace_back(*p);
        EXPECT_EQ(got, expected) << args;
        std::free(block);
    }
}

// ---- merging chains ------------------------------------------------------

TEST(ActionMerge, RegexpChainsAreTriedInLoadOrder)
{
    Action first("R", "^a(.*) A$1");
    Action second("R", "^b(.*) B$1");
    Action third("R", "^a(.*) never$1");
    ASSERT_EQ(urllist_action_append_action_data(first.get(), second.get()), 1);
    ASSERT_EQ(urllist_action_append_action_data(first.get(), third.get()), 1);
    EXPECT_EQ(second.get()->action_data, nullptr);
    EXPECT_EQ(third.get()->action_data, nullptr);
    EXPECT_EQ(first.process("ax").text, "Ax");
    EXPECT_EQ(first.process("bx").text, "Bx");
    EXPECT_EQ(first.process("cx").result, URLLIST_RESULT_NONE);
    EXPECT_EQ(first.dump(), "R ^a(.*) A$1");
}

TEST(ActionMerge, OtherActionsAreNotMerged)
{
    Action regexp("R", "^a(.*) A$1");
    Action deny("D", nullptr);
    Action snr("S", "a b");
    EXPECT_EQ(urllist_action_append_action_data(regexp.get(), deny.get()), 0);
    EXPECT_EQ(urllist_action_append_action_data(snr.get(), regexp.get()), 0);
    EXPECT_EQ(urllist_action_append_action_data(regexp.get(), regexp.get()), 0);
    EXPECT_NE(regexp.get()->action_data, nullptr);
    EXPECT_EQ(regexp.process("ax").text, "Ax");
}

// ---- expiry ---------------------------------------------------------------

TEST(ActionExpiry, ExpiresOnlyStrictlyBeforeCachedTime)
{
    const time_t saved = current_time;
    current_time = 1000;
    const std::pair<time_t, int> cases[] = {
        {0, 0}, {-5, 0}, {1, 1}, {999, 1}, {1000, 0}, {1001, 0},
        {(static_cast<time_t>(1) << 32) + 999, 1}, // the ttl counts as its low 32 bits
        {static_cast<time_t>(0xffffffff), 0},      // negative as 32 bits: never expires
    };
    for (const auto &[ttl, expired] : cases) {
        URLLIST_ITEM_DATA data{};
        data.ttl = ttl;
        EXPECT_EQ(urllist_action_expired(&data), expired) << ttl;
    }
    current_time = saved;
}

} // namespace
