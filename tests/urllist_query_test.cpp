#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "internal/exploded_url_caches.h"
#include "internal/urllist_store.h"
#include "urllist_test_support.h"
#include "velmora/qxtime.h"

using namespace urllist_test;

namespace {

std::vector<std::string> parse(const char *text, size_t *count = nullptr)
{
    std::string copy(text);
    size_t n = 99;
    char **elements = urllist_query_parse(copy.data(), &n);
    if (count != nullptr)
        *count = n;
    std::vector<std::string> out;
    for (char **p = elements; p != nullptr && *p != nullptr; p++)
        out.emplace_back(*p);
    std::free(elements);
    return out;
}

struct ParseCase {
    const char *text;
    std::vector<std::string> elements;
};

class UrllistQueryParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(UrllistQueryParse, SplitsAtAmpersandQuestionAndHashDroppingEmpties)
{
    size_t n = 0;
    EXPECT_EQ(parse(GetParam().text, &n), GetParam().elements);
    EXPECT_EQ(n, GetParam().elements.size());
}

INSTANTIATE_TEST_SUITE_P(Texts, UrllistQueryParse,
                         ::testing::Values(ParseCase{"a=1&b=2", {"a=1", "b=2"}},
                                           ParseCase{"a=1?b#c&&d", {"a=1", "b", "c", "d"}},
                                           ParseCase{"&&x&", {"x"}}, ParseCase{"", {}}, ParseCase{"&?#", {}},
                                           ParseCase{"u=http://x/y?z", {"u=http://x/y", "z"}}));

TEST(UrllistQueryParse, LastOfTheMostElementsKeepsTheRest)
{
    std::string text;
    for (int k = 0; k < 5003; k++)
        text += "e" + std::to_string(k) + "&";
    std::vector<std::string> elements = parse(text.c_str());
    ASSERT_EQ(elements.size(), 4999u);
    EXPECT_EQ(elements[4997], "e4997");
    EXPECT_EQ(elements[4998], "e4998&e4999&e5000&e5001&e5002&");
    EXPECT_EQ(urllist_query_parse(nullptr, nullptr), nullptr);
}

// ---- building patterns --------------------------------------------------------

using Item = std::unique_ptr<URLLIST_QUERY_ITEM, decltype(&urllist_terminate_query_item)>;

Item build(const char *text, int flags = 0)
{
    return Item(urllist_new_urllist_query_item(text, flags), urllist_terminate_query_item);
}

TEST(UrllistQueryItem, BareNamesAndFullElementsHashDifferently)
{
    Item item = build("a&a=&a=1&b=2=3");
    ASSERT_TRUE(item);
    ASSERT_EQ(item->queryelements, 4u);
    EXPECT_EQ(item->names, 2);
    EXPECT_EQ(item->querydata, nullptr);
    EXPECT_EQ(item->data, nullptr);
    for (int k : {0, 1}) {
        EXPECT_EQ(item->hash[k].city, hash_of("a"));
        EXPECT_EQ(item->name_hash[k].city, hash_of("a"));
    }
    EXPECT_EQ(item->hash[2].city, hash_of("a=1"));
    EXPECT_EQ(item->name_hash[2].city, hash_of("a"));
    EXPECT_EQ(item->hash[3].city, hash_of("b=2=3"));
    EXPECT_EQ(item->name_hash[3].city, hash_of("b"));
    EXPECT_EQ(item->flags & URLLIST_QUERY_DUPLICATES, 0);
}

struct BuildCase {
    const char *text;
    int flags;
    int expected_flags;
    std::vector<int64_t> hashes;
};

class UrllistQueryBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(UrllistQueryBuild, FlagsAndHashes)
{
    const BuildCase &c = GetParam();
    Item item = build(c.text, c.flags);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->flags, c.expected_flags);
    std::vector<int64_t> got;
    for (size_t k = 0; k < item->queryelements; k++)
        got.push_back(item->hash[k].city);
    EXPECT_EQ(got, c.hashes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UrllistQueryBuild,
    ::testing::Values(BuildCase{"a=1&a=1", 0, URLLIST_QUERY_DUPLICATES, {hash_of("a=1"), hash_of("a=1")}},
                      BuildCase{"A=1&B", URLLIST_EXPLODE_NOCASE, 0, {hash_of("a=1"), hash_of("b")}},
                      // Hash strings are read, not lower-cased or hashed.
                      BuildCase{"5b91f9d796555833&5B91F9D796555833", URLLIST_EXPLODE_HASHED | URLLIST_EXPLODE_NOCASE,
                                0, {0x33585596d7f9915bLL, 0x33585596d7f9915bLL}}));

TEST(UrllistQueryItem, NothingToBuild)
{
    EXPECT_FALSE(build("&&"));
    EXPECT_FALSE(build(nullptr));
    // A hash-string pattern's name hashes repeat the full hashes.
    Item hashed = build("5b91f9d796555833", URLLIST_EXPLODE_HASHED);
    EXPECT_EQ(hashed->name_hash[0].city, hashed->hash[0].city);
    EXPECT_EQ(hashed->names, 0);
}

// ---- storing and matching ------------------------------------------------------

class UrllistQueryIndex : public ::testing::Test {
protected:
    URLLIST_ITEM *node = urllist_new_urllist_item("n", UP_HOST, 0);
    ~UrllistQueryIndex() override { urllist_terminate_urllist_item(node); }

