#include "velmora/urllist_explode.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "internal/exploded_url_caches.h"
#include "velmora/urllist.h"

namespace {

constexpr int list_mode = 0;
constexpr int check_mode = 1;

using Record = std::unique_ptr<URLLIST_EXPLODED_URL, decltype(&urllist_free_urllist_exploded_url)>;

Record explode(const char *url, int mode, int flags = 0, cat_t *cats = nullptr, const CHARSET *charset = nullptr)
{
    return Record(urllist_explode_charset(url, cats, mode, flags, charset), urllist_free_urllist_exploded_url);
}

// Tokens as "s=scheme h=label p=port /segment ?query", in array order.
std::string render(const URLLIST_EXPLODED_URL *rec)
{
    static const char *const prefix[] = {"s=", "h=", "p=", "/", "?"};
    std::string out;
    for (const URLLIST_TOKEN *t = rec->tokens; t->item != nullptr; t++) {
        if (!out.empty())
            out += ' ';
        out += t->type <= UP_QUERY ? prefix[t->type] : "!";
        out += t->item;
    }
    return out;
}

int64_t city_of(const char *text)
{
    myhash_t h{};
    urllist_hash(text, static_cast<int>(std::strlen(text)), &h);
    return h.city;
}

std::string hash_string_of(const char *text)
{
    myhash_t h{city_of(text)};
    char buf[17];
    urllist_hash2str(&h, buf, sizeof buf);
    return buf;
}

std::string text_or_null(const char *text)
{
    return text != nullptr ? "\"" + std::string(text) + "\"" : "NULL";
}

std::vector<uint32_t> numbers(const cat_t &set)
{
    return {set.catnums, set.catnums + set.num};
}

struct TokenCase {
    const char *url;
    int mode;
    int flags;
    const char *tokens;
    int num_port;
    int root;
};

class ExplodeTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(ExplodeTokens, YieldsTokensPortAndRootFlag)
{
    const TokenCase &c = GetParam();
    Record rec = explode(c.url, c.mode, c.flags);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(render(rec.get()), c.tokens);
    EXPECT_EQ(rec->num_port, c.num_port);
    EXPECT_EQ(rec->isRootURL, c.root);
    // The array ends with the terminator, and (without hash flags) every
    // token but the query carries the hash of its own text.
    const URLLIST_TOKEN *t = rec->tokens;
    for (; t->item != nullptr; t++) {
        if (c.flags & (URLLIST_EXPLODE_HASHED | URLLIST_EXPLODE_HASHED_HOST))
            continue;
        EXPECT_EQ(t->hash.city, t->type == UP_QUERY ? 0 : city_of(t->item)) << t->item;
    }
    EXPECT_EQ(t->type, UP_NULL);
}

INSTANTIATE_TEST_SUITE_P(
    Url, ExplodeTokens,
    ::testing::Values(
        // Host labels top-level first; the scheme and host are lower-cased,
        // path and query keep their case.
        TokenCase{"HTTP://WWW.Example.COM/Path/To?Q=V", check_mode, 0, "s=http h=com h=example h=www p=80 /Path /To ?Q=V",
                  80, 0},
        TokenCase{"http://Example.com/Path?Q=V", check_mode, URLLIST_EXPLODE_NOCASE,
                  "s=http h=com h=example p=80 /path ?q=v", 80, 0},
        // Scheme-less list entries get the wildcard scheme token.
        TokenCase{"example.com", list_mode, 0, "s=* h=com h=example", 0, 1},
        TokenCase{"example.com:8080", list_mode, 0, "s=* h=com h=example p=8080", 8080, 1},
        TokenCase{"*.example.com/a", list_mode, 0, "s=* h=com h=example h=* p=0-65535 /a", -1, 0},
        // A "://" after '/' or '?' in a list entry is part of the path/query.
        TokenCase{"/go?u=http://x/y", list_mode, 0, "/go ?u=http://x/y", 0, 0},
        TokenCase{"a/b://c", list_mode, 0, "s=* h=a p=0-65535 /b: /c", -1, 0},
        TokenCase{"http://a/b?u=http://x", check_mode, 0, "s=http h=a p=80 /b ?u=http://x", 80, 0},
        // An empty scheme is kept as an empty text; its default port is empty.
        TokenCase{"://host", check_mode, 0, "s= h=host p=", 0, 1},
        // "*" written as the scheme is a scheme, not the absence of one.
        TokenCase{"*://host/p", list_mode, 0, "s=* h=host p=0-65535 /p", -1, 0},
        // Default ports in check mode, and the explicit default port of a
        // list entry without a path.
        TokenCase{"ftp://h", check_mode, 0, "s=ftp h=h p=", 0, 1},
        TokenCase{"https://h", check_mode, 0, "s=https h=h p=443", 443, 1},
        TokenCase{"https://h", check_mode, URLLIST_EXPLODE_ANY_PORT, "s=https h=h p=0-65535", -1, 1},
        TokenCase{"http://h:80", list_mode, 0, "s=http h=h", 0, 1},
        TokenCase{"https://h:443/", list_mode, 0, "s=https h=h", 0, 1},
        TokenCase{"http://h:80/p", list_mode, 0, "s=http h=h p=80 /p", 80, 0},
        TokenCase{"http://h:443", list_mode, 0, "s=http h=h p=443", 443, 1},
        TokenCase{"http://h/p", list_mode, 0, "s=http h=h p=80 /p", 80, 0},
        TokenCase{"http://h", list_mode, 0, "s=http h=h", 0, 1},
        TokenCase{"http://h:x1/", check_mode, 0, "s=http h=h p=x1", 0, 1},
        // Scheme with an empty host is accepted in a list without a path.
        TokenCase{"http://?q=1", list_mode, 0, "s=http ?q=1", 0, 0},
        // Queries: bare marks are dropped, a doubled '?' keeps one.
        TokenCase{"http://h/?", check_mode, 0, "s=http h=h p=80", 80, 1},
        TokenCase{"http://h/p?&?&", check_mode, 0, "s=http h=h p=80 /p", 80, 0},
        TokenCase{"http://h/??a=1", check_mode, 0, "s=http h=h p=80 ??a=1", 80, 0},
        TokenCase{"http://h/p#frag", check_mode, 0, "s=http h=h p=80 /p ?frag", 80, 0},
        TokenCase{"http://h#top", check_mode, 0, "s=http h=h p=80 ?top", 80, 0},
        // Empty path segments and empty labels disappear.
        TokenCase{"http://h//a///b/", check_mode, 0, "s=http h=h p=80 /a /b", 80, 0},
        TokenCase{"http://h///", check_mode, 0, "s=http h=h p=80", 80, 1},
        TokenCase{"http://a..b./", check_mode, 0, "s=http h=b h=a p=80", 80, 1},
        // User information and ports: the last '@' and the last ':' win.
        TokenCase{"http://u:pw@h:81/", check_mode, 0, "s=http h=h p=81", 81, 1},
        TokenCase{"http://a@b@c", check_mode, 0, "s=http h=c p=80", 80, 1},
        TokenCase{"http://h:1:2", check_mode, 0, "s=http h=h p=2", 2, 1},
        // A port number beyond 32 bits is held at the top instead of
        // wrapping around to -1 (every port).
        TokenCase{"http://h:4294967295/a", list_mode, 0, "s=http h=h p=4294967295 /a", INT32_MAX, 0},
        // Addresses: brackets removed, case kept; an unbracketed IPv6 address
        // is cut at its first colon.
        TokenCase{"http://[2001:DB8::1]:8080/x", check_mode, 0, "s=http h=2001:DB8::1 p=8080 /x", 8080, 0},
        TokenCase{"http://2001:db8::1/", check_mode, 0, "s=http h=2001 p=1", 1, 1},
        TokenCase{"http://[::1", check_mode, 0, "s=http h=::1 p=80", 80, 1}));

struct RefusedCase {
    const char *url;
    int mode;
};

class ExplodeRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ExplodeRefused, ReturnsNullAndMarksOnlyInvalid)
{
    cat_t cats;
    ASSERT_EQ(category_init(&cats), 0);
    category_add_number(&cats, 5);
    category_add_number(&cats, 250);
    EXPECT_EQ(urllist_explode(GetParam().url, &cats, GetParam().mode, 0), nullptr);
    EXPECT_EQ(numbers(cats), std::vector<uint32_t>{URLLIST_CATEGORY_INVALID_URL});
    category_destroy(&cats);
}

