#include "velmora/qxif.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(QxifGetIpv4Addr, LoopbackInterface)
{
    struct in_addr addr;
    addr.s_addr = 0;
    ASSERT_EQ(qxif_get_ipv4_addr("lo", &addr), 0);
    EXPECT_EQ(addr.s_addr, htonl(INADDR_LOOPBACK));
}

struct BadCall {
    const char *name;
    bool with_output;
    int expected_errno;
};

class QxifGetIpv4AddrRefuses : public ::testing::TestWithParam<BadCall> {};

TEST_P(QxifGetIpv4AddrRefuses, WithErrno)
{
    const BadCall &c = GetParam();
    struct in_addr addr;
    errno = 0;
    EXPECT_EQ(qxif_get_ipv4_addr(c.name, c.with_output ? &addr : nullptr), -1);
    if (c.expected_errno != 0)
        EXPECT_EQ(errno, c.expected_errno);
    else
        EXPECT_NE(errno, 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, QxifGetIpv4AddrRefuses,
    ::testing::Values(BadCall{"0123456789abcdef", true, EINVAL}, // 16 characters
                      BadCall{"", true, EINVAL}, BadCall{nullptr, true, EINVAL},
                      BadCall{"lo", false, EINVAL},
                      BadCall{"nosuchif0", true, 0}));

} // namespace
