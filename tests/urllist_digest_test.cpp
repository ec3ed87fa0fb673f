#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "internal/urllist_store.h"
#include "urllist_test_support.h"

using namespace urllist_test;

namespace {

// ---- digest order ------------------------------------------------------------

struct CmpCase {
    std::vector<unsigned char> a, b;
    int sign;
};

class UrllistDigestOrder : public ::testing::TestWithParam<CmpCase> {};

TEST_P(UrllistDigestOrder, LengthFirstThenUnsignedBytes)
{
    const CmpCase &c = GetParam();
    int r = urllist_cmp_digest(c.a.data(), c.b.data());
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
}

INSTANTIATE_TEST_SUITE_P(Keys, UrllistDigestOrder,
                         ::testing::Values(CmpCase{{0}, {0}, 0}, CmpCase{{1, 5}, {2, 0, 0}, -1},
                                           CmpCase{{2, 1, 0x80}, {2, 1, 0x7f}, 1}, CmpCase{{2, 1, 2}, {2, 1, 2}, 0},
                                           CmpCase{{1, 0x01}, {1, 0xff}, -1}));

// ---- digests of URLs -------------------------------------------------------------

std::string sha1_hex(const std::string &text)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), md, &len, EVP_sha1(), nullptr);
    std::string hex;
    char byte[3];
    for (unsigned k = 0; k < len; k++) {
        std::snprintf(byte, sizeof byte, "%02x", md[k]);
        hex += byte;
    }
    return hex;
}

std::string key_hex(const unsigned char *key)
{
    std::string hex;
    char byte[3];
    for (unsigned k = 1; k <= key[0]; k++) {
        std::snprintf(byte, sizeof byte, "%02x", key[k]);
        hex += byte;
    }
    return hex;
}

TEST(UrllistDigest, SchemeAndHostAreLowerCasedPathIsNot)
{
    Record upper = url("HTTP://Example.COM/Path?Q=1");
    Record lower = url("http://example.com/Path?Q=1");
    Record path = url("http://example.com/path?Q=1");
    unsigned char *key = urllist_make_digest(upper.get());
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key[0], 20);
    EXPECT_EQ(urllist_make_digest(upper.get()), key); // kept in the record
    EXPECT_EQ(key_hex(key), key_hex(urllist_make_digest(lower.get())));
    EXPECT_NE(key_hex(key), key_hex(urllist_make_digest(path.get())));
    std::string prefix(upper->url, static_cast<size_t>(upper->host_url_length));
    for (char &c : prefix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(key_hex(key), sha1_hex(prefix + (upper->url + upper->host_url_length)));
    EXPECT_EQ(urllist_make_digest(nullptr), nullptr);
}

TEST(UrllistDigest, LookupFindsTheStoredRecordAndItsText)
{
    List l = make_list();
    Record rec = url("http://Example.com/a");
    EXPECT_EQ(urllist_digest_lookup(l.get(), rec.get(), nullptr), nullptr); // no tree yet

    unsigned char *digest = urllist_make_digest(rec.get());
    auto *key = static_cast<unsigned char *>(std::malloc(21));
    std::memcpy(key, digest, 21);
    URLLIST_ITEM_DATA *data = deny();
    ASSERT_EQ(velmora::store_digest(l.get(), key, data), 0);
    // An equal key keeps the first entry.
    unsigned char again[21];
    std::memcpy(again, digest, 21);
    EXPECT_EQ(velmora::store_digest(l.get(), again, data), 1);

    char *text = nullptr;
    EXPECT_EQ(urllist_digest_lookup(l.get(), rec.get(), &text), data);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text, key_hex(digest));
    EXPECT_EQ(std::strlen(text), 40u);
    std::free(text);

    Record other = url("http://example.com/b");
    text = nullptr;
    EXPECT_EQ(urllist_digest_lookup(l.get(), other.get(), &text), nullptr);
    EXPECT_EQ(text, nullptr);
}

// ---- dump ------------------------------------------------------------------------