INSTANTIATE_TEST_SUITE_P(Url, ExplodeRefused,
                         ::testing::Values(RefusedCase{"", check_mode}, RefusedCase{"", list_mode},
                                           RefusedCase{"www.example.com/", check_mode},
                                           RefusedCase{"http:///path", check_mode},
                                           RefusedCase{"http://:8080/", check_mode},
                                           RefusedCase{"http:///path", list_mode},
                                           RefusedCase{"*:///path", list_mode},
                                           RefusedCase{"http://[]/", list_mode},
                                           RefusedCase{"http://.../", check_mode},
                                           RefusedCase{"...", list_mode}));

TEST(Explode, NullUrlIsRefused)
{
    cat_t cats;
    ASSERT_EQ(category_init(&cats), 0);
    EXPECT_EQ(urllist_explode(nullptr, &cats, check_mode, 0), nullptr);
    EXPECT_EQ(numbers(cats), std::vector<uint32_t>{URLLIST_CATEGORY_INVALID_URL});
    category_destroy(&cats);
    EXPECT_EQ(urllist_explode(nullptr, nullptr, list_mode, 0), nullptr);
}

TEST(Explode, FieldsOfAFullUrl)
{
    const char *url = "https://user:pw@Shop.Example.co.uk:8443/a/b/c.tar.gz?q=1#top";
    Record rec = explode(url, check_mode);
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->scheme, "https");
    EXPECT_EQ(rec->scheme_hash.city, city_of("https"));
    EXPECT_STREQ(rec->userinfo, "user");
    EXPECT_EQ(std::string(rec->host, rec->host_length), "Shop.Example.co.uk");
    EXPECT_EQ(rec->host, url + 16);
    EXPECT_EQ(rec->host_url_length, 39);
    EXPECT_EQ(rec->url, url);
    EXPECT_EQ(rec->length, static_cast<int32_t>(std::strlen(url)));
    EXPECT_STREQ(rec->topLevelDomain, "uk");
    EXPECT_STREQ(rec->fileExtension, "gz");
    EXPECT_EQ(rec->domains_num, 4);
    EXPECT_EQ(rec->paths_num, 3);
    EXPECT_EQ(rec->path, rec->tokens + 6);
    ASSERT_NE(rec->query, nullptr);
    EXPECT_STREQ(rec->query->item, "q=1#top");
    EXPECT_EQ(rec->anchor, nullptr) << "check mode records no anchor";
    EXPECT_EQ(rec->isIP, 0);
    EXPECT_EQ(rec->hostHasBrackets, 0);
}

