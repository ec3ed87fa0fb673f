// End to end: list text goes through the buffer and file loaders, URLs are
// decomposed in check mode and looked up with urllist_lookup_diag; each case
// checks the answering entry (by its action's short form) and the entry text
// the lookup rebuilds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "velmora/urllist.h"

namespace {

struct Case {
    const char *url;
    const char *action; // short form of the answering entry; nullptr: no match
    const char *entry;  // diagnostic text
};

struct Scenario {
    const char *name;
    const char *list;
    std::vector<Case> cases;
};

std::string short_form(const URLLIST_ITEM_DATA *data)
{
    char text[256];
    urllist_action_dump_action(data, text, sizeof text);
    return text;
}

struct Answer {
    bool found;
    std::string action;
    std::string entry;
};

Answer look_up(URLLIST *l, const char *url)
{
    URLLIST_EXPLODED_URL *u = urllist_explode_charset(url, nullptr, 1, 0, nullptr);
    EXPECT_NE(u, nullptr) << url;
    if (u == nullptr)
        return {false, "", ""};
    URLLIST_ITEM_DATA *data = nullptr;
    char *text = nullptr;
    int rc = urllist_lookup_diag(l, u, &data, &text);
    Answer a{rc == 0, rc == 0 ? short_form(data) : "", text != nullptr ? text : ""};
    std::free(text);
    urllist_free_urllist_exploded_url(u);
    return a;
}

// Feeds the text in pieces of `piece` bytes, splitting lines anywhere.
void load_in_pieces(URLLIST *l, const std::string &text, size_t piece)
{
    char *buffer = nullptr;
    int size = 0;
    for (size_t at = 0; at < text.size(); at += piece)
        ASSERT_EQ(urllist_add_buffer(l, text.substr(at, piece).c_str(), &buffer, &size, 0), 0);
    ASSERT_EQ(urllist_add_buffer(l, "\n", &buffer, &size, 0), 0);
    std::free(buffer);
}

void check_cases(URLLIST *l, const Scenario &s)
{
    for (const Case &c : s.cases) {
        Answer a = look_up(l, c.url);
        if (c.action == nullptr) {
            EXPECT_FALSE(a.found) << c.url << " answered by " << a.action << " (" << a.entry << ")";
            continue;
        }
        EXPECT_TRUE(a.found) << c.url;
        EXPECT_EQ(a.action, c.action) << c.url;
        EXPECT_EQ(a.entry, c.entry) << c.url;
    }
}

class ListScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(ListScenario, BufferLoadedInPieces)
{
    URLLIST *l = urllist_initialize(0);
    load_in_pieces(l, GetParam().list, 7);
    check_cases(l, GetParam());
    urllist_terminate(l);
}

TEST_P(ListScenario, FileLoaded)
{
    char path[] = "/tmp/velmora_e2e_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text = std::string("# test list\n\n") + GetParam().list;
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    URLLIST *l = urllist_initialize(URLLIST_LOCKING);
    EXPECT_EQ(urllist_add_file(l, path, 0), 0);
    check_cases(l, GetParam());
    urllist_terminate(l);
    unlink(path);
}

const Scenario scenarios[] = {
    {"hosts_and_paths",
     "example.com U T host\n"
     "example.com/a U T path_a\n"
     "sub.example.com U T sub\n"
     "http://example.com/a/b U T http_ab\n"
     "https://secure.example.com U T https_host\n",
     {
         {"http://example.com/", "T host", "example.com"},
         {"http://www.example.com/x", "T host", "example.com"},
         {"http://example.com/a", "T path_a", "example.com/a"},
         {"http://example.com/a/c", "T path_a", "example.com/a"},
         {"http://example.com/ab", "T host", "example.com"},
         {"http://sub.example.com/a", "T sub", "sub.example.com"},
         {"http://example.com/a/b", "T http_ab", "http://example.com/a/b"},
         {"http://example.com/a/b/c", "T http_ab", "http://example.com/a/b"},
         {"https://example.com/a/b", "T path_a", "example.com/a"},
         {"https://secure.example.com/", "T https_host", "https://secure.example.com"},
         {"http://secure.example.com/", "T host", "example.com"},
         {"http://EXAMPLE.com:8080/", "T host", "example.com"},
         {"http://other.org/", nullptr, nullptr},
         {"http://com/", nullptr, nullptr},
     }},
    {"wildcards_and_ports",
     "*.wild.com U T label\n"
     "http://ports.com:8080 U T p8080\n"
     "http://ports.com:8000-8100/x U T range\n"
     "http://anyport.com/a Up T anyport\n"
     "http://exact.com/a U T exact\n"
     "http://*/shared U T anyhost\n",
     {
         {"http://x.wild.com/", "T label", "*.wild.com"},
         {"http://y.x.wild.com/", "T label", "*.wild.com"},
         // A wildcard stands for any one token: below wild.com the next token
         // of a URL on wild.com itself is its port.
         {"http://wild.com/", "T label", "*.wild.com"},
         {"http://ports.com:8080/", "T p8080", "http://ports.com:8080"},
         {"http://ports.com/", nullptr, nullptr},
         {"http://ports.com:8050/x/y", "T range", "http://ports.com:8000-8100/x"},
         {"http://ports.com:8101/x", nullptr, nullptr},
         {"http://anyport.com:1234/a", "T anyport", "http://anyport.com:0-65535/a"},
         {"http://exact.com/a", "T exact", "http://exact.com/a"},
         {"http://exact.com:81/a", nullptr, nullptr},
         {"http://single/shared", "T anyhost", "http://*/shared"},
         {"http://two.labels/shared", nullptr, nullptr},
     }},
    {"letter_case",
     "http://nc.com/Docs/Read Uc T nocase\n"
     "http://cs.com/Docs U T cs\n"
     "http://both.com/Doc U T exact\n"
     "http://both.com/doc Uc T folded\n",
     {
         {"http://nc.com/DOCS/read", "T nocase", "http://nc.com/docs/read"},
         {"http://nc.com/docs/read/more", "T nocase", "http://nc.com/docs/read"},
         {"http://cs.com/Docs/x", "T cs", "http://cs.com/Docs"},
         {"http://cs.com/docs", nullptr, nullptr},
         {"http://both.com/Doc", "T exact", "http://both.com/Doc"},
         {"http://both.com/DOC", "T folded", "http://both.com/doc"},
     }},
    {"queries",
     "http://q.com/search?name=1 U T q1\n"
     "http://q.com/search?flag U T bare\n"
     "http://q.com/?a=1&b=2 U T ab\n"
     "http://q.com/two?x=1&x=1 U T twice\n"
     "http://q.com/page#top U T anchor\n",
     {
         {"http://q.com/search?x=2&name=1", "T q1", "http://q.com/search?name=1"},
         {"http://q.com/search?flag=yes", "T bare", "http://q.com/search?flag="},
         {"http://q.com/search?name=2", nullptr, nullptr},
         {"http://q.com/?b=2&c=3&a=1", "T ab", "http://q.com?a=1&b=2"},
         {"http://q.com/search?a=1&b=2", "T ab", "http://q.com?a=1&b=2"},
         {"http://q.com/two?x=1", nullptr, nullptr},
         {"http://q.com/two?x=1&y=2&x=1", "T twice", "http://q.com/two?x=1&x=1"},
         {"http://q.com/page#top", "T anchor", "http://q.com/page#top"},
     }},
    {"kinds_in_order",
     "/ads/ P T pathonly\n"
     "?track=1 Q T queryonly\n"
     "http://prec.com U T host\n"
     ".exe E T ext\n"
     "badword K T kw\n"
     "bad+phrase k T phrase\n"
     "/evil[0-9]+/ R T re\n"
     "/loud/ Rc T re_nocase\n"
     "ftp S T scheme\n"
     "any N T default\n",
     {
         {"http://prec.com/ads/x", "T pathonly", "/ads"},
         {"http://other.com/?track=1&x=2", "T queryonly", "?track=1"},
         {"http://prec.com/file.exe", "T host", "http://prec.com"},
         {"http://other.com/file.EXE", "T ext", "exe"},
         {"http://other.com/badword/", "T kw", "badword"},
         {"http://other.com/a%20badword", "T kw", "badword"},
         {"http://other.com/phrase/is/bad", "T phrase", "bad+phrase"},
         {"http://other.com/evil42", "T re", "/evil[0-9]+/"},
         {"http://other.com/LOUD", "T re_nocase", "/loud/"},
         {"http://other.com/badword/evil1", "T kw", "badword"},
         {"http://other.com/badword.exe", "T ext", "exe"},
         {"ftp://files.org/x", "T scheme", "ftp://"},
         {"http://other.com/", "T default", "*"},
     }},
    {"address_networks",
     "http://10.0.0.0-10.0.0.255 U T range24\n"
     "http://10.1.2.3/a U T single_a\n"
     "10.2.0.0-10.2.255.255/p U T net_p\n"
     "http://192.168.1.10-192.168.1.1 U T swapped\n"
     "http://[2001:db8::5-2001:db8::1] U T v6swapped\n"
     "http://[2001:db8::80]/v6 U T v6single\n"
     "http://172.16.0.0-172.16.255.255/x U T net_x\n"
     "http://172.16.5.5/y U T host_y\n"
     "0.0.0.0 U T all\n",
     {
         {"http://10.0.0.7/", "T range24", "http://10.0.0.0-10.0.0.255"},
         {"http://10.0.1.1/", "T all", "0.0.0.0"},
         {"https://10.0.0.7/", "T all", "0.0.0.0"},
         {"http://10.1.2.3/a", "T single_a", "http://10.1.2.3/a"},
         {"http://10.1.2.3/b", "T all", "0.0.0.0"},
         {"http://10.2.3.4/p/q", "T net_p", "10.2.0.0-10.2.255.255/p"},
         {"http://192.168.1.5/", "T swapped", "http://192.168.1.10-192.168.1.1"},
         {"http://192.168.1.11/", "T all", "0.0.0.0"},
         {"http://[2001:db8::3]/", "T v6swapped", "http://[2001:db8::5-2001:db8::1]"},
         {"http://[2001:db8::80]/v6", "T v6single", "http://[2001:db8::80]/v6"},
         {"http://[2001:db8::81]/v6", nullptr, nullptr},
         {"http://172.16.5.5/x", "T net_x", "http://172.16.5.5/x"},
         {"http://172.16.5.5/y", "T host_y", "http://172.16.5.5/y"},
         {"http://172.16.9.9/x", "T net_x", "http://172.16.0.0-172.16.255.255/x"},
     }},
    {"range_hands_result_to_contained_networks",
     "http://10.5.5.5/z U T deep\n"
     "http://10.6.6.6 U T own\n"
     "http://10.5.0.0-10.5.255.255 U T wide5\n"
     "http://10.6.0.0-10.6.255.255 U T wide6\n",
     {
         {"http://10.5.5.5/", "T wide5", "http://10.5.5.5"},
         {"http://10.5.5.5/z", "T deep", "http://10.5.5.5/z"},
         {"http://10.5.7.7/", "T wide5", "http://10.5.0.0-10.5.255.255"},
         {"http://10.6.6.6/", "T own", "http://10.6.6.6"},
         {"http://10.6.7.7/", "T wide6", "http://10.6.0.0-10.6.255.255"},
     }},
    {"line_forms",
     "http://cat.com 12,7\n"
     "http://cat2.com  D\n"
     "http://num.com 99 3\n"
     "keyword-only\n"
     "http://arg.com U Q +a=1\n",
     {
         {"http://cat.com/", "C 7,12", "http://cat.com"},
         {"http://cat2.com/", "D", "http://cat2.com"},
         {"http://num.com/", "C 3", "http://num.com"},
         {"http://keyword-only.com/", nullptr, nullptr},
         {"http://arg.com/", "Q +a=1", "http://arg.com"},
     }},
};

INSTANTIATE_TEST_SUITE_P(Lists, ListScenario, ::testing::ValuesIn(scenarios),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

// A digest entry answers the URL whose normalised SHA-1 it holds; letter case
// of scheme and host does not matter, that of the path does.
TEST(ListDigest, DigestEntryMatchesNormalisedUrl)
{
    URLLIST_EXPLODED_URL *u = urllist_explode_charset("HTTP://Digest.Example/Path", nullptr, 1, 0, nullptr);
    ASSERT_NE(u, nullptr);
    const unsigned char *key = urllist_make_digest(u);
    ASSERT_NE(key, nullptr);
    std::string hex;
    char byte[3];
    for (int k = 1; k <= key[0]; k++) {
        std::snprintf(byte, sizeof byte, "%02x", key[k]);
        hex += byte;
    }
    urllist_free_urllist_exploded_url(u);

    URLLIST *l = urllist_initialize(0);
    std::string line = hex + " D T digest";
    ASSERT_EQ(urllist_add_line(l, line.data(), 0), 0);
    Answer a = look_up(l, "http://digest.example/Path");
    EXPECT_TRUE(a.found);
    EXPECT_EQ(a.action, "T digest");
    EXPECT_EQ(a.entry, hex);
    EXPECT_FALSE(look_up(l, "http://digest.example/path").found);
    urllist_terminate(l);
}

} // namespace
