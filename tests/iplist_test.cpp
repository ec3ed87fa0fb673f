#include "velmora/iplist.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

void *tag(uintptr_t n)
{
    return reinterpret_cast<void *>(n);
}

qx_ipaddr ip(const char *text)
{
    qx_ipaddr a;
    EXPECT_EQ(qxnet_aton(text, &a), 0) << text;
    return a;
}

in6_addr ip6(const char *text)
{
    return ip(text).addr.ip6;
}

std::vector<std::string> stored(void *list)
{
    std::vector<std::string> out;
    using Walk = void (*)(prefix_t *, void *, void *);
    Walk record = [](prefix_t *p, void *, void *arg) {
        char buf[53];
        static_cast<std::vector<std::string> *>(arg)->push_back(prefix_toa2x(p, buf, 1));
    };
    iplist_walk(list, reinterpret_cast<void_fn_t>(record), &out);
    return out;
}

// Counts the data pointers handed to free_func.
int freed_count;
void count_free(void *)
{
    freed_count++;
}

class IpList : public ::testing::Test {
protected:
    void SetUp() override
    {
        freed_count = 0;
        list = iplist_init(count_free, nullptr);
        ASSERT_NE(list, nullptr);
    }
    void TearDown() override { iplist_terminate(list); }

    void *list = nullptr;
};

struct AddCase {
    const char *text;
    int result;
    const char *stored; // the network held afterwards, or nullptr
};

class IpListAddString : public ::testing::TestWithParam<AddCase> {};

TEST_P(IpListAddString, StoresMaskedNetworkOrRefuses)
{
    const AddCase &c = GetParam();
    void *list = iplist_init(nullptr, nullptr);
    EXPECT_EQ(iplist_add_string(list, c.text, tag(1)), c.result) << c.text;
    std::vector<std::string> want;
    if (c.stored != nullptr)
        want.push_back(c.stored);
    EXPECT_EQ(stored(list), want) << c.text;
    iplist_terminate(list);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IpListAddString,
    ::testing::Values(AddCase{"10.1.2.3/8", 0, "10.0.0.0/8"}, AddCase{"10.1.2.3", 0, "10.1.2.3/32"},
                      AddCase{"0.0.0.0", 0, "0.0.0.0/0"}, AddCase{"0.0.0.0/16", 0, "0.0.0.0/0"},
                      AddCase{"0.0.0.1/8", 0, "0.0.0.0/0"}, AddCase{"010.0.0.1", 0, "8.0.0.1/32"},
                      AddCase{"10.0.0.0/0", -1, nullptr}, AddCase{"10.0.0.1/33", -1, nullptr},
                      AddCase{"10.0.0.1/", -1, nullptr}, AddCase{"0.0.0.0/", -1, nullptr},
                      AddCase{"10.0.0", -1, nullptr}, AddCase{"255.255.255.255", -1, nullptr},
                      AddCase{"255.255.255.255/8", -1, nullptr}, AddCase{"999.0.0.1/8", -1, nullptr},
                      AddCase{"08.0.0.1", -1, nullptr}, AddCase{"10.0.0.1 ", -1, nullptr},
                      AddCase{"10.0.0.1/8/8", -1, nullptr}, AddCase{"", -1, nullptr},
                      AddCase{"2001:db8::1/32", 0, "2001:db8::/32"}, AddCase{"2001:db8::1", 0, "2001:db8::1/128"},
                      AddCase{"::", 0, "::/0"}, AddCase{"::/64", 0, "::/0"}, AddCase{"::1/129", -1, nullptr},
                      AddCase{"2001:db8::/", -1, nullptr}, AddCase{"2001:db8::/x", -1, nullptr},
                      AddCase{"2001:db8::/12x", -1, nullptr}, AddCase{"2001:db8::/-1", -1, nullptr},
                      AddCase{"2001:db8:::1", -1, nullptr}, AddCase{"[::1]", -1, nullptr}));

TEST_F(IpList, DuplicateNetworkKeepsEarlierData)
{
    EXPECT_EQ(iplist_add_string(list, "10.1.2.3/8", tag(1)), 0);
    EXPECT_EQ(iplist_add_string(list, "10.0.0.0/8", tag(2)), -2);
    qx_ipaddr inside = ip("10.9.9.9");
    EXPECT_EQ(iplist_find_data(list, &inside), tag(1));
    EXPECT_EQ(iplist_add_string(nullptr, "10.0.0.0/8", tag(2)), -4);
    EXPECT_EQ(iplist_add_cidr(nullptr, nullptr, 8, nullptr), -4);
}