TEST(Explode, SchemeLessEntryUsesTheSharedWildcard)
{
    Record rec = explode("example.com/a", list_mode);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->scheme, wildcard);
    EXPECT_EQ(rec->scheme_hash.city, wildcard_hash.city);
    EXPECT_EQ(rec->tokens[0].item, wildcard);

    Record star = explode("*://example.com/a", list_mode);
    ASSERT_NE(star, nullptr);
    EXPECT_STREQ(star->scheme, "*");
    EXPECT_NE(star->scheme, wildcard);
}

struct AnchorCase {
    const char *url;
    const char *query;
    const char *anchor;
};

class ExplodeAnchor : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(ExplodeAnchor, ListModeRecordsAnchor)
{
    Record rec = explode(GetParam().url, list_mode);
    ASSERT_NE(rec, nullptr);
    ASSERT_NE(rec->query, nullptr);
    EXPECT_STREQ(rec->query->item, GetParam().query);
    EXPECT_EQ(text_or_null(rec->anchor), text_or_null(GetParam().anchor));
}

INSTANTIATE_TEST_SUITE_P(Url, ExplodeAnchor,
                         ::testing::Values(AnchorCase{"http://h/p#frag", "frag", "frag"},
                                           AnchorCase{"http://h/p?a=1#f", "a=1#f", "#f"},
                                           AnchorCase{"http://h?a=1", "a=1", nullptr},
                                           AnchorCase{"h#x", "x", "x"}));

