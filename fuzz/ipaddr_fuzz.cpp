// Address, netmask, subnet and range texts: parsing, printing into buffers of
// every size, and the range-to-networks converter, whose output must be the
// exact cover of the range. The first input byte sizes the output buffers and
// the converter's array; the rest is the text.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/common.h"
#include "velmora/iplist.h"

namespace {

using u128 = unsigned __int128;

u128 value_of(const qx_ipaddr &ip) {
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&ip.addr);
    const int n = ip.family == AF_INET ? 4 : 16;
    u128 v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[i];
    return v;
}

// Printing into a buffer of exactly len bytes never writes past it, and what
// it prints parses back to the same address.
void check_printing(const qx_ipaddr &ip, uint32_t len) {
    char *buf = static_cast<char *>(std::malloc(len + 1));
    FUZZ_CHECK(buf != nullptr);
    if (qxnet_ntop(&ip, buf, len) != nullptr) {
        FUZZ_CHECK(std::strlen(buf) < len);
        qx_ipaddr back;
        FUZZ_CHECK(qxnet_aton(buf, &back) == 0 && qxnet_compare(&ip, &back) == 0);
    }
    if (qxnet_ntohost(&ip, buf, len) != nullptr) FUZZ_CHECK(std::strlen(buf) < len);
    std::free(buf);

    char *text = qxnet_ntoa(&ip);
    FUZZ_CHECK(text != nullptr);
    qx_ipaddr back;
    FUZZ_CHECK(qxnet_aton(text, &back) == 0 && qxnet_compare(&ip, &back) == 0);
    std::free(text);
}

void check_address(const std::string &text, uint32_t buffer_len) {
    qx_ipaddr ip;
    int rc = qxnet_aton(text.c_str(), &ip);
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc != 0) {
        FUZZ_CHECK(qxnet_isdefaultip(&ip) == 1);
        return;
    }
    FUZZ_CHECK(ip.family == AF_INET || ip.family == AF_INET6);
    check_printing(ip, buffer_len);
    qx_ipaddr mask;
    qxnet_singleip_subnet(&ip, &mask);
    FUZZ_CHECK(qxnet_fallin_range(&ip, &ip, &mask) == 0);
    (void)qxnet_hash_input(&ip);
}

void check_netmasks(const std::string &text) {
    int v4 = qxnet_ipv4_netmask_to_cidr(text.c_str());
    FUZZ_CHECK(v4 >= -1 && v4 <= 32);
    int v6 = qxnet_ipv6_netmask_to_cidr(text.c_str());
    FUZZ_CHECK(v6 >= -1 && v6 <= 128);
    int any = qxnet_netmask_to_cidr(text.c_str());
    FUZZ_CHECK(any == (text.find(':') != std::string::npos ? v6 : v4));
}

void check_subnet_text(const std::string &text) {
    in_addr_t ip;
    int cidr = -1;
    if (iplist_subnetstring_to_ip_and_cidr(text.c_str(), &ip, &cidr) == 0) FUZZ_CHECK(cidr >= 0 && cidr <= 32);
    int check = iplist_ipaddr_check(text.c_str());
    FUZZ_CHECK(check == 0 || check == 1);
}

// The converter's networks are aligned, ascending and adjacent, and together
// cover exactly low..high.
void check_cover(const qx_ipaddr &low, const qx_ipaddr &high, const ip_cidr *nets, int n) {
    const int bits = low.family == AF_INET ? 32 : 128;
    u128 next = value_of(low);
    for (int i = 0; i < n; ++i) {
        FUZZ_CHECK(nets[i].ip.family == low.family);
        FUZZ_CHECK(nets[i].cidr >= 0 && nets[i].cidr <= bits);
        FUZZ_CHECK(value_of(nets[i].ip) == next);
        const int host_bits = bits - nets[i].cidr;
        const u128 span_minus_one = host_bits == 128 ? ~u128{0} : (u128{1} << host_bits) - 1;
        FUZZ_CHECK((next & span_minus_one) == 0);
        const u128 last = next + span_minus_one;
        FUZZ_CHECK(last <= value_of(high));
        if (i == n - 1) FUZZ_CHECK(last == value_of(high));
        next = last + 1;
    }
}

void check_range(const std::string &text, int max_subnets, int max_bits) {
    int is_range = iplist_hostname_is_ip_range(text.c_str(), static_cast<int>(text.size()), max_bits & 1);
    FUZZ_CHECK(is_range == 0 || is_range == 1);
    qx_ipaddr low, high;
    if (iplist_rangestring_to_ips(text.c_str(), &low, &high) != 0 || low.family != high.family) return;
    std::vector<ip_cidr> nets(static_cast<size_t>(max_subnets));
    int n = iplist_iprange_to_subnets_limited(&low, &high, nets.data(), max_subnets, max_bits);
    FUZZ_CHECK(n >= -1 && n <= max_subnets);
    if (value_of(low) > value_of(high)) FUZZ_CHECK(n == -1);
    if (n > 0) check_cover(low, high, nets.data(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t sizes = in.byte();
    const uint8_t bits = in.byte();
    const std::string text = in.rest_text();
    check_address(text, sizes % 64);
    check_netmasks(text);
    check_subnet_text(text);
    check_range(text, 1 + sizes % 32, bits % 130);
    return 0;
}