    URLLIST_QUERY_ITEM *add(const char *pattern, int flags = 0, URLLIST_ITEM *on = nullptr)
    {
        URLLIST_QUERY_ITEM *q = urllist_query_add(nullptr, pattern, on != nullptr ? on : node, flags);
        if (q != nullptr && q->data == nullptr) {
            q->data = deny();
            velmora::hold_record(q->data);
        }
        return q;
    }

    // The pattern matching the URL's query, or NULL.
    URLLIST_QUERY_ITEM *match(const char *query, int flags = 0, URLLIST_ITEM *on = nullptr)
    {
        std::string text = std::string("http://h.com/p?") + query;
        Record rec = url(text.c_str());
        on = on != nullptr ? on : node;
        if (flags & URLLIST_EXPLODE_NOCASE) {
            urllist_get_nocase_query_list(rec.get());
            return urllist_query_lookup(rec.get(), on->queryhead_nocase, flags, 0);
        }
        urllist_get_query_list(rec.get());
        return urllist_query_lookup(rec.get(), on->queryhead, flags, 0);
    }
};

TEST_F(UrllistQueryIndex, EqualElementSetsAreOnePattern)
{
    URLLIST_QUERY_ITEM *ab = add("a=1&b=2");
    EXPECT_EQ(add("b=2&a=1"), ab);
    URLLIST_QUERY_ITEM *a = add("a=1");
    EXPECT_NE(a, ab);
    EXPECT_NE(add("a=1&b=2&c=3"), ab);
    EXPECT_EQ(add("a"), add("a="));
    EXPECT_NE(add("a=1&a=1"), a);
    EXPECT_EQ(node->queryhead->items.size(), 5u);
}

TEST_F(UrllistQueryIndex, ElementListsPreferMoreElementsThenFewerBareNames)
{
    URLLIST_QUERY_ITEM *one = add("a=1");
    URLLIST_QUERY_ITEM *bare_two = add("a=1&b");
    URLLIST_QUERY_ITEM *three = add("a=1&c=3&d=4");
    URLLIST_QUERY_ITEM *full_two = add("a=1&b=2");
    URLLIST_QUERY_ITEM *later_full_two = add("a=1&e=5");
    const auto &list = node->queryhead->by_element.at(hash_of("a=1"));
    std::vector<URLLIST_QUERY_ITEM *> expected{three, full_two, later_full_two, bare_two, one};
    EXPECT_EQ(list, expected);
}

struct MatchCase {
    std::vector<const char *> patterns;
    const char *query;
    int expected; // index of the matching pattern, -1 for none
};

class UrllistQueryMatch : public UrllistQueryIndex, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(UrllistQueryMatch, FindsTheFirstSatisfiedPattern)
{
    std::vector<URLLIST_QUERY_ITEM *> items;
    for (const char *p : GetParam().patterns)
        items.push_back(add(p));
    URLLIST_QUERY_ITEM *want = GetParam().expected >= 0 ? items[static_cast<size_t>(GetParam().expected)] : nullptr;
    EXPECT_EQ(match(GetParam().query), want) << GetParam().query;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrllistQueryMatch,
    ::testing::Values(MatchCase{{"a=1"}, "a=1&x=2", 0}, MatchCase{{"a"}, "x=2&a=1", 0},
                      MatchCase{{"a"}, "a", 0}, MatchCase{{"a"}, "a=", 0}, MatchCase{{"a=2"}, "a=1&x=2", -1},
                      MatchCase{{"a=1&b=2"}, "a=1&x=2", -1}, MatchCase{{"a=1&b=2"}, "b=2&z&a=1", 0},
                      MatchCase{{"a=1&a=1"}, "a=1&a=1", 0}, MatchCase{{"a=1&a=1"}, "a=1", -1},
                      MatchCase{{"a=1&a=1"}, "a=1&b=1", -1}, MatchCase{{"x"}, "xy=1", -1},
                      // The URL's earlier element decides between two matches.
                      MatchCase{{"b=2", "a=1"}, "a=1&b=2", 1}, MatchCase{{"b=2", "a=1"}, "b=2&a=1", 0},
                      // Under one element the pattern with more elements wins.
                      MatchCase{{"a=1", "a=1&b=2"}, "a=1&b=2", 1},
                      // A full element is preferred; the bare name answers otherwise.
                      MatchCase{{"a", "a=1"}, "a=1", 1}, MatchCase{{"a", "a=1"}, "a=7", 0},
                      MatchCase{{"a", "b=1&a=2"}, "a=2&b=1", 1}));

TEST_F(UrllistQueryIndex, ExpiredPatternsArePassedOver)
{
    time_t saved = current_time;
    current_time = 1000;
    URLLIST_QUERY_ITEM *both = add("a=1&b=2");
    URLLIST_QUERY_ITEM *one = add("a=1");
    both->data->ttl = 1000; // expires when the time reaches it
    EXPECT_EQ(match("a=1&b=2"), one);
    both->data->ttl = 1001;
    EXPECT_EQ(match("a=1&b=2"), both);
    both->data->ttl = 0;
    EXPECT_EQ(match("a=1&b=2"), both);
    current_time = saved;
}

TEST_F(UrllistQueryIndex, CaseInsensitivePatternsUseLowerCasedElements)
{
    URLLIST_QUERY_ITEM *q = add("Name=Value", URLLIST_EXPLODE_NOCASE);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(q->flags & URLLIST_QUERY_NOCASE);
    EXPECT_EQ(node->queryhead, nullptr);
    EXPECT_EQ(match("NAME=VALUE&x=1", URLLIST_EXPLODE_NOCASE), q);
    EXPECT_EQ(match("name=other", URLLIST_EXPLODE_NOCASE), nullptr);
}

TEST_F(UrllistQueryIndex, AnchoredEntryIsMarked)
{
    Record rec = entry("http://h.com/p#frag");
    ASSERT_NE(rec->anchor, nullptr);
    URLLIST_QUERY_ITEM *q = urllist_query_add(rec.get(), "frag", node, 0);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(q->flags & URLLIST_QUERY_ANCHORED);
    // The duplicate check leaves the entry's own query lists as they were.
    EXPECT_EQ(rec->query_hash_list, nullptr);
    EXPECT_EQ(rec->query_tree, nullptr);
    EXPECT_EQ(rec->queryelements, 0u);
}

TEST_F(UrllistQueryIndex, CopiesShareRecordsAndMatchAlike)
{
    URLLIST_QUERY_ITEM *first = add("a=1&b");
    URLLIST_QUERY_ITEM *second = add("a=1&c=2");
    URLLIST_QUERY_ITEM *nocase = add("K=V", URLLIST_EXPLODE_NOCASE);
    URLLIST_ITEM *copy = urllist_new_urllist_item("m", UP_HOST, 0);
    ASSERT_EQ(urllist_clone_urllist_item_query(node, copy), 0);
    EXPECT_EQ(first->data->refcount, 2u);
    EXPECT_EQ(nocase->data->refcount, 2u);
    ASSERT_EQ(copy->queryhead->items.size(), 2u);
    for (const char *query : {"a=1&b=9", "c=2&a=1", "a=1"})
        EXPECT_EQ(match(query, 0, copy) != nullptr ? match(query, 0, copy)->data : nullptr,
                  match(query) != nullptr ? match(query)->data : nullptr)
            << query;
    EXPECT_EQ(match("k=v", URLLIST_EXPLODE_NOCASE, copy)->data, nocase->data);
    EXPECT_EQ(match("a=1&b&c=2", 0, copy)->data, second->data); // same preference as the original
    EXPECT_EQ(match("a=1&b&c=2")->data, second->data);
    urllist_terminate_urllist_item(copy);
    EXPECT_EQ(first->data->refcount, 1u);
}

// ---- the URL's element lists ---------------------------------------------------

TEST(UrllistQueryUrlLists, BuiltOnceWithFullAndNameHashes)
{
    Record rec = url("http://h.com/p?A=1&b&&c=X=Y");
    char **list = urllist_get_query_list(rec.get());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(urllist_get_query_list(rec.get()), list);
    ASSERT_EQ(rec->queryelements, 3u);
    EXPECT_STREQ(list[0], "A=1");
    EXPECT_STREQ(list[2], "c=X=Y");
    EXPECT_EQ(list[3], nullptr);
    EXPECT_EQ(rec->query_hash_list[0].city, hash_of("A=1"));
    EXPECT_EQ(rec->query_name_hash_list[0].city, hash_of("A"));
    EXPECT_EQ(rec->query_name_hash_list[1].city, hash_of("b"));
    EXPECT_EQ(rec->query_name_hash_list[2].city, hash_of("c"));
    EXPECT_STREQ(rec->query->item, "A=1&b&&c=X=Y"); // the token keeps its text

    char **lower = urllist_get_nocase_query_list(rec.get());
    ASSERT_NE(lower, nullptr);
    EXPECT_STREQ(lower[0], "a=1");
    EXPECT_STREQ(lower[2], "c=x=y");
    EXPECT_EQ(rec->query_hash_list_nocase[2].city, hash_of("c=x=y"));
    EXPECT_EQ(rec->query_name_hash_list_nocase[0].city, hash_of("a"));

    Record none = url("http://h.com/p");
    EXPECT_EQ(urllist_get_query_list(none.get()), nullptr);
    EXPECT_EQ(urllist_get_nocase_query_list(none.get()), nullptr);
    EXPECT_EQ(urllist_query_lookup(none.get(), nullptr, 0, 0), nullptr);
}

TEST(UrllistQueryOrder, IndexComparatorOrdersGreaterFirst)
{
    int64_t small = -5, big = 7;
    EXPECT_EQ(urllist_query_cmp(&big, &small), -1);
    EXPECT_EQ(urllist_query_cmp(&small, &big), 1);
    EXPECT_EQ(urllist_query_cmp(&big, &big), 0);
    EXPECT_EQ(urllist_query_item_compare(&big, &small), 0);
}

} // namespace
