// IP address values: parsing, printing, comparing and netmask conversion.
#include "velmora/common.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr in_addr_t all_ones_v4 = 0xffffffffu;

// Prefix bits a netmask octet adds when it ends the mask (a full 255 continues).
int ipv4_final_octet_bits(long value)
{
    switch (value) {
    case 254: return 7;
    case 252: return 6;
    case 248: return 5;
    case 240: return 4;
    case 224: return 3;
    case 192: return 2;
    case 128: return 1;
    case 0: return 0;
    default: return -1;
    }
}

} // namespace

extern "C" {

int qxnet_aton(const char *text, qx_ipaddr *out) noexcept
{
    if (text == nullptr || out == nullptr) {
        qxnet_defaultip(out);
        return -1;
    }
    if (inet_pton(AF_INET, text, &out->addr.ip) == 1) {
        out->family = AF_INET;
        return 0;
    }
    if (inet_pton(AF_INET6, text, &out->addr.ip6) == 1) {
        out->family = AF_INET6;
        return 0;
    }
    size_t len = std::strlen(text);
    if (len >= 2 && std::isspace(static_cast<unsigned char>(text[len - 1]))) {
        size_t end = len - 1;
        while (end > 0 && std::isspace(static_cast<unsigned char>(text[end])))
            end--;
        char *copy = static_cast<char *>(std::malloc(end + 2));
        if (copy != nullptr) {
            std::memcpy(copy, text, end + 1);
            copy[end + 1] = '\0';
            int rc = qxnet_aton(copy, out);
            std::free(copy);
            return rc;
        }
    }
    qxnet_defaultip(out);
    return -1;
}

qx_ipaddr *qxnet_addr(const char *text, qx_ipaddr *out) noexcept
{
    qxnet_aton(text, out);
    return out;
}

char *qxnet_ntop(const qx_ipaddr *addr, char *buf, uint32_t len) noexcept
{
    if (addr == nullptr || buf == nullptr)
        return nullptr;
    const void *src = addr->family == AF_INET6 ? static_cast<const void *>(&addr->addr.ip6)
                                               : static_cast<const void *>(&addr->addr.ip);
    return const_cast<char *>(inet_ntop(addr->family, src, buf, len));
}

char *qxnet_ntoa(const qx_ipaddr *addr) noexcept
{
    if (addr == nullptr)
        return nullptr;
    uint32_t size;
    if (addr->family == AF_INET)
        size = INET_ADDRSTRLEN;
    else if (addr->family == AF_INET6)
        size = INET6_ADDRSTRLEN;
    else
        return nullptr;
    char *buf = static_cast<char *>(std::malloc(size));
    if (buf == nullptr)
        return nullptr;
    if (qxnet_ntop(addr, buf, size) == nullptr) {
        std::free(buf);
        return nullptr;
    }
    return buf;
}

char *qxnet_ntohost(const qx_ipaddr *addr, char *buf, uint32_t len) noexcept
{
    // Too small a buffer for even the brackets is refused rather than written past.
    if (addr == nullptr || buf == nullptr || len < 2)
        return nullptr;
    if (addr->family == AF_INET)
        return qxnet_ntop(addr, buf, len);
    if (addr->family != AF_INET6)
        return nullptr;
    buf[0] = '[';
    if (inet_ntop(AF_INET6, &addr->addr.ip6, buf + 1, len - 2) == nullptr)
        return nullptr;
    size_t n = std::strlen(buf);
    buf[n] = ']';
    buf[n + 1] = '\0';
    return buf;
}

int qxnet_compare(const qx_ipaddr *a, const qx_ipaddr *b) noexcept
{
    if (a->family != b->family)
        return 1;
    if (a->family == AF_INET)
        return a->addr.ip == b->addr.ip ? 0 : 1;
    if (a->family == AF_INET6)
        return std::memcmp(&a->addr.ip6, &b->addr.ip6, sizeof(struct in6_addr)) == 0 ? 0 : 1;
    return 0;
}

int qxnet_fallin_range(const qx_ipaddr *addr, const qx_ipaddr *net, const qx_ipaddr *mask) noexcept
{
    if (addr->family != net->family)
        return 1;
    if (addr->family == AF_INET) {
        if (mask->family != AF_INET)
            return 1;
        return (addr->addr.ip & mask->addr.ip) == net->addr.ip ? 0 : 1;
    }
    if (addr->family == AF_INET6) {
        if (mask->family != AF_INET6)
            return 1;
        for (int i = 0; i < 16; i++) {
            if ((addr->addr.ip6.s6_addr[i] & mask->addr.ip6.s6_addr[i]) != net->addr.ip6.s6_addr[i])
                return 1;
        }
        return 0;
    }
    return 0;
}

int qxnet_hash_input(const qx_ipaddr *addr) noexcept
{
    if (addr->family == AF_INET) {
        int value;
        std::memcpy(&value, &addr->addr.ip, sizeof value);
        return value;
    }
    return 2 * addr->addr.ip6.s6_addr[15];
}

void qxnet_defaultip(qx_ipaddr *addr) noexcept
{
    if (addr == nullptr)
        return;
    addr->family = AF_INET;
    addr->addr.ip = all_ones_v4;
}

int qxnet_isdefaultip(const qx_ipaddr *addr) noexcept
{
    return addr != nullptr && addr->family == AF_INET && addr->addr.ip == all_ones_v4 ? 1 : 0;
}

void qxnet_singleip_subnet(const qx_ipaddr *addr, qx_ipaddr *mask) noexcept
{
    qxnet_aton(addr->family == AF_INET ? "255.255.255.255" : "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", mask);
}

int qxnet_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return 32;
    if (std::strchr(text, ':') != nullptr)
        return qxnet_ipv6_netmask_to_cidr(text);
    return qxnet_ipv4_netmask_to_cidr(text);
}

int qxnet_ipv4_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return -1;
    int count = 0;
    const char *field = text;
    for (;;) {
        long value = std::strtol(field, nullptr, 10);
        const char *dot = std::strchr(field, '.');
        if (value == 255) {
            count += 8;
            if (dot == nullptr)
                break;
            field = dot + 1;
            continue;
        }
        int bits = ipv4_final_octet_bits(value);
        if (bits < 0)
            return -1;
        count += bits;
        break;
    }
    return count > 32 ? -1 : count;
}

// Counts the prefix bits of a textual IPv6 netmask; the first character that
// is not 'f' or ':' ends the mask (with the bits of a partial last digit).
static int ipv6_netmask_bits(const char *text)
{
    int count = 0;
    bool after_colon = false;
    for (const char *p = text; *p != '\0'; p++) {
        int c = std::tolower(static_cast<unsigned char>(*p));
        switch (c) {
        case 'f':
            count += 4;
            after_colon = false;
            break;
        case ':':
            if (after_colon)
                return count;
            after_colon = true;
            break;
        case '0':
        case ' ':
        case '\t':
            return count;
        case '8': return count + 1;
        case 'c': return count + 2;
        case 'e': return count + 3;
        default: return -1;
        }
    }
    return count;
}

int qxnet_ipv6_netmask_to_cidr(const char *text) noexcept
{
    if (text == nullptr)
        return -1;
    int count = ipv6_netmask_bits(text);
    // More bits than an address has is not a netmask.
    return count > 128 ? -1 : count;
}

} // extern "C"
