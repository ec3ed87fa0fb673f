#include "velmora/iplist.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <utility>

#include "internal/patricia_preorder.h"

namespace {

constexpr int kIpv4Bits = 32;
constexpr int kIpv6Bits = 128;
constexpr size_t kIpv6TextMax = 46;
constexpr size_t kIpv4NetworkTextMax = 16;
constexpr int kRangeNetworksMax = 256;
constexpr int kSubnetArrayStep = 32;

using uint128 = unsigned __int128;

iphead *as_list(void *head)
{
    return static_cast<iphead *>(head);
}

bool cidr_within(int cidr, int width)
{
    return cidr >= 0 && cidr <= width;
}

int family_width(int family)
{
    return family == AF_INET ? kIpv4Bits : kIpv6Bits;
}

// The top n bits set, in network order.
in_addr_t ipv4_netmask(int cidr)
{
    return cidr == 0 ? 0 : htonl(0xffffffffu << (kIpv4Bits - cidr));
}

// Prefix length of a netmask whose set bits are exactly the top ones, or -1.
int ipv4_netmask_length(in_addr_t mask)
{
    int length = __builtin_popcount(ntohl(mask));
    return ipv4_netmask(length) == mask ? length : -1;
}

bool is_all_zero(const struct in6_addr &address)
{
    static const struct in6_addr zero {};
    return std::memcmp(&address, &zero, sizeof(address)) == 0;
}

// A prefix length written as one or more decimal digits, at most max.
bool parse_prefix_length(const char *text, int max, int *length)
{
    if (*text == '\0')
        return false;
    int value = 0;
    for (; *text != '\0'; text++) {
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return false;
        value = value * 10 + (*text - '0');
        if (value > max)
            return false;
    }
    *length = value;
    return true;
}

// Copies the text before the '/' at slash into out (size out_size) when it
// is at most max_length characters long.
bool copy_address_part(const char *text, const char *slash, size_t max_length, char *out)
{
    auto length = static_cast<size_t>(slash - text);
    if (length > max_length)
        return false;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

patricia_tree_t *tree_for(iphead *list, int family)
{
    return family == AF_INET ? list->head_ipv4 : list->head_ipv6;
}

// Stores network/cidr (already masked) unless it is present.
int add_network(patricia_tree_t *tree, int family, const void *network, int cidr, void *data)
{
    prefix_t query;
    if (patricia_prefix_new2(family, network, cidr, &query) == nullptr)
        return -1;
    if (patricia_search_exact(tree, &query) != nullptr)
        return -2;
    patricia_node_t *node = patricia_lookup(tree, &query);
    if (node == nullptr)
        return -3;
    node->data = data;
    return 0;
}

// Removes network/cidr: 0 removed (its data handed to free_func when asked
// for), 1 not present. A removed entry counts as removed whatever its data.
int remove_network(iphead *list, int family, const void *network, int cidr, bool hand_to_free)
{
    prefix_t query;
    if (patricia_prefix_new2(family, network, cidr, &query) == nullptr)
        return -1;
    patricia_tree_t *tree = tree_for(list, family);
    patricia_node_t *node = patricia_search_exact(tree, &query);
    if (node == nullptr)
        return 1;
    void *data = node->data;
    patricia_remove(tree, node);
    if (hand_to_free && data != nullptr && list->free_func != nullptr)
        list->free_func(data);
    return 0;
}

int ipv4_remove(iphead *list, in_addr_t ip, int cidr, bool hand_to_free)
{
    if (!cidr_within(cidr, kIpv4Bits))
        return -1;
    in_addr_t network = ip & ipv4_netmask(cidr);
    return remove_network(list, AF_INET, &network, cidr, hand_to_free);
}

// The network ip/cidr masked in a copy: the caller's address stays as given.
bool ipv6_network(const struct in6_addr *ip, int cidr, struct in6_addr *network)
{
    if (ip == nullptr || !cidr_within(cidr, kIpv6Bits))
        return false;
    *network = *ip;
    iplist_ipv6_mask_cidr(network, cidr);
    return true;
}

// Node of the longest stored network containing the address (match function
// applied), or NULL.
patricia_node_t *best_containing(patricia_tree_t *tree, int family, const void *address)
{
    prefix_t query;
    if (patricia_prefix_new2(family, address, -1, &query) == nullptr)
        return nullptr;
    return patricia_search_best(tree, &query);
}

void *node_data(const patricia_node_t *node)
{
    return node != nullptr ? node->data : nullptr;
}

// Collects the data of the networks inside query into a malloc'd array that
// grows 32 pointers at a time.
class SubnetCollector {
public:
    explicit SubnetCollector(const prefix_t &query) : query_(query) {}
    ~SubnetCollector() { std::free(items_); }
    SubnetCollector(const SubnetCollector &) = delete;
    SubnetCollector &operator=(const SubnetCollector &) = delete;

    // A network inside the query is at least as long as it.
    void consider(const patricia_node_t *node)
    {
        if (failed_ || node->prefix == nullptr || node->prefix->bitlen < query_.bitlen)
            return;
        if (prefix_match(node->prefix, &query_, query_.bitlen) == 1)
            append(node->data);
    }

    // Hands the array over: the count, or -1 (nothing written) on failure.
    int hand_over(void ***subnets)
    {
        if (failed_)
            return -1;
        *subnets = items_;
        items_ = nullptr;
        return count_;
    }

private:
    void append(void *data)
    {
        if (count_ == capacity_) {
            int grown = capacity_ + kSubnetArrayStep;
            auto *items = static_cast<void **>(std::realloc(items_, sizeof(void *) * static_cast<size_t>(grown)));
            if (items == nullptr) {
                failed_ = true;
                return;
            }
            items_ = items;
            capacity_ = grown;
        }
        items_[count_++] = data;
    }

    const prefix_t &query_;
    void **items_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    bool failed_ = false;
};

int collect_subnets(patricia_node_t *from, bool include_from, int family, const void *address, int cidr,
                    void ***subnets)
{
    if (subnets == nullptr)
        return -1;
    prefix_t query;
    if (address == nullptr || !cidr_within(cidr, family_width(family)) ||
        patricia_prefix_new2(family, address, cidr, &query) == nullptr) {
        *subnets = nullptr;
        return -1;
    }
    SubnetCollector collector(query);
    velmora::patricia_visit_preorder(from, [&](patricia_node_t *node) {
        if (include_from || node != from)
            collector.consider(node);
    });
    return collector.hand_over(subnets);
}

int smaller_subnets(void *start, int family, const void *address, int cidr, void ***subnets)
{
    if (start == nullptr) {
        if (subnets == nullptr)
            return -1;
        *subnets = nullptr;
        return 0;
    }
    return collect_subnets(static_cast<patricia_node_t *>(start), false, family, address, cidr, subnets);
}

void *overlapped(void *iplist, int family, const void *address, int cidr, void **exact, void **best)
{
    patricia_node_t *exact_node = nullptr;
    patricia_node_t *best_node = nullptr;
    patricia_node_t *place = nullptr;
    prefix_t query;
    if (iplist != nullptr && address != nullptr && cidr_within(cidr, family_width(family)) &&
        patricia_prefix_new2(family, address, cidr, &query) != nullptr)
        patricia_search_best_exact(tree_for(as_list(iplist), family), &query, &exact_node, &best_node, &place);
    if (exact != nullptr)
        *exact = node_data(exact_node);
    if (best != nullptr)
        *best = node_data(best_node);
    return place;
}

// The family whose trie serves a qx_ipaddr: IPv4 for AF_INET, IPv6 otherwise.
int trie_family(const qx_ipaddr *ip)
{
    return ip->family == AF_INET ? AF_INET : AF_INET6;
}

const void *address_bytes(const qx_ipaddr *ip)
{
    return ip->family == AF_INET ? static_cast<const void *>(&ip->addr.ip) : static_cast<const void *>(&ip->addr.ip6);
}

// Range state machine of iplist_hostname_is_ip_range.
enum class RangeState { Start, Zero, HexPrefix, Hex, Oct, Dec, Dot, Dash, V6, V6Dash, Reject };

bool is_number_state(RangeState state)
{
    return state == RangeState::Zero || state == RangeState::Hex || state == RangeState::Oct ||
           state == RangeState::Dec;
}

// One step over c; consumed is cleared when c is to be read again in the
// returned state.
RangeState range_step(RangeState state, char c, int &dashes, bool &consumed)
{
    auto uc = static_cast<unsigned char>(c);
    bool digit = std::isdigit(uc) != 0;
    bool hex = std::isxdigit(uc) != 0;
    consumed = true;
    if (is_number_state(state) && c == '.')
        return RangeState::Dot;
    if (is_number_state(state) && c == '-')
        return RangeState::Dash;
    switch (state) {
    case RangeState::Start:
        if (c == '0')
            return RangeState::Zero;
        if (c >= '1' && c <= '9')
            return RangeState::Dec;
        return c == '[' ? RangeState::V6 : RangeState::Reject;
    case RangeState::Zero:
        if (c == 'x' || c == 'X')
            return RangeState::HexPrefix;
        if (c >= '1' && c <= '7')
            return RangeState::Oct;
        return c == '0' ? RangeState::Zero : RangeState::Reject;
    case RangeState::HexPrefix:
    case RangeState::Hex:
        return hex ? RangeState::Hex : RangeState::Reject;
    case RangeState::Oct:
        return c >= '0' && c <= '7' ? RangeState::Oct : RangeState::Reject;
    case RangeState::Dec:
        return digit ? RangeState::Dec : RangeState::Reject;
    case RangeState::Dot:
        consumed = false;
        return digit ? RangeState::Start : RangeState::Reject;
    case RangeState::Dash:
        consumed = false;
        if (!digit || ++dashes > 1)
            return RangeState::Reject;
        return RangeState::Start;
    case RangeState::V6:
        if (hex || c == ':' || c == '.')
            return RangeState::V6;
        return c == '-' ? RangeState::V6Dash : RangeState::Reject;
    case RangeState::V6Dash:
        consumed = false;
        dashes++;
        return RangeState::V6;
    case RangeState::Reject:
        break;
    }
    return RangeState::Reject;
}

// Splits [low, high] into the fewest aligned networks, ascending. Word is the
// unsigned host-order number type of the family, Bits its width.
template <typename Word, int Bits, typename Store>
int cover_range(Word low, Word high, ip_cidr *subnets, int max_subnets, int max_subnet_bits, Store store)
{
    if (low > high || subnets == nullptr) {
        errno = EINVAL;
        return -1;
    }
    constexpr Word top = ~Word(0);
    auto span_of = [](int k) { return k == Bits ? top : static_cast<Word>((Word(1) << k) - 1); };
    int limit = max_subnet_bits < 0 ? 0 : (max_subnet_bits > Bits ? Bits : max_subnet_bits);
    int count = 0;
    for (;;) {
        if (count >= max_subnets) {
            errno = ENOMEM;
            return -1;
        }
        int k = 0;
        while (k < limit && (low & span_of(k + 1)) == 0 && high - low >= span_of(k + 1))
            k++;
        Word span = span_of(k);
        store(subnets[count++], low, Bits - k);
        // Stepping past the top address would wrap around.
        if (low + span == top)
            return count;
        low += span + 1;
        if (low > high)
            return count;
    }
}

uint128 ipv6_to_number(const struct in6_addr &address)
{
    uint128 value = 0;
    for (uint8_t byte : address.s6_addr)
        value = (value << 8) | byte;
    return value;
}

void store_ipv4(ip_cidr &entry, uint32_t network, int cidr)
{
    std::memset(&entry.ip, 0, sizeof(entry.ip));
    entry.ip.family = AF_INET;
    entry.ip.addr.ip = htonl(network);
    entry.cidr = cidr;
}

void store_ipv6(ip_cidr &entry, uint128 network, int cidr)
{
    std::memset(&entry.ip, 0, sizeof(entry.ip));
    entry.ip.family = AF_INET6;
    for (int i = 15; i >= 0; i--) {
        entry.ip.addr.ip6.s6_addr[i] = static_cast<uint8_t>(network);
        network >>= 8;
    }
    entry.cidr = cidr;
}

// The networks of an IPv4 range text, in a malloc'd array of 256 entries:
// their count, or a list result code (-1 not acceptable, -4 no memory).
int ipv4_range_networks(const qx_ipaddr &low, const qx_ipaddr &high, ip_cidr **networks)
{
    *networks = static_cast<ip_cidr *>(std::malloc(sizeof(ip_cidr) * kRangeNetworksMax));
    if (*networks == nullptr)
        return -4;
    int count = iplist_ipv4_iprange_to_subnets(low.addr.ip, high.addr.ip, *networks, kRangeNetworksMax, kIpv4Bits);
    if (count < 0) {
        std::free(*networks);
        *networks = nullptr;
        return errno == ENOMEM ? -4 : -1;
    }
    return count;
}

int text_length(const char *text)
{
    size_t length = std::strlen(text);
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

bool parse_ipv4_range(const char *range, qx_ipaddr *low, qx_ipaddr *high)
{
    return iplist_rangestring_to_ips(range, low, high) == 0 && low->family == AF_INET && high->family == AF_INET;
}

} // namespace

extern "C" {

void *iplist_init(iplist_free_func_t free_func, patricia_match_func_t match_func) noexcept
{
    auto *list = static_cast<iphead *>(std::calloc(1, sizeof(iphead)));
    if (list == nullptr)
        return nullptr;
    list->free_func = free_func;
    list->head_ipv4 = patricia_init(kIpv4Bits, match_func);
    list->head_ipv6 = patricia_init(kIpv6Bits, match_func);
    if (list->head_ipv4 == nullptr || list->head_ipv6 == nullptr) {
        iplist_terminate(list);
        return nullptr;
    }
    return list;
}

void iplist_terminate(void *head) noexcept
{
    iphead *list = as_list(head);
    if (list == nullptr)
        return;
    auto release = reinterpret_cast<void_fn_t>(list->free_func);
    patricia_terminate(list->head_ipv4, release);
    patricia_terminate(list->head_ipv6, release);
    std::free(list);
}

int iplist_add_string(void *head, const char *ipaddr, void *data) noexcept
{
    if (ipaddr != nullptr && std::strchr(ipaddr, ':') != nullptr)
        return iplist_ipv6_add_string(head, ipaddr, data);
    return iplist_ipv4_add_string(head, ipaddr, data);
}

int iplist_ipv4_add_string(void *head, const char *ipaddr, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    if (ipaddr == nullptr || iplist_ipaddr_check(ipaddr) == 0)
        return -1;
    int cidr = kIpv4Bits;
    in_addr_t address;
    if (const char *slash = std::strchr(ipaddr, '/')) {
        char text[kIpv4NetworkTextMax + 1];
        // An empty length ("10.0.0.0/") is refused like any other malformed one.
        if (!copy_address_part(ipaddr, slash, kIpv4NetworkTextMax, text) ||
            !parse_prefix_length(slash + 1, kIpv4Bits, &cidr))
            return -1;
        address = inet_addr(text);
    } else {
        address = inet_addr(ipaddr);
    }
    // inet_addr's error value is also the text "255.255.255.255": both refused.
    if (address == INADDR_NONE || (cidr == 0 && address != 0))
        return -1;
    address &= ipv4_netmask(cidr);
    if (address == 0)
        cidr = 0;
    return add_network(as_list(head)->head_ipv4, AF_INET, &address, cidr, data);
}

int iplist_ipv6_add_string(void *head, const char *ipaddr, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    if (ipaddr == nullptr)
        return -1;
    int cidr = kIpv6Bits;
    struct in6_addr address;
    if (const char *slash = std::strchr(ipaddr, '/')) {
        char text[kIpv6TextMax + 1];
        if (!copy_address_part(ipaddr, slash, kIpv6TextMax, text) || inet_pton(AF_INET6, text, &address) != 1 ||
            !parse_prefix_length(slash + 1, kIpv6Bits, &cidr))
            return -1;
        iplist_ipv6_mask_cidr(&address, cidr);
    } else if (inet_pton(AF_INET6, ipaddr, &address) != 1) {
        return -1;
    }
    if (is_all_zero(address))
        cidr = 0;
    return add_network(as_list(head)->head_ipv6, AF_INET6, &address, cidr, data);
}

int iplist_add_cidr(void *head, const qx_ipaddr *ip, int cidr, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    if (ip == nullptr)
        return -1;
    if (ip->family == AF_INET)
        return iplist_ipv4_add_cidr(head, ip->addr.ip, cidr, data);
    if (ip->family == AF_INET6)
        return iplist_ipv6_add_cidr(head, &ip->addr.ip6, cidr, data);
    // A value of another family holds no address: refused, not silently "added".
    return -1;
}

int iplist_ipv4_add_cidr(void *head, in_addr_t ip, int cidr, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    if (!cidr_within(cidr, kIpv4Bits))
        return -1;
    in_addr_t network = ip & ipv4_netmask(cidr);
    return add_network(as_list(head)->head_ipv4, AF_INET, &network, cidr, data);
}

int iplist_ipv6_add_cidr(void *head, const struct in6_addr *ip, int cidr, void *data) noexcept
{
    struct in6_addr network;
    if (head == nullptr)
        return -4;
    if (!ipv6_network(ip, cidr, &network))
        return -1;
    return add_network(as_list(head)->head_ipv6, AF_INET6, &network, cidr, data);
}

int iplist_add_subnet(void *head, in_addr_t ip, in_addr_t subnet, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    int cidr = ipv4_netmask_length(subnet);
    if (cidr < 0)
        return -1;
    return iplist_ipv4_add_cidr(head, ip & subnet, cidr, data);
}

int iplist_add_range(void *head, const char *range, void *data) noexcept
{
    if (head == nullptr)
        return -4;
    qx_ipaddr low;
    qx_ipaddr high;
    if (range == nullptr || iplist_hostname_is_ip_range(range, text_length(range), 0) != 1 ||
        !parse_ipv4_range(range, &low, &high))
        return -1;
    if (ntohl(low.addr.ip) > ntohl(high.addr.ip))
        std::swap(low, high);
    ip_cidr *networks = nullptr;
    int count = ipv4_range_networks(low, high, &networks);
    if (count < 0)
        return count;
    for (int i = 0; i < count; i++) {
        int rc = iplist_ipv4_add_cidr(head, networks[i].ip.addr.ip, networks[i].cidr, data);
        if (rc == 0)
            continue;
        // Roll back what this call added; the data still belongs to the caller,
        // so it is not handed to free_func.
        while (i-- > 0)
            ipv4_remove(as_list(head), networks[i].ip.addr.ip, networks[i].cidr, false);
        std::free(networks);
        return rc;
    }
    std::free(networks);
    return 0;
}

int iplist_delete_cidr(void *head, const qx_ipaddr *ip, int cidr) noexcept
{
    if (head == nullptr)
        return -4;
    if (ip == nullptr)
        return -1;
    if (ip->family == AF_INET)
        return iplist_ipv4_delete_cidr(head, ip->addr.ip, cidr);
    if (ip->family == AF_INET6)
        return iplist_ipv6_delete_cidr(head, &ip->addr.ip6, cidr);
    return 1;
}

// A NULL list is refused with -4 ("no list given"), as the adds do.
int iplist_ipv4_delete_cidr(void *head, in_addr_t ip, int cidr) noexcept
{
    if (head == nullptr)
        return -4;
    return ipv4_remove(as_list(head), ip, cidr, true);
}

int iplist_ipv6_delete_cidr(void *head, const struct in6_addr *ip, int cidr) noexcept
{
    struct in6_addr network;
    if (head == nullptr)
        return -4;
    if (!ipv6_network(ip, cidr, &network))
        return -1;
    return remove_network(as_list(head), AF_INET6, &network, cidr, true);
}

int iplist_delete_subnet(void *head, in_addr_t ip, in_addr_t subnet) noexcept
{
    if (head == nullptr)
        return -4;
    int cidr = ipv4_netmask_length(subnet);
    if (cidr < 0)
        return -1;
    return iplist_ipv4_delete_cidr(head, ip & subnet, cidr);
}

int iplist_delete_range(void *head, const char *range) noexcept
{
    if (head == nullptr)
        return -4;
    qx_ipaddr low;
    qx_ipaddr high;
    if (!parse_ipv4_range(range, &low, &high))
        return -1;
    ip_cidr *networks = nullptr;
    int count = ipv4_range_networks(low, high, &networks);
    if (count < 0)
        return count;
    while (count-- > 0)
        iplist_ipv4_delete_cidr(head, networks[count].ip.addr.ip, networks[count].cidr);
    std::free(networks);
    return 0;
}

int iplist_find(void *head, const qx_ipaddr *ip) noexcept
{
    if (head == nullptr)
        return 1;
    if (ip == nullptr)
        return -1;
    if (ip->family == AF_INET)
        return iplist_ipv4_find(head, ip->addr.ip);
    if (ip->family == AF_INET6)
        return iplist_ipv6_find(head, &ip->addr.ip6);
    return -1;
}

int iplist_ipv4_find(void *head, in_addr_t ip) noexcept
{
    if (head == nullptr)
        return 1;
    return best_containing(as_list(head)->head_ipv4, AF_INET, &ip) != nullptr ? 0 : 1;
}

int iplist_ipv6_find(void *head, const struct in6_addr *ip) noexcept
{
    if (head == nullptr || ip == nullptr)
        return 1;
    return best_containing(as_list(head)->head_ipv6, AF_INET6, ip) != nullptr ? 0 : 1;
}

void *iplist_find_data(void *head, const qx_ipaddr *ip) noexcept
{
    if (head == nullptr || ip == nullptr)
        return nullptr;
    if (ip->family == AF_INET)
        return iplist_ipv4_find_data(head, ip->addr.ip);
    if (ip->family == AF_INET6)
        return iplist_ipv6_find_data(head, &ip->addr.ip6);
    return nullptr;
}

void *iplist_ipv4_find_data(void *head, in_addr_t ip) noexcept
{
    if (head == nullptr)
        return nullptr;
    return node_data(best_containing(as_list(head)->head_ipv4, AF_INET, &ip));
}

void *iplist_ipv6_find_data(void *head, const struct in6_addr *ip) noexcept
{
    if (head == nullptr || ip == nullptr)
        return nullptr;
    return node_data(best_containing(as_list(head)->head_ipv6, AF_INET6, ip));
}

// A prefix length above the family's width finds nothing.
void *iplist_find_exact_data(void *head, const qx_ipaddr *ip, int cidr) noexcept
{
    if (head == nullptr || ip == nullptr || (ip->family != AF_INET && ip->family != AF_INET6) ||
        !cidr_within(cidr, family_width(ip->family)))
        return nullptr;
    prefix_t query;
    if (patricia_prefix_new2(ip->family, address_bytes(ip), cidr, &query) == nullptr)
        return nullptr;
    return node_data(patricia_search_exact(tree_for(as_list(head), ip->family), &query));
}

// A NULL list has no entries to visit: 0.
int iplist_walk(void *head, void_fn_t func, void *arg) noexcept
{
    if (head == nullptr || func == nullptr)
        return 0;
    size_t visited = patricia_walk(as_list(head)->head_ipv4, func, arg);
    visited += patricia_walk(as_list(head)->head_ipv6, func, arg);
    return static_cast<int>(visited);
}

// A prefix length outside the family's width finds nothing: NULL results.
void *iplist_get_overlapped(void *iplist, const qx_ipaddr *ip, int cidr, void **exact, void **best) noexcept
{
    if (ip == nullptr)
        return overlapped(nullptr, AF_INET, nullptr, cidr, exact, best);
    return overlapped(iplist, trie_family(ip), address_bytes(ip), cidr, exact, best);
}

void *iplist_ipv4_get_overlapped(void *iplist, in_addr_t ip, int cidr, void **exact, void **best) noexcept
{
    return overlapped(iplist, AF_INET, &ip, cidr, exact, best);
}

void *iplist_ipv6_get_overlapped(void *iplist, const struct in6_addr *ip, int cidr, void **exact,
                                 void **best) noexcept
{
    return overlapped(iplist, AF_INET6, ip, cidr, exact, best);
}

// A prefix length outside the family's width gives -1 and NULL subnets.
int iplist_get_smaller_subnets(void *start, const qx_ipaddr *ip, int cidr, void ***subnets) noexcept
{
    if (ip == nullptr)
        return smaller_subnets(start, AF_INET, nullptr, -1, subnets);
    return smaller_subnets(start, trie_family(ip), address_bytes(ip), cidr, subnets);
}

int iplist_ipv4_get_smaller_subnets(void *start, in_addr_t ip, int cidr, void ***subnets) noexcept
{
    return smaller_subnets(start, AF_INET, &ip, cidr, subnets);
}

int iplist_ipv6_get_smaller_subnets(void *start, const struct in6_addr *ip, int cidr, void ***subnets) noexcept
{
    return smaller_subnets(start, AF_INET6, ip, cidr, subnets);
}

int iplist_get_contained_subnets(void *iplist, const qx_ipaddr *ip, int cidr, void ***subnets) noexcept
{
    if (iplist == nullptr || ip == nullptr) {
        if (subnets != nullptr)
            *subnets = nullptr;
        return -1;
    }
    void *place = iplist_get_overlapped(iplist, ip, cidr, nullptr, nullptr);
    if (place != nullptr)
        return iplist_get_smaller_subnets(place, ip, cidr, subnets);
    // No node on the path tests a bit below cidr: everything inside the
    // network hangs from the head, the head included.
    int family = trie_family(ip);
    return collect_subnets(tree_for(as_list(iplist), family)->head, true, family, address_bytes(ip), cidr, subnets);
}

int iplist_ipaddr_check(const char *str) noexcept
{
    if (str == nullptr)
        return 0;
    const char *p = str;
    for (int group = 0; group < 4; group++) {
        if (group > 0 && *p++ != '.')
            return 0;
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return 0;
        while (std::isdigit(static_cast<unsigned char>(*p)))
            p++;
    }
    if (*p == '/') {
        p++;
        while (std::isdigit(static_cast<unsigned char>(*p)))
            p++;
    }
    return *p == '\0' ? 1 : 0;
}

int iplist_hostname_is_ip_range(const char *hostname, int len, int ipv6) noexcept
{
    if (hostname == nullptr)
        return 0;
    RangeState state = ipv6 != 0 ? RangeState::V6 : RangeState::Start;
    int dashes = 0;
    int i = 0;
    while (i < len && hostname[i] != '\0') {
        bool consumed = true;
        state = range_step(state, hostname[i], dashes, consumed);
        if (state == RangeState::Reject)
            return 0;
        if (consumed)
            i++;
    }
    bool complete = is_number_state(state) || state == RangeState::V6;
    return complete && dashes == 1 ? 1 : 0;
}

int iplist_rangestring_to_ips(const char *range, qx_ipaddr *low_ip, qx_ipaddr *high_ip) noexcept
{
    if (range == nullptr || low_ip == nullptr || high_ip == nullptr)
        return -1;
    const char *dash = std::strchr(range, '-');
    char low_text[kIpv6TextMax + 1];
    if (dash == nullptr || !copy_address_part(range, dash, kIpv6TextMax, low_text))
        return -1;
    int low_rc = qxnet_aton(low_text, low_ip);
    int high_rc = qxnet_aton(dash + 1, high_ip);
    return low_rc == 0 && high_rc == 0 ? 0 : -1;
}

int iplist_subnetstring_to_ip_and_cidr(const char *subnet_string, in_addr_t *ip, int *cidr) noexcept
{
    if (subnet_string == nullptr || ip == nullptr || cidr == nullptr)
        return -1;
    const char *slash = std::strchr(subnet_string, '/');
    char text[INET_ADDRSTRLEN];
    struct in_addr address;
    int length = 0;
    if (slash == nullptr || !copy_address_part(subnet_string, slash, INET_ADDRSTRLEN - 1, text) ||
        inet_pton(AF_INET, text, &address) != 1 || !parse_prefix_length(slash + 1, kIpv4Bits, &length))
        return -1;
    *ip = address.s_addr;
    *cidr = length;
    return 0;
}

int iplist_iprange_to_subnets(const qx_ipaddr *low_ip, const qx_ipaddr *hi_ip, ip_cidr *subnets,
                              int max_subnets) noexcept
{
    return iplist_iprange_to_subnets_limited(low_ip, hi_ip, subnets, max_subnets, kIpv6Bits);
}

// Ends of different families (or of neither family) are refused with EINVAL:
// they bound no range.
int iplist_iprange_to_subnets_limited(const qx_ipaddr *low_ip, const qx_ipaddr *hi_ip, ip_cidr *subnets,
                                      int max_subnets, int max_subnet_bits) noexcept
{
    if (low_ip == nullptr || hi_ip == nullptr || low_ip->family != hi_ip->family) {
        errno = EINVAL;
        return -1;
    }
    if (low_ip->family == AF_INET) {
        int bits = max_subnet_bits < kIpv4Bits ? max_subnet_bits : kIpv4Bits;
        return iplist_ipv4_iprange_to_subnets(low_ip->addr.ip, hi_ip->addr.ip, subnets, max_subnets, bits);
    }
    if (low_ip->family == AF_INET6)
        return iplist_ipv6_iprange_to_subnets(&low_ip->addr.ip6, &hi_ip->addr.ip6, subnets, max_subnets,
                                              max_subnet_bits);
    errno = EINVAL;
    return -1;
}

int iplist_ipv4_iprange_to_subnets(in_addr_t low_ip, in_addr_t hi_ip, ip_cidr *subnets, int max_subnets,
                                   int max_subnet_bits) noexcept
{
    return cover_range<uint32_t, kIpv4Bits>(ntohl(low_ip), ntohl(hi_ip), subnets, max_subnets, max_subnet_bits,
                                            store_ipv4);
}

int iplist_ipv6_iprange_to_subnets(const struct in6_addr *low_ip, const struct in6_addr *hi_ip, ip_cidr *subnets,
                                   int max_subnets, int max_subnet_bits) noexcept
{
    if (low_ip == nullptr || hi_ip == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return cover_range<uint128, kIpv6Bits>(ipv6_to_number(*low_ip), ipv6_to_number(*hi_ip), subnets, max_subnets,
                                           max_subnet_bits, store_ipv6);
}

int iplist_subnet_size_to_bits(uint64_t max_size) noexcept
{
    if (max_size < 2)
        return 0;
    return 64 - __builtin_clzll(max_size - 1);
}

// A negative length keeps no bits.
void iplist_ipv6_mask_cidr(struct in6_addr *ip, int cidr) noexcept
{
    if (ip == nullptr || cidr >= kIpv6Bits)
        return;
    int keep = cidr < 0 ? 0 : cidr;
    int byte = keep / 8;
    if (keep % 8 != 0) {
        ip->s6_addr[byte] &= static_cast<uint8_t>(0xffu << (8 - keep % 8));
        byte++;
    }
    std::memset(ip->s6_addr + byte, 0, sizeof(ip->s6_addr) - static_cast<size_t>(byte));
}

} // extern "C"