struct ExtensionCase {
    const char *url;
    const char *extension;
};

class ExplodeExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ExplodeExtension, TakesTextAfterLastDotOfLastSegment)
{
    Record rec = explode(GetParam().url, check_mode);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(text_or_null(rec->fileExtension), text_or_null(GetParam().extension));
}

INSTANTIATE_TEST_SUITE_P(Url, ExplodeExtension,
                         ::testing::Values(ExtensionCase{"http://h/a.tar.gz", "gz"},
                                           ExtensionCase{"http://h/dir.d/", "d"},
                                           ExtensionCase{"http://h/a.", nullptr},
                                           ExtensionCase{"http://h/a.b/c", nullptr},
                                           ExtensionCase{"http://h.com/", nullptr},
                                           ExtensionCase{"http://h/x.jpg?y.png", "jpg"}));

TEST(Explode, IpHostMarksCategoryAndKeepsRecord)
{
    cat_t cats;
    ASSERT_EQ(category_init(&cats), 0);
    category_add_number(&cats, 3);
    Record rec = explode("http://[FE80::1]:81/x", check_mode, 0, &cats);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(numbers(cats), std::vector<uint32_t>{URLLIST_CATEGORY_IP_URL});
    EXPECT_EQ(rec->isIP, 1);
    EXPECT_EQ(rec->isPrivateIP, 1);
    EXPECT_EQ(rec->hostHasBrackets, 1);
    EXPECT_EQ(rec->ip.family, AF_INET6);
    EXPECT_EQ(rec->topLevelDomain, nullptr);
    EXPECT_EQ(rec->domains_num, 1);
    EXPECT_EQ(std::string(rec->host, rec->host_length), "FE80::1");

    // The shortened forms inet_aton knows are addresses too.
    Record short_form = explode("http://127.1/", check_mode, 0, &cats);
    ASSERT_NE(short_form, nullptr);
    EXPECT_EQ(short_form->isIP, 1);
    EXPECT_EQ(short_form->isPrivateIP, 1);
    EXPECT_EQ(short_form->ip.addr.ip, htonl(0x7f000001));
    category_destroy(&cats);
}

struct PrivateCase {
    const char *address;
    int is_private;
};

class PrivateAddress : public ::testing::TestWithParam<PrivateCase> {};

TEST_P(PrivateAddress, FollowsTheBitTests)
{
    qx_ipaddr ip{};
    ASSERT_EQ(qxnet_aton(GetParam().address, &ip), 0);
    EXPECT_EQ(urllist_isPrivateIP(&ip), GetParam().is_private) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    Ip, PrivateAddress,
    ::testing::Values(PrivateCase{"192.168.4.5", 1}, PrivateCase{"192.169.0.1", 0}, PrivateCase{"10.255.0.1", 1},
                      PrivateCase{"11.0.0.1", 0}, PrivateCase{"172.16.0.1", 1}, PrivateCase{"172.31.255.255", 1},
                      PrivateCase{"172.32.0.1", 0}, PrivateCase{"169.254.1.1", 1}, PrivateCase{"127.0.0.2", 1},
                      PrivateCase{"8.8.8.8", 0}, PrivateCase{"::1", 1}, PrivateCase{"::2", 0},
                      PrivateCase{"fe80::1", 1}, PrivateCase{"fc00::1", 1}, PrivateCase{"fd12::1", 1},
                      PrivateCase{"ff02::1", 1}, PrivateCase{"fb00::1", 0}, PrivateCase{"2001:db8::1", 0},
                      PrivateCase{"::ffff:10.1.2.3", 1}, PrivateCase{"::ffff:8.8.8.8", 0}));