TEST_F(IpList, FindsLongestContainingNetwork)
{
    iplist_add_string(list, "10.0.0.0/8", tag(8));
    iplist_add_string(list, "10.1.0.0/16", tag(16));
    iplist_add_string(list, "::", tag(6));
    qx_ipaddr a = ip("10.1.2.3");
    EXPECT_EQ(iplist_find(list, &a), 0);
    EXPECT_EQ(iplist_find_data(list, &a), tag(16));
    a = ip("10.2.0.1");
    EXPECT_EQ(iplist_find_data(list, &a), tag(8));
    a = ip("11.0.0.1");
    EXPECT_EQ(iplist_find(list, &a), 1);
    EXPECT_EQ(iplist_find_data(list, &a), nullptr);
    a = ip("2001:db8::5");
    EXPECT_EQ(iplist_find_data(list, &a), tag(6));
    a.family = 0;
    EXPECT_EQ(iplist_find(list, &a), -1);
    EXPECT_EQ(iplist_find_data(list, &a), nullptr);
    a = ip("10.1.2.3");
    EXPECT_EQ(iplist_find(nullptr, &a), 1);
    EXPECT_EQ(iplist_find_data(nullptr, &a), nullptr);
}

TEST_F(IpList, FindExactComparesOnlyThePrefixBits)
{
    iplist_add_string(list, "10.1.0.0/16", tag(16));
    qx_ipaddr a = ip("10.1.200.7");
    EXPECT_EQ(iplist_find_exact_data(list, &a, 16), tag(16));
    EXPECT_EQ(iplist_find_exact_data(list, &a, 24), nullptr);
    EXPECT_EQ(iplist_find_exact_data(list, &a, 33), nullptr);
    EXPECT_EQ(iplist_find_exact_data(list, &a, -1), nullptr);
}

TEST_F(IpList, SubnetMasksMustBePrefixes)
{
    EXPECT_EQ(iplist_add_subnet(list, inet_addr("10.1.2.3"), inet_addr("255.255.0.255"), tag(1)), -1);
    EXPECT_EQ(iplist_add_subnet(list, inet_addr("10.1.2.3"), inet_addr("255.255.0.0"), tag(1)), 0);
    EXPECT_EQ(iplist_add_subnet(list, inet_addr("10.1.2.3"), 0, tag(2)), 0);
    EXPECT_EQ(stored(list), (std::vector<std::string>{"10.1.0.0/16", "0.0.0.0/0"}));
    qx_ipaddr a = ip("200.1.1.1");
    EXPECT_EQ(iplist_find_data(list, &a), tag(2));
    EXPECT_EQ(iplist_delete_subnet(list, inet_addr("10.1.9.9"), inet_addr("255.255.0.0")), 0);
    EXPECT_EQ(iplist_delete_subnet(list, inet_addr("10.1.9.9"), inet_addr("0.255.0.0")), -1);
}

TEST_F(IpList, CidrAddsCheckFamilyAndLengthAndKeepCallerAddress)
{
    qx_ipaddr a = ip("2001:db8::ffff");
    qx_ipaddr before = a;
    EXPECT_EQ(iplist_add_cidr(list, &a, 32, tag(1)), 0);
    EXPECT_EQ(std::memcmp(&a, &before, sizeof a), 0);
    EXPECT_EQ(iplist_add_cidr(list, &a, 129, tag(1)), -1);
    EXPECT_EQ(iplist_delete_cidr(list, &a, 129), -1);
    EXPECT_EQ(iplist_delete_cidr(list, &a, 32), 0);
    EXPECT_EQ(std::memcmp(&a, &before, sizeof a), 0);

    qx_ipaddr v4 = ip("10.1.2.3");
    EXPECT_EQ(iplist_add_cidr(list, &v4, 33, tag(1)), -1);
    EXPECT_EQ(iplist_add_cidr(list, &v4, -1, tag(1)), -1);
    v4.family = 0;
    EXPECT_EQ(iplist_add_cidr(list, &v4, 8, tag(1)), -1);
    EXPECT_EQ(iplist_delete_cidr(list, &v4, 8), 1);
    EXPECT_TRUE(stored(list).empty());
}

