// The hash index of large sibling trees must answer every lookup exactly as
// the tree search does. A list with big trees (thousands of domains under a
// few top-level labels, many path siblings, case-insensitive hosts and
// paths, ports) is asked the same URLs with its index and again after a
// direct tree change outside the loader has switched every index off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "internal/urllist_sibling_index.h"
#include "velmora/urllist.h"

namespace {

struct Answer {
    int rc;
    const URLLIST_ITEM_DATA *data;
    std::string entry;
    bool operator==(const Answer &) const = default;
};

Answer look_up(URLLIST *l, const std::string &url)
{
    URLLIST_EXPLODED_URL *u = urllist_explode_charset(url.c_str(), nullptr, 1, 0, nullptr);
    if (u == nullptr)
        return {-1, nullptr, ""};
    URLLIST_ITEM_DATA *data = nullptr;
    char *text = nullptr;
    int rc = urllist_lookup_diag(l, u, &data, &text);
    Answer a{rc, data, text != nullptr ? text : ""};
    std::free(text);
    urllist_free_urllist_exploded_url(u);
    return a;
}

std::string list_text()
{
    std::string t;
    for (int k = 0; k < 3000; k++) {
        const std::string d = "d" + std::to_string(k);
        t += d + (k % 7 == 0 ? ".com Uc T " : ".com U T ") + d + "\n";
        if (k % 3 == 0)
            t += "www." + d + ".net/path/seg U T p" + d + "\n";
        if (k % 5 == 0)
            t += "h" + std::to_string(k) + ".org:8080 U T port" + d + "\n";
    }
    for (int k = 0; k < 300; k++) {
        t += "nc.com/dir/File" + std::to_string(k) + " U T cs" + std::to_string(k) + "\n";
        t += "nc.com/Lower" + std::to_string(k) + " Uc T nc" + std::to_string(k) + "\n";
        t += "/top" + std::to_string(k) + " P T path" + std::to_string(k) + "\n";
    }
    return t;
}

std::vector<std::string> urls()
{
    std::vector<std::string> u;
    for (int k = 0; k < 3100; k += 1) {
        const std::string d = "d" + std::to_string(k);
        const std::string n = std::to_string(k);
        u.push_back("http://" + d + ".com/x");
        u.push_back("https://sub." + d + ".COM/a?b=1");
        u.push_back("http://e" + n + ".com/");
        u.push_back("http://www." + d + ".net/path/seg/deeper?q=1");
        u.push_back("http://www." + d + ".net/path/other");
        u.push_back("http://h" + n + ".org:8080/");
        u.push_back("http://h" + n + ".org:8081/");
        u.push_back("http://nc.com/dir/File" + n);
        u.push_back("http://nc.com/dir/FILE" + n);
        u.push_back("http://nc.com/LOWER" + n + "/more");
        u.push_back("http://any.host/top" + n + "/x");
    }
    return u;
}

TEST(SiblingIndex, AnswersAsTheTreeSearchDoes)
{
    URLLIST *l = urllist_initialize(0);
    ASSERT_NE(l, nullptr);
    std::string text = list_text();
    char *buffer = nullptr;
    int size = 0;
    ASSERT_EQ(urllist_add_buffer(l, text.c_str(), &buffer, &size, 0), 0);
    std::free(buffer);
    ASSERT_NE(velmora::usable_sibling_index(l), nullptr) << "big trees are indexed";

    const std::vector<std::string> checked = urls();
    std::vector<Answer> indexed;
    for (const std::string &url : checked)
        indexed.push_back(look_up(l, url));

    // A direct insertion into some other tree switches every existing index
    // off; the same list then answers by searching its trees.
    URLLIST *other = urllist_initialize(0);
    URLLIST_EXPLODED_URL *entry = urllist_explode_charset("http://x.com/", nullptr, 0, 0, nullptr);
    ASSERT_NE(entry, nullptr);
    URLLIST_ITEM_DATA *data = urllist_new_urllist_item_data(-1, UA_DENY, nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(urllist_add_to_tree(&other->root, entry, 0, data, 1, 0, 0), 0);
    EXPECT_EQ(velmora::usable_sibling_index(l), nullptr);

    for (size_t k = 0; k < checked.size(); k++)
        EXPECT_EQ(look_up(l, checked[k]), indexed[k]) << checked[k];

    // The URLs reach entries of every kind, and miss where they should.
    const struct {
        const char *url;
        const char *action;
    } spots[] = {
        {"http://d5.com/x", "T d5"},
        {"https://sub.d7.COM/a?b=1", "T d7"},
        {"http://e5.com/", nullptr},
        {"http://www.d3.net/path/seg/deeper?q=1", "T pd3"},
        {"http://www.d3.net/path/other", nullptr},
        {"http://h5.org:8080/", "T portd5"},
        {"http://h5.org:8081/", nullptr},
        {"http://nc.com/dir/File5", "T cs5"},
        {"http://nc.com/dir/FILE5", nullptr},
        {"http://nc.com/LOWER5/more", "T nc5"},
        {"http://any.host/top5/x", "T path5"},
    };
    for (const auto &spot : spots) {
        for (size_t k = 0; k < checked.size(); k++) {
            if (checked[k] != spot.url)
                continue;
            ASSERT_EQ(indexed[k].rc == 0, spot.action != nullptr) << spot.url;
            if (spot.action != nullptr) {
                char text[64];
                urllist_action_dump_action(indexed[k].data, text, sizeof text);
                EXPECT_STREQ(text, spot.action) << spot.url;
            }
        }
    }

    urllist_free_urllist_exploded_url(entry);
    urllist_terminate(other);
    urllist_terminate(l);
}

} // namespace