TEST(PrivateAddress, UnknownFamilyAndNullAreNotPrivate)
{
    qx_ipaddr ip{};
    EXPECT_EQ(urllist_isPrivateIP(&ip), 0);
    EXPECT_EQ(urllist_isPrivateIP(nullptr), 0);
}

// With hash strings, a port given as a hash string has no number, and a clear
// port falls back to the hash of its text.
TEST(ExplodeHashed, ReadsHashStringsAndFallsBackForClearPorts)
{
    std::string scheme = hash_string_of("http");
    std::string host = hash_string_of("example");
    std::string port = hash_string_of("8080");
    std::string path = hash_string_of("Index");
    std::string url = scheme + "://" + host + ":" + port + "/" + path;
    Record rec = explode(url.c_str(), list_mode, URLLIST_EXPLODE_HASHED);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(render(rec.get()), "s=" + scheme + " h=" + host + " p=" + port + " /" + path);
    EXPECT_EQ(rec->scheme_hash.city, city_of("http"));
    EXPECT_EQ(rec->tokens[1].hash.city, city_of("example"));
    EXPECT_EQ(rec->tokens[2].hash.city, city_of("8080"));
    EXPECT_EQ(rec->tokens[3].hash.city, city_of("Index"));
    EXPECT_EQ(rec->num_port, 0);

    std::string clear = scheme + "://" + host + ":8080/" + path;
    Record clear_port = explode(clear.c_str(), list_mode, URLLIST_EXPLODE_HASHED);
    ASSERT_NE(clear_port, nullptr);
    EXPECT_EQ(clear_port->tokens[2].hash.city, city_of("8080"));
    EXPECT_EQ(clear_port->num_port, 8080);

    // The default port is chosen by the scheme's hash.
    std::string no_port = scheme + "://" + host + "/" + path;
    Record defaulted = explode(no_port.c_str(), list_mode, URLLIST_EXPLODE_HASHED);
    ASSERT_NE(defaulted, nullptr);
    EXPECT_STREQ(defaulted->tokens[2].item, "80");
    EXPECT_EQ(defaulted->tokens[2].hash.city, city_of("80"));
    EXPECT_EQ(defaulted->num_port, 80);

    // The wildcard scheme of a scheme-less entry is no hash string.
    std::string bare = host + "/" + path;
    Record scheme_less = explode(bare.c_str(), list_mode, URLLIST_EXPLODE_HASHED);
    ASSERT_NE(scheme_less, nullptr);
    EXPECT_EQ(scheme_less->tokens[0].hash.city, 0);
    EXPECT_EQ(scheme_less->scheme_hash.city, wildcard_hash.city);
    EXPECT_STREQ(scheme_less->tokens[2].item, "0-65535");
}

TEST(ExplodeHashed, HashedHostConvertsOnlyHostLabels)
{
    std::string host = hash_string_of("example");
    std::string url = "http://" + host + "/Index";
    Record rec = explode(url.c_str(), check_mode, URLLIST_EXPLODE_HASHED_HOST);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->tokens[0].hash.city, city_of("http"));
    EXPECT_EQ(rec->tokens[1].hash.city, city_of("example"));
    EXPECT_EQ(rec->tokens[3].hash.city, city_of("Index"));
}

