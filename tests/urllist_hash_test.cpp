#include "velmora/urllist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

int64_t hash_of(const char *text)
{
    myhash_t h{};
    EXPECT_EQ(urllist_hash(text, static_cast<int>(std::strlen(text)), &h), 0);
    return h.city;
}

TEST(UrllistHash, SchemeConstantsAreCityHashes)
{
    EXPECT_EQ(hash_of("*"), wildcard_hash.city);
    EXPECT_EQ(hash_of("*"), 0x33585596d7f9915bLL);
    EXPECT_EQ(static_cast<uint64_t>(hash_of("http")), 0x95d6bc6a71fa4d44ULL);
    EXPECT_EQ(static_cast<uint64_t>(hash_of("https")), 0x0c3f1153d4a46546ULL);
}

TEST(UrllistHash, HashesExactlyLenBytes)
{
    myhash_t h{};
    ASSERT_EQ(urllist_hash("http://x", 4, &h), 0);
    EXPECT_EQ(h.city, hash_of("http"));
    EXPECT_NE(hash_of("Http"), hash_of("http")) << "no case folding";
}

TEST(UrllistHash, RefusesBadArguments)
{
    myhash_t h{5};
    EXPECT_EQ(urllist_hash("x", -1, &h), -1);
    EXPECT_EQ(urllist_hash(nullptr, 3, &h), -1);
    EXPECT_EQ(h.city, 5);
    EXPECT_EQ(urllist_hash("x", 1, nullptr), -1);
    EXPECT_EQ(urllist_hash(nullptr, 0, &h), 0);
    EXPECT_EQ(h.city, hash_of(""));
}

TEST(HashString, WildcardHashRoundTrip)
{
    char buf[41];
    ASSERT_EQ(urllist_hash2str(&wildcard_hash, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "5b91f9d796555833");
    myhash_t back{};
    ASSERT_EQ(urllist_str2hash(buf, 16, &back), 0);
    EXPECT_EQ(back.city, wildcard_hash.city);
}

TEST(HashString, UpperCaseDigitsReadAlike)
{
    myhash_t h{};
    ASSERT_EQ(urllist_str2hash("5B91F9D796555833", 16, &h), 0);
    EXPECT_EQ(h.city, wildcard_hash.city);
}

TEST(HashString, RoundTripsNegativeAndExtremeValues)
{
    for (int64_t value : {int64_t{0}, int64_t{-1}, INT64_MIN, INT64_MAX, int64_t{0x0102030405060708}}) {
        myhash_t h{value};
        char buf[17];
        ASSERT_EQ(urllist_hash2str(&h, buf, sizeof buf), 0);
        myhash_t back{};
        ASSERT_EQ(urllist_str2hash(buf, 16, &back), 0);
        EXPECT_EQ(back.city, value) << buf;
    }
}

// The 16 digits and their NUL need 17 bytes; a smaller buffer is refused and
// left untouched.
TEST(HashString, BufferBelowSeventeenIsRefused)
{
    char buf[17];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(urllist_hash2str(&wildcard_hash, buf, 16), -1);
    EXPECT_EQ(std::count(buf, buf + sizeof buf, 'z'), 17);
    EXPECT_EQ(urllist_hash2str(&wildcard_hash, buf, 17), 0);
    EXPECT_EQ(std::strlen(buf), 16u);
}

TEST(HashString, WrongLengthGivesZeroAndFailure)
{
    for (int len : {0, 15, 17}) {
        myhash_t h{42};
        EXPECT_EQ(urllist_str2hash("5b91f9d7965558330", len, &h), -1);
        EXPECT_EQ(h.city, 0) << len;
    }
}

// A character outside '0'..'f' stops the reading: earlier pairs are written,
// the rest of the value stays as it was.
TEST(HashString, BadCharacterKeepsEarlierBytes)
{
    myhash_t h{-1};
    EXPECT_EQ(urllist_str2hash("0102zz0000000000", 16, &h), -1);
    EXPECT_EQ(static_cast<uint64_t>(h.city), 0xffffffffffff0201ULL);
    // A terminator inside the text stops it the same way.
    myhash_t t{0};
    EXPECT_EQ(urllist_str2hash("01\0", 16, &t), -1);
    EXPECT_EQ(t.city, 1);
}

TEST(HashCompare, OrdersSignedValues)
{
    std::vector<myhash_t> values = {{5}, {-3}, {INT64_MAX}, {INT64_MIN}, {0}};
    std::qsort(values.data(), values.size(), sizeof(myhash_t), urllist_hash_compare);
    std::vector<int64_t> cities;
    for (const myhash_t &v : values)
        cities.push_back(v.city);
    EXPECT_EQ(cities, (std::vector<int64_t>{INT64_MIN, -3, 0, 5, INT64_MAX}));
    myhash_t a{7}, b{7};
    EXPECT_EQ(urllist_hash_compare(&a, &b), 0);
}

} // namespace