TEST_F(IpList, DeleteHandsDataToFreeFuncAndCountsNullDataAsRemoved)
{
    qx_ipaddr a = ip("10.0.0.0");
    iplist_add_cidr(list, &a, 8, tag(1));
    iplist_add_string(list, "10.1.0.0/16", nullptr);
    EXPECT_EQ(iplist_delete_cidr(list, &a, 8), 0);
    EXPECT_EQ(freed_count, 1);
    EXPECT_EQ(iplist_delete_cidr(list, &a, 8), 1);
    a = ip("10.1.0.0");
    EXPECT_EQ(iplist_delete_cidr(list, &a, 16), 0);
    EXPECT_EQ(iplist_delete_cidr(list, &a, 16), 1);
    EXPECT_EQ(freed_count, 1);
    EXPECT_TRUE(stored(list).empty());
}

TEST_F(IpList, TerminateHandsEveryNonNullData)
{
    iplist_add_string(list, "10.0.0.0/8", tag(1));
    iplist_add_string(list, "10.1.0.0/16", nullptr);
    iplist_add_string(list, "2001:db8::/32", tag(2));
    EXPECT_EQ(stored(list).size(), 3u);
    iplist_terminate(list);
    list = nullptr;
    EXPECT_EQ(freed_count, 2);
}

TEST_F(IpList, RangeWrittenEitherWayAddsSameNetworks)
{
    EXPECT_EQ(iplist_add_range(list, "10.0.0.9-10.0.0.1", tag(1)), 0);
    std::vector<std::string> reversed = stored(list);
    EXPECT_EQ(iplist_delete_range(list, "10.0.0.1-10.0.0.9"), 0);
    EXPECT_EQ(freed_count, 4);
    EXPECT_TRUE(stored(list).empty());
    EXPECT_EQ(iplist_add_range(list, "10.0.0.1-10.0.0.9", tag(1)), 0);
    EXPECT_EQ(stored(list), reversed);
    EXPECT_EQ(reversed.size(), 4u);
}

TEST_F(IpList, FailedRangeAddRollsBackWithoutFreeingCallerData)
{
    iplist_add_string(list, "10.0.0.4/30", tag(7));
    EXPECT_EQ(iplist_add_range(list, "10.0.0.1-10.0.0.9", tag(1)), -2);
    EXPECT_EQ(freed_count, 0);
    EXPECT_EQ(stored(list), (std::vector<std::string>{"10.0.0.4/30"}));
    qx_ipaddr a = ip("10.0.0.5");
    EXPECT_EQ(iplist_find_data(list, &a), tag(7));
}

TEST_F(IpList, RangeTextsThatAreRefused)
{
    for (const char *text : {"10.0.0.1", "10.0.0.1-", "::1-::5", "[::1-::5", "10.0.0.1-10.0.0.999", "x-y"})
        EXPECT_EQ(iplist_add_range(list, text, tag(1)), -1) << text;
    iplist_add_string(list, "::1", tag(1));
    EXPECT_EQ(iplist_delete_range(list, "::1-::5"), -1);
    EXPECT_EQ(iplist_delete_range(list, "10.0.0.9-10.0.0.1"), -1);
    EXPECT_EQ(stored(list).size(), 1u);
}

class IpListOverlap : public IpList {
protected:
    void SetUp() override
    {
        IpList::SetUp();
        const char *nets[] = {"10.0.0.0/8", "10.1.0.0/16", "10.1.2.0/24", "10.1.3.0/24", "10.2.0.0/16"};
        for (uintptr_t i = 0; i < 5; i++)
            ASSERT_EQ(iplist_add_string(list, nets[i], tag(i + 1)), 0);
    }