// The label and segment limits keep the remainder in the last piece.
TEST(ExplodeLimits, ThousandthLabelKeepsRestUnsplitAndUnfolded)
{
    std::string host;
    for (int i = 0; i < 1200; i++)
        host += "A.";
    host += "COM";
    std::string url = "http://" + host + "/";
    Record rec = explode(url.c_str(), check_mode);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->domains_num, 1000);
    std::string rest = host.substr(999 * 2);
    EXPECT_STREQ(rec->tokens[1].item, rest.c_str());
    EXPECT_STREQ(rec->topLevelDomain, rest.c_str());
    EXPECT_STREQ(rec->tokens[2].item, "a");
    EXPECT_STREQ(rec->tokens[1000].item, "a");
    EXPECT_EQ(rec->tokens[1001].type, UP_PORT);
    EXPECT_EQ(rec->host_length, 999 * 2);
}

TEST(ExplodeLimits, FiveThousandthSegmentKeepsRest)
{
    std::string path;
    for (int i = 0; i < 4999; i++)
        path += "s/";
    std::string rest = "t/u?v#w";
    std::string url = "http://h/" + path + rest;
    Record rec = explode(url.c_str(), check_mode);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->paths_num, 5000);
    EXPECT_EQ(rec->query, nullptr);
    EXPECT_STREQ(rec->path[4999].item, rest.c_str());
    EXPECT_EQ(rec->path[5000].type, UP_NULL);

    // At the limit, a segment that begins with '?' starts the query.
    std::string query_url = "http://h/" + path + "?q=1/x";
    Record with_query = explode(query_url.c_str(), check_mode);
    ASSERT_NE(with_query, nullptr);
    EXPECT_EQ(with_query->paths_num, 4999);
    ASSERT_NE(with_query->query, nullptr);
    EXPECT_STREQ(with_query->query->item, "q=1/x");
}

TEST(ExplodeIp, RecordFromIpv4Address)
{
    qx_ipaddr ip{};
    ASSERT_EQ(qxnet_aton("192.168.1.2", &ip), 0);
    Record rec(urllist_ip_to_exploded_url(&ip, "HTTP"), urllist_free_urllist_exploded_url);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(render(rec.get()), "s=HTTP h=192.168.1.2");
    EXPECT_EQ(rec->tokens[0].hash.city, city_of("HTTP"));
    EXPECT_EQ(rec->tokens[1].hash.city, city_of("192.168.1.2"));
    EXPECT_EQ(rec->scheme_hash.city, city_of("HTTP"));
    EXPECT_EQ(rec->tokens[2].item, nullptr);
    EXPECT_EQ(rec->isIP, 1);
    EXPECT_EQ(rec->isPrivateIP, 1);
    EXPECT_EQ(rec->isRootURL, 1);
    EXPECT_EQ(rec->hostHasBrackets, 0);
    EXPECT_EQ(rec->length, 4 + 11 + 2);
    EXPECT_EQ(rec->url, nullptr);
    EXPECT_EQ(rec->num_port, 0);
}

TEST(ExplodeIp, RecordFromIpv6AddressHasBrackets)
{
    qx_ipaddr ip{};
    ASSERT_EQ(qxnet_aton("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", &ip), 0);
    Record rec(urllist_ip_to_exploded_url(&ip, "https"), urllist_free_urllist_exploded_url);
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->tokens[1].item, "[ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe]");
    EXPECT_EQ(std::string(rec->host, rec->host_length), rec->tokens[1].item);
    EXPECT_EQ(rec->hostHasBrackets, 1);
    EXPECT_EQ(rec->tokens[2].item, nullptr);
}

TEST(ExplodeIp, UnknownFamilyGivesNull)
{
    qx_ipaddr ip{};
    EXPECT_EQ(urllist_ip_to_exploded_url(&ip, "http"), nullptr);
    EXPECT_EQ(urllist_ip_to_exploded_url(nullptr, "http"), nullptr);
}

