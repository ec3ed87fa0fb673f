#include "velmora/common.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct AtonCase {
    const char *text;
    int result;
    int family;
};

class QxnetAton : public ::testing::TestWithParam<AtonCase> {};

TEST_P(QxnetAton, ParsesOrStoresDefault)
{
    const AtonCase &c = GetParam();
    qx_ipaddr a;
    a.family = 0;
    EXPECT_EQ(qxnet_aton(c.text, &a), c.result) << c.text;
    EXPECT_EQ(a.family, c.family) << c.text;
    if (c.result != 0) {
        EXPECT_EQ(qxnet_isdefaultip(&a), 1) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, QxnetAton,
    ::testing::Values(AtonCase{"192.168.1.1", 0, AF_INET}, AtonCase{"::1", 0, AF_INET6},
                      AtonCase{"::ffff:10.0.0.1", 0, AF_INET6}, AtonCase{"[::1]", -1, AF_INET},
                      AtonCase{"10.1", -1, AF_INET}, AtonCase{"10.0.0.1\n", 0, AF_INET},
                      AtonCase{"10.0.0.1 \t", 0, AF_INET}, AtonCase{"\t10.0.0.1", -1, AF_INET},
                      AtonCase{" ", -1, AF_INET}, AtonCase{"", -1, AF_INET},
                      AtonCase{"fe80::1%eth0", -1, AF_INET}, AtonCase{"256.1.1.1", -1, AF_INET}));

qx_ipaddr addr(const char *text)
{
    qx_ipaddr a;
    EXPECT_EQ(qxnet_aton(text, &a), 0) << text;
    return a;
}

TEST(Qxnet, BroadcastIsTheDefaultAddress)
{
    qx_ipaddr a = addr("255.255.255.255");
    EXPECT_EQ(qxnet_isdefaultip(&a), 1);
    EXPECT_EQ(qxnet_isdefaultip(nullptr), 0);
    qx_ipaddr b = addr("10.0.0.1");
    EXPECT_EQ(qxnet_isdefaultip(&b), 0);
}

TEST(Qxnet, PrintsAddressesAndHostForms)
{
    char buf[64];
    qx_ipaddr v6 = addr("::1");
    qx_ipaddr v4 = addr("10.0.0.1");
    EXPECT_STREQ(qxnet_ntohost(&v6, buf, sizeof buf), "[::1]");
    EXPECT_STREQ(qxnet_ntohost(&v4, buf, sizeof buf), "10.0.0.1");
    qx_ipaddr none{};
    EXPECT_EQ(qxnet_ntohost(&none, buf, sizeof buf), nullptr);
    EXPECT_EQ(qxnet_ntoa(&none), nullptr);
    EXPECT_EQ(qxnet_ntohost(&v6, buf, 1), nullptr);
    EXPECT_EQ(qxnet_ntohost(&v6, buf, 5), nullptr);   // "[::1]" needs 6 bytes
    EXPECT_STREQ(qxnet_ntohost(&v6, buf, 6), "[::1]");

    char *text = qxnet_ntoa(&v6);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "::1");
    std::free(text);
    text = qxnet_ntoa(&v4);
    EXPECT_STREQ(text, "10.0.0.1");
    std::free(text);
    EXPECT_EQ(qxnet_ntop(&v4, buf, 4), nullptr);
}

TEST(Qxnet, CompareIsEqualityOfFamilyAndBytes)
{
    qx_ipaddr a = addr("10.0.0.1");
    qx_ipaddr b = addr("10.0.0.1");
    qx_ipaddr c = addr("10.0.0.2");
    EXPECT_EQ(qxnet_compare(&a, &b), 0);
    EXPECT_EQ(qxnet_compare(&a, &c), 1);
    qx_ipaddr v6{};
    v6.family = AF_INET6;
    std::memcpy(&v6.addr.ip6, &a.addr.ip, 4);
    EXPECT_EQ(qxnet_compare(&a, &v6), 1);
    qx_ipaddr x{}, y{};
    x.family = y.family = 99;
    y.addr.ip = 5;
    EXPECT_EQ(qxnet_compare(&x, &y), 0);
}

TEST(Qxnet, FallInRangeComparesUnmaskedNetwork)
{
    qx_ipaddr a = addr("10.1.2.3");
    qx_ipaddr mask = addr("255.255.0.0");
    qx_ipaddr net = addr("10.1.0.0");
    qx_ipaddr odd = addr("10.1.0.1");
    EXPECT_EQ(qxnet_fallin_range(&a, &net, &mask), 0);
    EXPECT_EQ(qxnet_fallin_range(&a, &odd, &mask), 1);
    qx_ipaddr a6 = addr("2001:db8::5");
    qx_ipaddr net6 = addr("2001:db8::");
    qx_ipaddr mask6 = addr("ffff:ffff::");
    EXPECT_EQ(qxnet_fallin_range(&a6, &net6, &mask6), 0);
    EXPECT_EQ(qxnet_fallin_range(&a6, &net6, &mask), 1);
    EXPECT_EQ(qxnet_fallin_range(&a, &net6, &mask6), 1);
}

TEST(Qxnet, SingleIpSubnetAndHashInput)
{
    qx_ipaddr mask;
    qx_ipaddr v4 = addr("1.2.3.4");
    qxnet_singleip_subnet(&v4, &mask);
    EXPECT_EQ(qxnet_isdefaultip(&mask), 1);
    qx_ipaddr v6 = addr("::7");
    qxnet_singleip_subnet(&v6, &mask);
    EXPECT_EQ(mask.family, AF_INET6);
    EXPECT_EQ(mask.addr.ip6.s6_addr[0], 0xff);
    EXPECT_EQ(qxnet_hash_input(&v6), 14);
    EXPECT_EQ(static_cast<uint32_t>(qxnet_hash_input(&v4)), v4.addr.ip);
}

struct MaskCase {
    const char *text;
    int cidr;
};

class QxnetNetmask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(QxnetNetmask, ConvertsToPrefixLength)
{
    EXPECT_EQ(qxnet_netmask_to_cidr(GetParam().text), GetParam().cidr) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Masks, QxnetNetmask,
    ::testing::Values(MaskCase{nullptr, 32}, MaskCase{"255.255.255.0", 24}, MaskCase{"255.255.1.0", -1},
                      MaskCase{"255.255.255.255.255", -1}, MaskCase{"255", 8}, MaskCase{"255.255.0.255", 16},
                      MaskCase{"255.255.255.255", 32}, MaskCase{"255.128", 9}, MaskCase{"0", 0},
                      MaskCase{"ffff:ffff:ffff:ff00::", 56}, MaskCase{"ffff:fff0::", 28},
                      MaskCase{"FFFF::", 16}, MaskCase{"ffff:1::", -1}, MaskCase{"ff:", 8},
                      MaskCase{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 128},
                      MaskCase{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff:f", -1},
                      MaskCase{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff::", -1},
                      MaskCase{"ffff:e", 19}, MaskCase{"fc:", 6}));

TEST(Qxnet, NetmaskNullForFamilyFunctions)
{
    EXPECT_EQ(qxnet_ipv4_netmask_to_cidr(nullptr), -1);
    EXPECT_EQ(qxnet_ipv6_netmask_to_cidr(nullptr), -1);
    EXPECT_EQ(qxnet_ipv6_netmask_to_cidr(""), 0);
}

} // namespace