class UrllistDump : public ::testing::Test {
protected:
    List list = make_list();

    std::string dump()
    {
        ::testing::internal::CaptureStdout();
        urllist_dump(list.get());
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(UrllistDump, EmptyListPrintsNothing)
{
    EXPECT_EQ(dump(), "");
    ASSERT_EQ(lay(&list->root, "*.h.com", deny()), 0); // only under the wildcard
    EXPECT_EQ(dump(), "");
}

TEST_F(UrllistDump, HostAndPathEntriesPrintOneLineEach)
{
    ASSERT_EQ(lay(&list->root, "http://www.h.com", deny()), 0);
    ASSERT_EQ(lay(&list->root, "http://www.h.com/a", urllist_new_urllist_item_data(-1, UA_ALLOW, nullptr)), 0);
    ASSERT_EQ(lay(&list->root, "h.org/x", deny()), 0); // under the wildcard scheme: not printed
    std::string host = "http://" + hash_string(hash_of("www")) + "." + hash_string(hash_of("h")) + "." +
                       hash_string(hash_of("com"));
    // The scheme prints as its hash string too.
    host = hash_string(hash_of("http")) + host.substr(4);
    std::string expected = host + " Uh D\n" + host + ":" + hash_string(hash_of("80")) + "/" +
                           hash_string(hash_of("a")) + " Uh A\n";
    EXPECT_EQ(dump(), expected);
}

TEST_F(UrllistDump, QueryPatternsPrintTheirElementHashes)
{
    ASSERT_EQ(lay(&list->root, "http://h.com/p?a=1&b", deny()), 0);
    ASSERT_EQ(lay(&list->root, "http://h.com/p?C=3", deny(), URLLIST_EXPLODE_NOCASE), 0);
    std::string path = hash_string(hash_of("http")) + "://" + hash_string(hash_of("h")) + "." +
                       hash_string(hash_of("com")) + ":" + hash_string(hash_of("80")) + "/" + hash_string(hash_of("p"));
    // The case-insensitive entry's path is a node of the port's nocase_child
    // tree, pushed after (so printed before) the ordinary one.
    std::string expected = path + "?" + hash_string(hash_of("c=3")) + " Uch D\n" + path + "?" +
                           hash_string(hash_of("a=1")) + "?" + hash_string(hash_of("b")) + " Uh D\n";
    EXPECT_EQ(dump(), expected);
}

TEST_F(UrllistDump, SiblingsContinueTheirParentsText)
{
    for (const char *e : {"http://a.com", "http://b.com", "http://c.com", "http://d.org"})
        ASSERT_EQ(lay(&list->root, e, deny()), 0);
    std::string out = dump();
    std::string scheme = hash_string(hash_of("http")) + "://";
    for (auto [label, tld] : {std::pair{"a", "com"}, {"b", "com"}, {"c", "com"}, {"d", "org"}}) {
        std::string line = scheme + hash_string(hash_of(label)) + "." + hash_string(hash_of(tld)) + " Uh D\n";
        EXPECT_NE(out.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
}

TEST_F(UrllistDump, StackAndBufferStayInBounds)
{
    // Far more siblings than the stack holds, and deeper paths than the
    // buffer holds: the dump prints what fits and touches nothing else.
    std::string deep = "http://h.com";
    for (int k = 0; k < 1100; k++)
        deep += "/s" + std::to_string(k);
    ASSERT_EQ(lay(&list->root, deep.c_str(), deny()), 0);
    std::string out = dump();
    EXPECT_LT(out.size(), static_cast<size_t>(URLLIST_DUMP_BUFFER_SIZE + 16));

    EXPECT_EQ(urllist_dump_pop(), nullptr);
    for (int k = 0; k < URLLIST_DUMP_STACK_SIZE; k++)
        ASSERT_NE(urllist_dump_push(&list->root), nullptr);
    EXPECT_EQ(urllist_dump_push(&list->root), nullptr);
    while (urllist_dump_pop() != nullptr) {
    }
}

} // namespace