TEST(ExplodeRecord, NewRecordIsZeroedCopy)
{
    const char *url = "a=1&b=2";
    Record rec(urllist_new_urllist_exploded_url(url), urllist_free_urllist_exploded_url);
    ASSERT_NE(rec, nullptr);
    EXPECT_STREQ(rec->mangledURL, url);
    EXPECT_EQ(rec->url, url);
    EXPECT_EQ(rec->host, url);
    EXPECT_EQ(rec->length, 7);
    EXPECT_EQ(rec->tokens, nullptr);
    EXPECT_EQ(rec->scheme, nullptr);
    EXPECT_EQ(urllist_new_urllist_exploded_url(nullptr), nullptr);
    urllist_free_urllist_exploded_url(nullptr);
}

// The record releases every lazily filled member it owns (checked by the
// leak detector of the sanitizer build).
TEST(ExplodeRecord, FreeReleasesLazyMembers)
{
    URLLIST_EXPLODED_URL *rec = urllist_explode("http://h/p?a=1", nullptr, check_mode, 0);
    ASSERT_NE(rec, nullptr);
    rec->query_list = static_cast<char **>(calloc(2, sizeof(char *)));
    rec->query_hash_list = static_cast<myhash_t *>(calloc(1, sizeof(myhash_t)));
    rec->nocaseMangledURL = static_cast<char *>(calloc(1, rec->length + 1));
    rec->digest = static_cast<unsigned char *>(malloc(21));
    rec->query_tree = new urllist_query_element_set;
    rec->query_tree->hashes.insert(7);
    rec->query_foundlist = new urllist_query_foundlist;
    rec->query_foundlist->taken.push_back(7);
    rec->asciihost = strdup("xn--a");
    rec->mangled_asciihost = strdup("xn--a");
    urllist_free_urllist_exploded_url(rec);
}

struct CharsetCase {
    const char *name;
    int flags;
};

class CharsetRecord : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetRecord, ConvertsUnlessNameBeginsWithUtf8)
{
    CHARSET *cs = urllist_init_charset(GetParam().name);
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(cs->flags, GetParam().flags);
    EXPECT_STREQ(cs->charset, GetParam().name);
    urllist_free_charset(cs);
}

INSTANTIATE_TEST_SUITE_P(Idn, CharsetRecord,
                         ::testing::Values(CharsetCase{"UTF-8", CHARSET_IDN}, CharsetCase{"UTF-8x", CHARSET_IDN},
                                           CharsetCase{"utf-8", CHARSET_IDN | CHARSET_CONVERT},
                                           CharsetCase{"ISO-8859-1", CHARSET_IDN | CHARSET_CONVERT}));

TEST(CharsetRecord, NullNameGivesNull)
{
    EXPECT_EQ(urllist_init_charset(nullptr), nullptr);
    urllist_free_charset(nullptr);
}

struct IdnCase {
    const char *charset;
    const char *url;
};

class ExplodeIdn : public ::testing::TestWithParam<IdnCase> {};

TEST_P(ExplodeIdn, HostBecomesAscii)
{
    std::unique_ptr<CHARSET, decltype(&urllist_free_charset)> cs(urllist_init_charset(GetParam().charset),
                                                                  urllist_free_charset);
    ASSERT_NE(cs, nullptr);
    Record rec = explode(GetParam().url, check_mode, 0, nullptr, cs.get());
    ASSERT_NE(rec, nullptr);
    ASSERT_NE(rec->asciihost, nullptr);
    EXPECT_STREQ(rec->asciihost, "www.xn--bcher-kva.de");
    EXPECT_EQ(rec->host, rec->asciihost);
    EXPECT_EQ(rec->host_length, 20);
    EXPECT_EQ(render(rec.get()), "s=http h=de h=xn--bcher-kva h=www p=80 /x");
}

INSTANTIATE_TEST_SUITE_P(Idn, ExplodeIdn,
                         ::testing::Values(IdnCase{"UTF-8", "http://www.b\xc3\xbc" "cher.de/x"},
                                           IdnCase{"ISO-8859-1", "http://www.b\xfc" "cher.de/x"}));