    std::vector<uintptr_t> smaller(void *start, const char *addr, int cidr)
    {
        void *sentinel = nullptr;
        void **subnets = &sentinel;
        qx_ipaddr a = ip(addr);
        int n = iplist_get_smaller_subnets(start, &a, cidr, &subnets);
        std::vector<uintptr_t> out;
        if (subnets == &sentinel) {
            ADD_FAILURE() << "result array not written";
            return out;
        }
        for (int i = 0; i < n; i++)
            out.push_back(reinterpret_cast<uintptr_t>(subnets[i]));
        if (n == 0) {
            EXPECT_EQ(subnets, nullptr);
        }
        std::free(subnets);
        return out;
    }
};

TEST_F(IpListOverlap, ExactBestAndSmallerNetworks)
{
    void *exact = nullptr;
    void *best = nullptr;
    qx_ipaddr a = ip("10.1.0.0");
    void *place = iplist_get_overlapped(list, &a, 16, &exact, &best);
    EXPECT_EQ(exact, tag(2));
    EXPECT_EQ(best, tag(1));
    EXPECT_EQ(smaller(place, "10.1.0.0", 16), (std::vector<uintptr_t>{3, 4}));

    a = ip("10.1.2.128");
    place = iplist_get_overlapped(list, &a, 25, &exact, &best);
    EXPECT_EQ(exact, nullptr);
    EXPECT_EQ(best, tag(3));
    EXPECT_TRUE(smaller(place, "10.1.2.128", 25).empty());

    EXPECT_EQ(iplist_get_overlapped(list, &a, 33, &exact, &best), nullptr);
    EXPECT_EQ(best, nullptr);
    EXPECT_TRUE(smaller(nullptr, "10.1.0.0", 16).empty());
}

TEST(IpListContained, ListsNetworksEvenWithoutPlacementNode)
{
    void *list = iplist_init(nullptr, nullptr);
    iplist_add_string(list, "10.1.2.0/24", tag(1));
    iplist_add_string(list, "10.1.3.0/24", tag(2));
    qx_ipaddr a = ip("10.1.0.0");
    void *exact = nullptr;
    void *best = nullptr;
    EXPECT_EQ(iplist_get_overlapped(list, &a, 16, &exact, &best), nullptr);
    void **subnets = nullptr;
    ASSERT_EQ(iplist_get_contained_subnets(list, &a, 16, &subnets), 2);
    EXPECT_EQ(subnets[0], tag(1));
    EXPECT_EQ(subnets[1], tag(2));
    std::free(subnets);

    iplist_add_string(list, "10.9.0.0/24", tag(3));
    ASSERT_EQ(iplist_get_contained_subnets(list, &a, 16, &subnets), 2);
    std::free(subnets);
    a = ip("10.0.0.0");
    EXPECT_EQ(iplist_get_overlapped(list, &a, 8, &exact, &best), nullptr);
    ASSERT_EQ(iplist_get_contained_subnets(list, &a, 8, &subnets), 3);
    std::free(subnets);
    a = ip("11.0.0.0");
    EXPECT_EQ(iplist_get_contained_subnets(list, &a, 8, &subnets), 0);
    EXPECT_EQ(subnets, nullptr);
    iplist_terminate(list);
}

TEST(IpListWalk, CountsBothFamilies)
{
    void *list = iplist_init(nullptr, nullptr);
    iplist_add_string(list, "10.0.0.0/8", nullptr);
    iplist_add_string(list, "2001:db8::/32", nullptr);
    EXPECT_EQ(stored(list), (std::vector<std::string>{"10.0.0.0/8", "2001:db8::/32"}));
    EXPECT_EQ(iplist_walk(nullptr, nullptr, nullptr), 0);
    iplist_terminate(list);
    iplist_terminate(nullptr);
}

struct RangeTextCase {
    const char *text;
    int len;
    int ipv6;
    int result;
};

class HostnameRange : public ::testing::TestWithParam<RangeTextCase> {};

