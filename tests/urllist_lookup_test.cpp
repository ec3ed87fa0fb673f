// URL lookup: the two expiry rules, the default entry, text and event
// lookups, category merging, the host-only variants, the limit of pending
// alternatives, and lookups running while another thread loads entries.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "velmora/qxtime.h"
#include "velmora/urllist.h"

namespace {

std::string short_form(const URLLIST_ITEM_DATA *data)
{
    char text[256];
    urllist_action_dump_action(data, text, sizeof text);
    return text;
}

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_time = current_time;
        current_time = now;
        l = urllist_initialize(0);
    }
    void TearDown() override
    {
        urllist_terminate(l);
        current_time = saved_time;
    }

    void add(const char *url, const char *type, const char *label, int32_t ttl = -1)
    {
        ASSERT_EQ(urllist_add(l, url, type, "T", label, ttl), 0) << url;
    }

    // "action|entry text" of the diagnostic lookup, or "" when nothing matched.
    std::string diag(const char *url, bool host_only = false)
    {
        URLLIST_EXPLODED_URL *u = urllist_explode_charset(url, nullptr, 1, 0, nullptr);
        if (u == nullptr)
            return "bad url";
        URLLIST_ITEM_DATA *data = nullptr;
        char *text = nullptr;
        int rc = host_only ? urllist_lookup_diag_urlonly(l, u, &data, &text) : urllist_lookup_diag(l, u, &data, &text);
        std::string result = rc == 0 ? short_form(data) + "|" + (text != nullptr ? text : "(null)") : "";
        std::free(text);
        urllist_free_urllist_exploded_url(u);
        return result;
    }

    static constexpr time_t now = 1700000000;
    time_t saved_time = 0;
    URLLIST *l = nullptr;
};

// Tree entries (nodes, query patterns, regular expressions) expire when their
// time is reached; keyword, extension and digest entries one second later.
TEST_F(LookupTest, ExpiryRulesOfTheEntryKinds)
{
    const int32_t at_now = static_cast<int32_t>(now);
    add("http://exp.com", "U", "host");
    add("http://exp.com/deep", "U", "deep", at_now);
    add("http://exp.com/q?a=1", "U", "query", at_now);
    add("/stale[0-9]/", "R", "re_stale", at_now);
    add("/stale/", "R", "re_fresh");
    add("kwnow", "K", "kw", at_now);
    add("kwold", "K", "kw_old", at_now - 1);
    add("nowext", "E", "ext", at_now);
    add("any", "N", "default");

    EXPECT_EQ(diag("http://exp.com/deep"), "T host|http://exp.com");
    EXPECT_EQ(diag("http://exp.com/q?a=1"), "T host|http://exp.com");
    EXPECT_EQ(diag("http://x.com/stale1"), "T re_fresh|/stale/");
    EXPECT_EQ(diag("http://x.com/kwnow"), "T kw|kwnow");
    EXPECT_EQ(diag("http://x.com/kwold"), "T default|*");
    EXPECT_EQ(diag("http://x.com/a.nowext"), "T ext|nowext");
    current_time = now + 1;
    EXPECT_EQ(diag("http://x.com/kwnow"), "T default|*");
    EXPECT_EQ(diag("http://x.com/a.nowext"), "T default|*");
}

TEST_F(LookupTest, NoDefaultFlagHidesTheDefault)
{
    add("x", "N", "default");
    EXPECT_EQ(diag("http://nothing.com/"), "T default|*");
    l->flags |= URLLIST_NO_DEFAULT;
    EXPECT_EQ(diag("http://nothing.com/"), "");
}

TEST_F(LookupTest, HostOnlyLookupsSkipTheOtherKinds)
{
    add("http://h.com", "U", "host");
    add("word", "K", "kw");
    add("x", "N", "default");
    EXPECT_EQ(diag("http://h.com/word", true), "T host|http://h.com");
    EXPECT_EQ(diag("http://o.com/word", true), "");
    URLLIST_EXPLODED_URL *u = urllist_explode_charset("http://o.com/word", nullptr, 1, 0, nullptr);
    URLLIST_ITEM_DATA *data = nullptr;
    EXPECT_EQ(urllist_lookup_data_urlonly(l, u, &data), 1);
    EXPECT_EQ(urllist_lookup_data_unlocked(l, u, &data), 0);
    EXPECT_EQ(short_form(data), "T kw");
    urllist_free_urllist_exploded_url(u);
}