TEST(ExplodeIdn, AsciiHostOrNoCharsetStaysUnconverted)
{
    CHARSET *cs = urllist_init_charset("UTF-8");
    ASSERT_NE(cs, nullptr);
    Record plain = explode("http://www.example.com/", check_mode, 0, nullptr, cs);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->asciihost, nullptr);
    EXPECT_EQ(plain->mangled_asciihost, nullptr);
    urllist_free_charset(cs);

    Record raw = explode("http://b\xc3\xbc" "cher.de/", check_mode);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->asciihost, nullptr);
    EXPECT_STREQ(raw->tokens[2].item, "b\xc3\xbc" "cher");
}

// Arbitrary bytes and mutated URLs: decomposition must stay inside its
// buffers (the sanitizer build checks) and keep its token invariants.
class ExplodeRandom : public ::testing::Test {
protected:
    std::mt19937 rng{20240611};

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }

    std::string random_bytes(size_t max_len)
    {
        std::string s(pick(max_len) + 1, '\0');
        for (char &c : s)
            c = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
        return s;
    }

    std::string mutate(std::string url)
    {
        static const char *const inserts[] = {"@", ":", "[", "]", "%", "?", "#", "/", "//", ".", "://", "&", "[]"};
        int edits = static_cast<int>(pick(6)) + 1;
        for (int i = 0; i < edits; i++) {
            size_t at = pick(url.size() + 1);
            url.insert(at, inserts[pick(std::size(inserts))]);
        }
        return url;
    }

    static void check_invariants(const URLLIST_EXPLODED_URL *rec)
    {
        int hosts = 0, paths = 0, total = 0;
        for (const URLLIST_TOKEN *t = rec->tokens; t->item != nullptr; t++, total++) {
            hosts += t->type == UP_HOST;
            paths += t->type == UP_PATH;
            if (t->type == UP_HOST || t->type == UP_PATH) {
                ASSERT_NE(t->item[0], '\0');
            }
        }
        ASSERT_EQ(hosts, rec->domains_num);
        ASSERT_EQ(paths, rec->paths_num);
        ASSERT_LE(rec->domains_num, 1000);
        ASSERT_LE(rec->paths_num, 5000);
        ASSERT_EQ(rec->tokens[total].type, UP_NULL);
        ASSERT_LE(rec->host_url_length, rec->length);
    }

    void explode_all_ways(const std::string &url)
    {
        for (int mode : {list_mode, check_mode})
            for (int flags : {0, URLLIST_EXPLODE_NOCASE | URLLIST_EXPLODE_ANY_PORT, URLLIST_EXPLODE_HASHED,
                              URLLIST_EXPLODE_HASHED_HOST}) {
                Record rec = explode(url.c_str(), mode, flags);
                if (rec != nullptr)
                    check_invariants(rec.get());
            }
    }
};

TEST_F(ExplodeRandom, ArbitraryBytes)
{
    for (int i = 0; i < 1500; i++)
        explode_all_ways(random_bytes(120));
}

TEST_F(ExplodeRandom, MutatedUrls)
{
    static const char *const seeds[] = {
        "http://user:pw@www.Example.com:8080/a/b/c.html?x=1&y=2#frag", "https://[2001:db8::1]:443/p?q",
        "example.com/path", "ftp://10.0.0.1/file.tar.gz", "%41%", "http://h/%", "http://h%/%"};
    for (int i = 0; i < 1500; i++)
        explode_all_ways(mutate(seeds[pick(std::size(seeds))]));
}

TEST_F(ExplodeRandom, OverLongHostsAndPaths)
{
    for (int round = 0; round < 6; round++) {
        std::string host;
        for (int i = 0; i < 1000 + static_cast<int>(pick(100)); i++)
            host += pick(3) == 0 ? "." : "x.";
        std::string path;
        for (int i = 0; i < 5000 + static_cast<int>(pick(100)); i++)
            path += pick(4) == 0 ? "/" : "s/";
        explode_all_ways(mutate("http://" + host + "/" + path + "?q"));
        explode_all_ways(mutate(host + path));
    }
}

} // namespace