TEST_P(HostnameRange, RecognisesRanges)
{
    const RangeTextCase &c = GetParam();
    int len = c.len >= 0 ? c.len : static_cast<int>(std::strlen(c.text));
    EXPECT_EQ(iplist_hostname_is_ip_range(c.text, len, c.ipv6), c.result) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HostnameRange,
    ::testing::Values(RangeTextCase{"10.0.0.1-10.0.0.9", -1, 0, 1}, RangeTextCase{"0x0a.0.0.1-10.0.0.9", -1, 0, 1},
                      RangeTextCase{"010.0.0.1-10.0.0.2", -1, 0, 1}, RangeTextCase{"2001:db8::1-2001:db8::ff", -1, 1, 1},
                      RangeTextCase{"[2001:db8::1-2001:db8::ff", -1, 0, 1},
                      RangeTextCase{"2001:db8::1-2001:db8::ff]", -1, 1, 0}, RangeTextCase{"10.0.0.1-", -1, 0, 0},
                      RangeTextCase{"10.0.0.1--10.0.0.9", -1, 0, 0}, RangeTextCase{"10.0.0.1", -1, 0, 0},
                      RangeTextCase{"a.b-c.d", -1, 0, 0}, RangeTextCase{"08.0.0.1-10.0.0.9", -1, 0, 0},
                      RangeTextCase{"0x.0.0.1-10.0.0.9", -1, 0, 0}, RangeTextCase{"10.0.0.1-10.0.0.9", 9, 0, 0},
                      RangeTextCase{"10.0.0.1-10.0.0.9", 10, 0, 1}, RangeTextCase{"10.0.0.1-1-2", -1, 0, 0},
                      RangeTextCase{"1::-2::-3::", -1, 1, 0}, RangeTextCase{"10..1-2", -1, 0, 0},
                      RangeTextCase{"", -1, 0, 0}));

TEST(HostnameRangeNull, IsNoRange)
{
    EXPECT_EQ(iplist_hostname_is_ip_range(nullptr, 5, 0), 0);
}

TEST(RangeString, SplitsAtFirstDash)
{
    qx_ipaddr low;
    qx_ipaddr high;
    EXPECT_EQ(iplist_rangestring_to_ips("10.0.0.1-10.0.0.9", &low, &high), 0);
    EXPECT_EQ(low.addr.ip, inet_addr("10.0.0.1"));
    EXPECT_EQ(high.addr.ip, inet_addr("10.0.0.9"));
    EXPECT_EQ(iplist_rangestring_to_ips("2001:db8::1-2001:db8::ff", &low, &high), 0);
    EXPECT_EQ(high.family, AF_INET6);
    EXPECT_EQ(iplist_rangestring_to_ips("10.0.0.1", &low, &high), -1);
    EXPECT_EQ(iplist_rangestring_to_ips("10.0.0.1-x", &low, &high), -1);
    std::string long_left(47, '1');
    EXPECT_EQ(iplist_rangestring_to_ips((long_left + "-10.0.0.1").c_str(), &low, &high), -1);
}

struct SubnetTextCase {
    const char *text;
    int result;
    const char *address;
    int cidr;
};

class SubnetString : public ::testing::TestWithParam<SubnetTextCase> {};

TEST_P(SubnetString, ParsesDottedQuadAndLength)
{
    const SubnetTextCase &c = GetParam();
    in_addr_t address = 0;
    int cidr = -7;
    EXPECT_EQ(iplist_subnetstring_to_ip_and_cidr(c.text, &address, &cidr), c.result) << c.text;
    if (c.result == 0) {
        EXPECT_EQ(address, inet_addr(c.address));
        EXPECT_EQ(cidr, c.cidr);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, SubnetString,
                         ::testing::Values(SubnetTextCase{"10.1.2.3/8", 0, "10.1.2.3", 8},
                                           SubnetTextCase{"0.0.0.0/0", 0, "0.0.0.0", 0},
                                           SubnetTextCase{"10.1.2.3/32", 0, "10.1.2.3", 32},
                                           SubnetTextCase{"10.1.2.3/", -1, nullptr, 0},
                                           SubnetTextCase{"10.1.2.3/x", -1, nullptr, 0},
                                           SubnetTextCase{"10.1.2.3/33", -1, nullptr, 0},
                                           SubnetTextCase{"10.1.2.3", -1, nullptr, 0},
                                           SubnetTextCase{"10.1.2/8", -1, nullptr, 0},
                                           SubnetTextCase{"::1/8", -1, nullptr, 0},
                                           SubnetTextCase{"x/", -1, nullptr, 0}));

TEST(SubnetSizeToBits, SmallestCoveringPower)
{
    const std::pair<uint64_t, int> cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {256, 8}, {257, 9},
                                              {(uint64_t{1} << 63) + 1, 64}};
    for (auto [size, bits] : cases)
        EXPECT_EQ(iplist_subnet_size_to_bits(size), bits) << size;
}