TEST_F(LookupTest, CategoryLookupMergesOnlyCategoryEntries)
{
    ASSERT_EQ(urllist_add(l, "http://c.com", "U", "C", "4,2", -1), 0);
    add("http://t.com", "U", "text");
    cat_t *cats = category_new();
    category_add_number(cats, 3);
    URLLIST_EXPLODED_URL *c = urllist_explode_charset("http://c.com/", nullptr, 1, 0, nullptr);
    URLLIST_EXPLODED_URL *t = urllist_explode_charset("http://t.com/", nullptr, 1, 0, nullptr);
    EXPECT_EQ(urllist_lookup_category(l, c, cats), 0);
    EXPECT_EQ(urllist_lookup_category(l, t, cats), 1);
    ASSERT_EQ(cats->num, 3u);
    EXPECT_EQ(cats->catnums[0], 2u);
    EXPECT_EQ(cats->catnums[2], 4u);
    urllist_free_urllist_exploded_url(c);
    urllist_free_urllist_exploded_url(t);
    category_free(cats);
}

TEST_F(LookupTest, TextLookupsLowerCaseOnceAndHandTheCopyOver)
{
    add("bad word", "k", "phrase");
    add("/^EXACT$/", "R", "exact");
    char *lowered = nullptr;
    URLLIST_ITEM_DATA *data = nullptr;
    char *text = nullptr;
    ASSERT_EQ(urllist_lookup_string_diag(l, "A%20Bad WORD", &lowered, &data, &text), 0);
    EXPECT_STREQ(lowered, "a+bad+word");
    EXPECT_EQ(short_form(data), "T phrase");
    EXPECT_STREQ(text, "bad+word");
    std::free(text);
    // A lower-cased subject given by the caller is used as it is.
    char given[] = "nothing here";
    char *given_ptr = given;
    EXPECT_EQ(urllist_lookup_string_data(l, "BAD WORD", &given_ptr, &data), 1);
    EXPECT_EQ(urllist_lookup_string_data(l, "EXACT", nullptr, &data), 0);
    EXPECT_EQ(short_form(data), "T exact");
    EXPECT_EQ(urllist_lookup_string_data(l, nullptr, nullptr, &data), 1);
    std::free(lowered);
}

TEST_F(LookupTest, EventLookupsCheckTheIndex)
{
    add("auth", "T", "auth");
    URLLIST_ITEM_DATA *data = nullptr;
    EXPECT_EQ(urllist_lookup_num_data(l, 4, &data), 0);
    EXPECT_EQ(short_form(data), "T auth");
    for (int index : {-1, 3, 9})
        EXPECT_EQ(urllist_lookup_num_data(l, index, &data), 1) << index;
    URLLIST *empty = urllist_initialize(0);
    EXPECT_EQ(urllist_lookup_num_data(empty, 4, &data), 1);
    urllist_terminate(empty);
}

TEST_F(LookupTest, BadArgumentsFindNothing)
{
    URLLIST_ITEM_DATA *data = nullptr;
    char *text = nullptr;
    URLLIST_EXPLODED_URL *u = urllist_explode_charset("http://a.com/", nullptr, 1, 0, nullptr);
    EXPECT_EQ(urllist_lookup_data(nullptr, u, &data), 1);
    EXPECT_EQ(urllist_lookup_data(l, nullptr, &data), 1);
    EXPECT_EQ(urllist_lookup_diag(l, u, &data, &text), 1);
    EXPECT_EQ(text, nullptr);
    urllist_free_urllist_exploded_url(u);
}

