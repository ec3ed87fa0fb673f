// Loading list entries: line forms and hints, result codes and messages,
// counters, buffers in pieces, records and callbacks, and the placement of
// address entries in the IP lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal/urllist_store.h"
#include "velmora/urllist.h"

namespace {

std::string short_form(const URLLIST_ITEM_DATA *data)
{
    char text[256];
    urllist_action_dump_action(data, text, sizeof text);
    return text;
}

// The short form of the entry answering url, or "" when none does.
std::string answer(URLLIST *l, const char *url)
{
    URLLIST_EXPLODED_URL *u = urllist_explode_charset(url, nullptr, 1, 0, nullptr);
    if (u == nullptr)
        return "bad url";
    URLLIST_ITEM_DATA *data = nullptr;
    std::string result = urllist_lookup_data(l, u, &data) == 0 ? short_form(data) : "";
    urllist_free_urllist_exploded_url(u);
    return result;
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override { l = urllist_initialize(0); }
    void TearDown() override { urllist_terminate(l); }

    int line(const char *text, int hint = 0)
    {
        std::string copy = text;
        return urllist_add_line(l, copy.data(), hint);
    }

    URLLIST *l = nullptr;
};

struct HintCase {
    const char *line;
    int hint;
    const char *answer; // short form of what http://h.com/ finds; "" none
};

class LineHints : public LoadTest, public ::testing::WithParamInterface<HintCase> {};

TEST_P(LineHints, AddsWhatTheHintSelects)
{
    EXPECT_EQ(line(GetParam().line, GetParam().hint), 0);
    EXPECT_EQ(answer(l, "http://h.com/"), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Forms, LineHints,
                         ::testing::Values(
                             // URL and a category list or flag
                             HintCase{"http://h.com 5,3", 0, "C 3,5"}, HintCase{"http://h.com 5", 1, "D"},
                             HintCase{"http://h.com 5", 2, "A"}, HintCase{"http://h.com 1", 3, "A"},
                             HintCase{"http://h.com 0", 3, "D"}, HintCase{"http://h.com 5", 4, "C 5"},
                             HintCase{"http://h.com 5", 5, "C 5"}, HintCase{"http://h.com 5", 9, "C 5"},
                             // URL, an unused number, categories or flag
                             HintCase{"http://h.com 77 1", 3, "A"}, HintCase{"http://h.com 77 4,2", 0, "C 2,4"},
                             // URL, type, action
                             HintCase{"http://h.com U D", 0, "D"}, HintCase{"http://h.com U T x", 1, "D"},
                             HintCase{"http://h.com U D", 2, "A"}, HintCase{"http://h.com U A", 3, "A"},
                             HintCase{"http://h.com U N", 3, ""}, HintCase{"http://h.com U D", 4, ""},
                             HintCase{"http://h.com U D", 5, "D"},
                             // two spaces: an empty type
                             HintCase{"http://h.com  D", 0, "D"},
                             // URL, type, action, argument
                             HintCase{"http://h.com U T x", 0, "T x"}, HintCase{"http://h.com U T x", 2, "A"},
                             HintCase{"http://h.com U T x", 3, ""}, HintCase{"http://h.com U D x", 3, "D"},
                             HintCase{"http://h.com U T x", 4, ""}, HintCase{"http://h.com U C 8", 4, "C 8"},
                             HintCase{"http://h.com U T two words", 0, "T two words"},
                             // one field, or a failing entry: nothing, and still 0
                             HintCase{"http://h.com", 0, ""}, HintCase{"http://h.com U T", 0, ""},
                             HintCase{"http://h.com U Z", 0, ""}));

struct CodeCase {
    const char *url;
    const char *type;
    const char *action;
    const char *args;
    int code;
};

class AddCodes : public LoadTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(AddCodes, ResultOfOneEntry)
{
    const CodeCase &c = GetParam();
    EXPECT_EQ(urllist_add(l, c.url, c.type, c.action, c.args, -1), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, AddCodes,
    ::testing::Values(CodeCase{"http://h.com", "U", "D", nullptr, 0}, CodeCase{nullptr, "U", "D", nullptr, -1},
                      CodeCase{"http://h.com", "U", nullptr, nullptr, -1},
                      CodeCase{"http:///path", "U", "D", nullptr, -3}, CodeCase{"zz11", "D", "D", nullptr, -3},
                      CodeCase{"(", "R", "D", nullptr, -5}, CodeCase{"x", "X", "D", nullptr, -6},
                      CodeCase{"x", "a", "D", nullptr, -6}, CodeCase{".", "E", "D", nullptr, -7},
                      CodeCase{"+", "k", "D", nullptr, -8}, CodeCase{"http://h.com", "U", "Z", nullptr, -9},
                      CodeCase{"http://h.com", "U", "C", "x", -9}, CodeCase{"bogus", "T", "D", nullptr, -9},
                      CodeCase{"virus", "T", "D", nullptr, 0}, CodeCase{"abcdef", "D", "D", nullptr, 0}));

TEST_F(LoadTest, NullListIsRefused)
{
    EXPECT_EQ(urllist_add(nullptr, "x", nullptr, "D", nullptr, -1), -1);
    EXPECT_EQ(urllist_add_file(nullptr, "/dev/null", 0), -1);
    EXPECT_EQ(urllist_add_file(l, "/nonexistent/velmora/list", 0), -4);
}

TEST_F(LoadTest, FailuresAreReportedOnTheErrorChannel)
{
    struct Report {
        const char *line;
        const char *message;
    } reports[] = {
        {"http://h.com U Z", "urllist_add: failed to add url 'http://h.com' unknown action 'Z'\n"},
        {"http://h.com U C x", "urllist_add: failed to add url 'http://h.com' bad action argument 'x' for action 'C'\n"},
        {"http://h.com U T", "urllist_add: failed to add url 'http://h.com' bad action argument '' for action 'T'\n"},
        {"( R D", "urllist_add: failed to add url '('\n"},
        {"word K D", "urllist_add: Duplicate keyword entry 'word'\n"},
        {"http:///p x", "urllist_add_file: failed to add url 'http:///p' with categories 'x'\n"},
        {"( R D", "urllist_add_file: failed to add item '(' type: 'R' action: 'D'\n"},
        {"( R T x", "urllist_add_file: failed to add item '(' type: 'R' action: 'T x'\n"},
    };
    line("word K D");
    for (const Report &r : reports) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(line(r.line), 0);
        std::string out = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(out.find(r.message), std::string::npos) << r.line << " gave: " << out;
    }
}

TEST_F(LoadTest, CountersCountAttemptsAndSuccesses)
{
    const char *lines[] = {
        "http://a.com U D", "http:///x U D", "ftp S D",  "/p/ P D",  "?q=1 Q D", "/r/ R D",    "( R D",
        "exe E D",          "kw K D",        "kw K D",   "a+b k D",  "wd W D",   "c+d w D",    "abcd D D",
        "policy T D",       "policy T D",    "nope T D", "x N D",    "x X D",
    };
    for (const char *text : lines)
        line(text);
    struct Pair {
        int URLLIST::*loaded;
        int URLLIST::*total;
        int loaded_n, total_n;
    } pairs[] = {
        {&URLLIST::loaded_count, &URLLIST::total_count, 13, 19},
        {&URLLIST::loaded_url_count, &URLLIST::total_url_count, 1, 2},
        {&URLLIST::loaded_scheme_count, &URLLIST::total_scheme_count, 1, 1},
        {&URLLIST::loaded_path_count, &URLLIST::total_path_count, 1, 1},
        {&URLLIST::loaded_query_count, &URLLIST::total_query_count, 1, 1},
        {&URLLIST::loaded_regexp_count, &URLLIST::total_regexp_count, 1, 2},
        {&URLLIST::loaded_ext_count, &URLLIST::total_ext_count, 1, 1},
        {&URLLIST::loaded_keyword_count, &URLLIST::total_keyword_count, 1, 2},
        {&URLLIST::loaded_multi_keyword_count, &URLLIST::total_multi_keyword_count, 1, 1},
        {&URLLIST::loaded_word_count, &URLLIST::total_word_count, 1, 1},
        {&URLLIST::loaded_multi_word_count, &URLLIST::total_multi_word_count, 1, 1},
        {&URLLIST::loaded_digest_count, &URLLIST::total_digest_count, 1, 1},
        {&URLLIST::loaded_eventtype_count, &URLLIST::total_eventtype_count, 1, 3},
    };
    for (const Pair &p : pairs) {
        EXPECT_EQ(l->*p.loaded, p.loaded_n);
        EXPECT_EQ(l->*p.total, p.total_n);
    }
}

TEST_F(LoadTest, BufferPiecesLoadEachLineOnceWhenItsLineFeedArrives)
{
    char *buffer = nullptr;
    int size = 0;
    const char *pieces[] = {"http://one.com U T o", "ne\n# comment\n\nhttp://tw", "o.com U T two\r\nhttp://three.com U T three"};
    for (const char *piece : pieces)
        ASSERT_EQ(urllist_add_buffer(l, piece, &buffer, &size, 0), 0);
    EXPECT_STREQ(buffer, "http://three.com U T three");
    EXPECT_GE(size, static_cast<int>(std::strlen(buffer)));
    EXPECT_EQ(l->total_count, 2);
    EXPECT_EQ(answer(l, "http://one.com/"), "T one");
    EXPECT_EQ(answer(l, "http://two.com/"), "T two\r"); // a carriage return stays in the line
    EXPECT_EQ(answer(l, "http://three.com/"), "");
    ASSERT_EQ(urllist_add_buffer(l, "\n", &buffer, &size, 0), 0);
    EXPECT_EQ(answer(l, "http://three.com/"), "T three");
    EXPECT_STREQ(buffer, "");
    std::free(buffer);
}

TEST_F(LoadTest, DataEntriesKeepTheCallersPointerAndNoneKeepsNoLineText)
{
    int mine = 0;
    ASSERT_EQ(urllist_add_data(l, "http://d.com", "U", &mine, -1), 0);
    URLLIST_EXPLODED_URL *u = urllist_explode_charset("http://d.com/", nullptr, 1, 0, nullptr);
    URLLIST_ITEM_DATA *found = nullptr;
    ASSERT_EQ(urllist_lookup_data(l, u, &found), 0);
    EXPECT_EQ(found->action, UA_NONE);
    EXPECT_EQ(found->action_data, &mine);
    urllist_free_urllist_exploded_url(u);

    EXPECT_EQ(line("http://n.com U N leftover"), 0);
    u = urllist_explode_charset("http://n.com/", nullptr, 1, 0, nullptr);
    ASSERT_EQ(urllist_lookup_data(l, u, &found), 0);
    EXPECT_EQ(found->action, UA_NONE);
    EXPECT_EQ(found->action_data, nullptr);
    urllist_free_urllist_exploded_url(u);
}

TEST_F(LoadTest, CategoryEntriesHoldTheirOwnCopy)
{
    cat_t *cats = category_new();
    for (uint32_t n : {30u, 10u, 20u})
        category_add_number(cats, n);
    ASSERT_EQ(urllist_add_category(l, "http://c.com", nullptr, cats, -1, nullptr), 0);
    category_add_number(cats, 40);
    ASSERT_EQ(urllist_add_category(l, "http://empty.com", nullptr, nullptr, -1, nullptr), 0);
    EXPECT_EQ(answer(l, "http://c.com/"), "C 10,20,30");
    EXPECT_EQ(answer(l, "http://empty.com/"), "C ");
    category_free(cats);
}

TEST_F(LoadTest, RegularExpressionDelimitersAndCase)
{
    struct Case {
        const char *entry;
        const char *subject;
        bool match;
    } cases[] = {
        {"/ab+c/ R D", "xabbbc", true}, {"|a.c| R D", "abc", true},   {"'^x$' R D", "x", true},
        {"/a/ R D", "/a/", true},       {"/a/ R D", "a", false},      {"/ABC/ Rc D", "abc", true},
        {"/ABC/ R D", "abc", false},    {"/ABC/ Rp D", "abc", true}, // any modifier folds case
    };
    for (const Case &c : cases) {
        URLLIST *list = urllist_initialize(0);
        std::string text = c.entry;
        ASSERT_EQ(urllist_add_line(list, text.data(), 0), 0);
        ASSERT_EQ(list->loaded_regexp_count, 1) << c.entry;
        char *lowered = nullptr;
        EXPECT_EQ(urllist_lookup_string_data(list, c.subject, &lowered, nullptr) == 0, c.match) << c.entry;
        std::free(lowered);
        urllist_terminate(list);
    }
}

TEST_F(LoadTest, LongDigestIsCutTo254Bytes)
{
    std::string hex(600, 'a');
    ASSERT_EQ(urllist_add(l, hex.c_str(), "D", "D", nullptr, -1), 0);
    ASSERT_NE(l->digest_list, nullptr);
    ASSERT_EQ(l->digest_list->entries.size(), 1u);
    const unsigned char *key = l->digest_list->entries.begin()->first;
    EXPECT_EQ(key[0], 254);
    EXPECT_EQ(key[254], 0xaa);
    // The same digest again keeps the first entry.
    EXPECT_EQ(urllist_add(l, hex.c_str(), "D", "A", nullptr, -1), 0);
    EXPECT_EQ(short_form(l->digest_list->entries.begin()->second), "D");
}

TEST_F(LoadTest, FirstEventTypeAndFirstKeywordStayLastDefaultWins)
{
    EXPECT_EQ(line("virus T T first"), 0);
    EXPECT_EQ(line("VIRUSES T T second"), 0);
    EXPECT_EQ(line("word K T first"), 0);
    EXPECT_EQ(line("word K T second"), 0);
    EXPECT_EQ(line("x N T first"), 0);
    EXPECT_EQ(line("y N T second"), 0);
    URLLIST_ITEM_DATA *data = nullptr;
    char *text = nullptr;
    ASSERT_EQ(urllist_lookup_num_diag(l, 3, &data, &text), 0);
    EXPECT_EQ(short_form(data), "T first");
    EXPECT_STREQ(text, "virus");
    std::free(text);
    EXPECT_EQ(answer(l, "http://h.com/word"), "T first");
    EXPECT_EQ(answer(l, "http://h.com/"), "T second");
}

TEST_F(LoadTest, SchemeEntryWithAndWithoutSeparator)
{
    EXPECT_EQ(line("gopher S T bare"), 0);
    EXPECT_EQ(line("news:// S T whole"), 0);
    EXPECT_EQ(answer(l, "gopher://x.org/a"), "T bare");
    EXPECT_EQ(answer(l, "news://y.org/"), "T whole");
    EXPECT_EQ(answer(l, "http://x.org/"), "");
}

TEST_F(LoadTest, UntypedEntriesAreClassifiedByText)
{
    EXPECT_EQ(urllist_add(l, "|bad.*thing|", nullptr, "T", "re", -1), 0);
    EXPECT_EQ(urllist_add(l, "http://u.com", nullptr, "T", "url", -1), 0);
    EXPECT_EQ(urllist_add(l, "kwd", nullptr, "T", "kw", -1), 0);
    EXPECT_EQ(urllist_add(l, ".zip", nullptr, "T", "ext", -1), 0);
    EXPECT_EQ(l->loaded_regexp_count, 1);
    EXPECT_EQ(l->loaded_url_count, 1);
    EXPECT_EQ(l->loaded_keyword_count, 1);
    EXPECT_EQ(l->loaded_ext_count, 1);
    EXPECT_EQ(answer(l, "http://o.com/a.zip"), "T ext");
}

struct CallbackLog {
    int host_entries = 0;
    std::vector<URLLIST_ITEM_DATA *> records;
    int answer = 0;
};

TEST_F(LoadTest, CallbacksSeeHostEntriesAndKeptRecords)
{
    CallbackLog log;
    urllist_set_addcallback(
        l, [](void *d, URLLIST_EXPLODED_URL *) { static_cast<CallbackLog *>(d)->host_entries++; }, &log);
    urllist_set_add_action_callback(
        l,
        [](void *d, URLLIST_ITEM_DATA *data) {
            auto *log = static_cast<CallbackLog *>(d);
            log->records.push_back(data);
            return log->answer;
        },
        &log);
    EXPECT_EQ(line("http://cb.com U D"), 0);
    EXPECT_EQ(line("kw K D"), 0);
    // The same entry with a merging action: the new record is merged into
    // the stored one and released; the callback does not see it.
    EXPECT_EQ(urllist_add(l, "http://re.com", "U", "R", "a b", -1), 0);
    EXPECT_EQ(urllist_add(l, "http://re.com", "U", "R", "c d", -1), 0);
    EXPECT_EQ(log.host_entries, 3);
    EXPECT_EQ(log.records.size(), 3u);
    log.answer = -1;
    EXPECT_EQ(urllist_add(l, "http://refused.com", "U", "D", nullptr, -1), -2);
    EXPECT_EQ(answer(l, "http://refused.com/"), "D"); // the entry stays
}

// Address entries: where they land in the IP lists.
TEST_F(LoadTest, AddressRangeBecomesNetworksOfItsScheme)
{
    ASSERT_EQ(line("http://10.0.0.0-10.0.0.255 U D"), 0);
    ASSERT_EQ(line("[2001:db8::ff-2001:db8::] U D"), 0);
    char key[41];
    myhash_t http{};
    urllist_hash("http", 4, &http);
    urllist_hash2str(&http, key, sizeof key);
    iphead *list = velmora::find_scheme_iplist(l, key);
    ASSERT_NE(list, nullptr);
    qx_ipaddr net{};
    ASSERT_EQ(qxnet_aton("10.0.0.0", &net), 0);
    auto *node = static_cast<URLLIST_ITEM *>(iplist_find_exact_data(list, &net, 24));
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->item, "10.0.0.0-10.0.0.255");
    EXPECT_EQ(iplist_find_exact_data(list, &net, 32), nullptr);

    ASSERT_NE(l->wildcard_iplist, nullptr);
    ASSERT_EQ(qxnet_aton("2001:db8::", &net), 0);
    node = static_cast<URLLIST_ITEM *>(iplist_find_exact_data(l->wildcard_iplist, &net, 120));
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->item, "[2001:db8::ff-2001:db8::]");
}

TEST_F(LoadTest, HostThatOnlyLooksLikeARangeIsAName)
{
    ASSERT_EQ(line("http://1.2.3.4-1.2.3.999 U T name"), 0);
    EXPECT_EQ(l->iplists, nullptr);
    EXPECT_EQ(l->loaded_url_count, 1);
}

} // namespace