TEST(Ipv6MaskCidr, ClearsBitsAfterLength)
{
    const std::pair<int, const char *> cases[] = {{0, "::"},
                                                  {7, "fe00::"},
                                                  {12, "fff0::"},
                                                  {64, "ffff:ffff:ffff:ffff::"},
                                                  {127, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"},
                                                  {128, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
                                                  {200, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}};
    for (auto [cidr, text] : cases) {
        in6_addr a = ip6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
        iplist_ipv6_mask_cidr(&a, cidr);
        in6_addr want = ip6(text);
        EXPECT_EQ(std::memcmp(&a, &want, sizeof a), 0) << cidr;
    }
}

// --- Range to networks -----------------------------------------------------

struct CoverCase {
    const char *low;
    const char *high;
    int max_subnets;
    int max_bits;
    std::vector<std::string> networks; // empty: failure expected
    int error;
};

class RangeCover : public ::testing::TestWithParam<CoverCase> {};

TEST_P(RangeCover, GivesListedNetworks)
{
    const CoverCase &c = GetParam();
    qx_ipaddr low = ip(c.low);
    qx_ipaddr high = ip(c.high);
    std::vector<ip_cidr> out(300);
    errno = 0;
    int n = iplist_iprange_to_subnets_limited(&low, &high, out.data(), c.max_subnets, c.max_bits);
    if (c.networks.empty()) {
        EXPECT_EQ(n, -1);
        EXPECT_EQ(errno, c.error);
        return;
    }
    ASSERT_EQ(n, static_cast<int>(c.networks.size()));
    for (int i = 0; i < n; i++) {
        char buf[64];
        std::string text = std::string(qxnet_ntop(&out[i].ip, buf, sizeof buf)) + "/" + std::to_string(out[i].cidr);
        EXPECT_EQ(text, c.networks[i]);
    }
}

std::vector<std::string> sixteen_28s()
{
    std::vector<std::string> v;
    for (int i = 0; i < 16; i++)
        v.push_back("10.0.0." + std::to_string(i * 16) + "/28");
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeCover,
    ::testing::Values(
        CoverCase{"10.0.0.1", "10.0.0.10", 256, 32,
                  {"10.0.0.1/32", "10.0.0.2/31", "10.0.0.4/30", "10.0.0.8/31", "10.0.0.10/32"}, 0},
        CoverCase{"0.0.0.0", "255.255.255.255", 256, 32, {"0.0.0.0/0"}, 0},
        CoverCase{"10.0.0.0", "10.0.0.255", 256, 4, sixteen_28s(), 0},
        CoverCase{"10.0.0.0", "10.0.3.255", 1, 32, {"10.0.0.0/22"}, 0},
        CoverCase{"10.0.0.1", "10.0.0.2", 1, 32, {}, ENOMEM},
        CoverCase{"255.255.255.0", "255.255.255.255", 1, 32, {"255.255.255.0/24"}, 0},
        CoverCase{"255.255.255.255", "255.255.255.255", 1, 0, {"255.255.255.255/32"}, 0},
        CoverCase{"10.0.0.2", "10.0.0.1", 256, 32, {}, EINVAL},
        CoverCase{"10.0.0.1", "::1", 256, 32, {}, EINVAL},
        CoverCase{"::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 1, 128, {"::/0"}, 0},
        CoverCase{"::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 2, 127, {"::/1", "8000::/1"}, 0},
        CoverCase{"2001:db8::1", "2001:db8::6", 256, 128, {"2001:db8::1/128", "2001:db8::2/127", "2001:db8::4/127",
                                                           "2001:db8::6/128"}, 0},
        CoverCase{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 1, 128,
                  {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127"}, 0}));

TEST(RangeCoverArguments, NoArrayIsInvalid)
{
    errno = 0;
    EXPECT_EQ(iplist_ipv4_iprange_to_subnets(inet_addr("10.0.0.1"), inet_addr("10.0.0.2"), nullptr, 5, 32), -1);
    EXPECT_EQ(errno, EINVAL);
}

// Random ranges checked against brute force: the networks are aligned,
// ascending and contiguous, cover exactly the range, and are as few as a
// search over every split into aligned blocks allows.
template <typename Word, int Bits>
class CoverChecker {
public:
    static bool block_fits(Word start, int k, Word high)
    {
        Word span = k == Bits ? ~Word(0) : static_cast<Word>((Word(1) << k) - 1);
        return (start & span) == 0 && high - start >= span;
    }

    // Fewest aligned blocks of at most 2^max_bits addresses covering [low, high].
    static int minimal_count(Word low, Word high, int max_bits)
    {
        auto size = static_cast<size_t>(high - low) + 1;
        std::vector<int> fewest(size + 1, 0);
        for (size_t i = size; i-- > 0;) {
            Word start = low + static_cast<Word>(i);
            int best = INT32_MAX;
            for (int k = 0; k <= max_bits && k < 20; k++) {
                if (!block_fits(start, k, high))
                    break;
                size_t next = i + (size_t{1} << k);
                best = std::min(best, 1 + fewest[next]);
            }
            fewest[i] = best;
        }
        return fewest[0];
    }

    static void check(Word low, Word high, const ip_cidr *out, int n, int max_bits)
    {
        ASSERT_GT(n, 0);
        Word expect_start = low;
        for (int i = 0; i < n; i++) {
            int k = Bits - out[i].cidr;
            ASSERT_LE(k, max_bits);
            Word start = to_word(out[i].ip);
            ASSERT_EQ(start, expect_start) << "networks must be ascending, disjoint and contiguous";
            ASSERT_TRUE(block_fits(start, k, high)) << "network not aligned or past the range";
            Word span = static_cast<Word>((Word(1) << k) - 1);
            if (i == n - 1) {
                EXPECT_EQ(start + span, high) << "cover must end at the high end";
            }
            expect_start = start + span + 1;
        }
        EXPECT_EQ(n, minimal_count(low, high, max_bits));
    }

    static Word to_word(const qx_ipaddr &a)
    {
        Word w = 0;
        const auto *bytes = reinterpret_cast<const uint8_t *>(&a.addr);
        for (int i = 0; i < Bits / 8; i++)
            w = static_cast<Word>((w << 8) | bytes[i]);
        return w;
    }
};

TEST(RangeCoverProperty, Ipv4AgainstBruteForce)
{
    std::mt19937 rng(77);
    std::vector<ip_cidr> out(4096);
    for (int round = 0; round < 400; round++) {
        // Windows near zero, near the top and anywhere.
        uint32_t base = round % 3 == 0 ? 0 : round % 3 == 1 ? 0xffffffffu - 5000 : static_cast<uint32_t>(rng());
        uint32_t low = base + static_cast<uint32_t>(rng() % 2000);
        uint32_t high = low + static_cast<uint32_t>(rng() % 3000);
        if (high < low) {
            high = 0xffffffffu;
            low = high - static_cast<uint32_t>(rng() % 3000);
        }
        int max_bits = static_cast<int>(rng() % 14);
        int n = iplist_ipv4_iprange_to_subnets(htonl(low), htonl(high), out.data(), 4096, max_bits);
        CoverChecker<uint32_t, 32>::check(low, high, out.data(), n, max_bits);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

TEST(RangeCoverProperty, Ipv6AgainstBruteForce)
{
    using Word = unsigned __int128;
    std::mt19937_64 rng(78);
    std::vector<ip_cidr> out(4096);
    for (int round = 0; round < 300; round++) {
        Word base = round % 2 == 0 ? (static_cast<Word>(rng()) << 64 | rng()) : ~Word(0) - 5000;
        Word low = base + rng() % 2000;
        Word high = low + rng() % 3000;
        if (high < low) {
            high = ~Word(0);
            low = high - rng() % 3000;
        }
        int max_bits = static_cast<int>(rng() % 14);
        in6_addr lo{};
        in6_addr hi{};
        for (int i = 15; i >= 0; i--) {
            lo.s6_addr[i] = static_cast<uint8_t>(low >> (8 * (15 - i)));
            hi.s6_addr[i] = static_cast<uint8_t>(high >> (8 * (15 - i)));
        }
        int n = iplist_ipv6_iprange_to_subnets(&lo, &hi, out.data(), 4096, max_bits);
        CoverChecker<Word, 128>::check(low, high, out.data(), n, max_bits);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

} // namespace