TEST_F(LookupTest, AddressRecordWithoutUrlTextReachesTheDefault)
{
    add("http://10.9.9.9", "U", "addr");
    add("x", "N", "default");
    qx_ipaddr ip{};
    ASSERT_EQ(qxnet_aton("10.9.9.9", &ip), 0);
    URLLIST_EXPLODED_URL *u = urllist_ip_to_exploded_url(&ip, "http");
    URLLIST_ITEM_DATA *data = nullptr;
    ASSERT_EQ(urllist_lookup_data(l, u, &data), 0);
    EXPECT_EQ(short_form(data), "T addr");
    urllist_free_urllist_exploded_url(u);
    ASSERT_EQ(qxnet_aton("10.9.9.8", &ip), 0);
    u = urllist_ip_to_exploded_url(&ip, "http");
    ASSERT_EQ(urllist_lookup_data(l, u, &data), 0);
    EXPECT_EQ(short_form(data), "T default");
    urllist_free_urllist_exploded_url(u);
}

// Every path level below h.com has a wildcard alternative that leads nowhere;
// the entry that answers is the wildcard at the deepest level, which is
// pushed after all the others. Beyond 32 pending alternatives it is dropped.
TEST_F(LookupTest, AlternativesBeyondTheStackAreNotTried)
{
    struct Case {
        int depth;
        bool found;
    } cases[] = {{10, true}, {31, true}, {40, false}};
    for (const Case &c : cases) {
        urllist_terminate(l);
        l = urllist_initialize(0);
        std::string path;
        for (int k = 0; k < c.depth; k++) {
            add(("http://h.com/" + path + "*/zzz").c_str(), "U", "dead end");
            path += "a/";
        }
        add(("http://h.com/" + path + "*").c_str(), "U", "deepest");
        std::string url = "http://h.com/" + path + "b";
        std::string expected = c.found ? "T deepest|http://h.com/" + path + "*" : "";
        EXPECT_EQ(diag(url.c_str()), expected) << c.depth;
    }
}

// Readers look URLs up while a writer loads entries one at a time: every
// answer is the entry of that host, the preloaded entry always answers, and
// an entry once seen stays visible.
TEST(UrlListConcurrency, LookupsDuringLoading)
{
    constexpr int entries = 20000;
    constexpr int readers = 2;
    URLLIST *l = urllist_initialize(URLLIST_LOCKING);
    ASSERT_EQ(urllist_add(l, "http://fixed.test", "U", "T", "fixed", -1), 0);
    std::atomic<bool> loading{true};
    std::atomic<int> failures{0};

    std::thread writer([&] {
        std::string text;
        for (int k = 0; k < entries; k++)
            text += "http://h" + std::to_string(k) + ".load.test U T v" + std::to_string(k) + "\n";
        char *buffer = nullptr;
        int size = 0;
        for (size_t at = 0; at < text.size(); at += 4096)
            if (urllist_add_buffer(l, text.substr(at, 4096).c_str(), &buffer, &size, 0) != 0)
                failures++;
        std::free(buffer);
        loading = false;
    });

    auto reader = [&](int seed) {
        std::vector<bool> seen(entries, false);
        // The last round starts after loading has ended, so it sees every entry.
        for (bool last = false; !last;) {
            last = !loading;
            for (int k = seed; k < entries; k += 7) {
                std::string url = "http://www.h" + std::to_string(k) + ".load.test/x";
                URLLIST_EXPLODED_URL *u = urllist_explode_charset(url.c_str(), nullptr, 1, 0, nullptr);
                URLLIST_ITEM_DATA *data = nullptr;
                int rc = urllist_lookup_data(l, u, &data);
                urllist_free_urllist_exploded_url(u);
                if (rc == 0 && short_form(data) != "T v" + std::to_string(k))
                    failures++;
                if (rc != 0 && seen[k])
                    failures++;
                seen[k] = seen[k] || rc == 0;
            }
            URLLIST_EXPLODED_URL *u = urllist_explode_charset("http://fixed.test/", nullptr, 1, 0, nullptr);
            URLLIST_ITEM_DATA *data = nullptr;
            if (urllist_lookup_data(l, u, &data) != 0)
                failures++;
            urllist_free_urllist_exploded_url(u);
        }
        for (int k = seed; k < entries; k += 7)
            if (!seen[k])
                failures++;
    };
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; r++)
        threads.emplace_back(reader, r);
    writer.join();
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(l->loaded_url_count, entries + 1);
    urllist_terminate(l);
}

} // namespace
