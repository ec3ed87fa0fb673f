// Adding URL patterns: the entry is decomposed in list mode and laid into the
// host, path or query tree, or, when its host is an address, a network or an
// address range, below address nodes kept in the IP list of its scheme.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "internal/urllist_load.h"
#include "internal/urllist_store.h"
#include "velmora/qxlog.h"

namespace {

struct ExplodedDeleter {
    void operator()(URLLIST_EXPLODED_URL *u) const noexcept { urllist_free_urllist_exploded_url(u); }
};
using ExplodedEntry = std::unique_ptr<URLLIST_EXPLODED_URL, ExplodedDeleter>;

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// Longest text kept for the node of a single address.
constexpr size_t address_text_max = 46;
// Most networks one address range is split into.
constexpr int max_range_networks = 256;

struct UrlCounters {
    int URLLIST::*total;
    int URLLIST::*loaded;
};

UrlCounters url_counters(char kind)
{
    switch (kind) {
    case 'Q': return {&URLLIST::total_query_count, &URLLIST::loaded_query_count};
    case 'S': return {&URLLIST::total_scheme_count, &URLLIST::loaded_scheme_count};
    case 'P': return {&URLLIST::total_path_count, &URLLIST::loaded_path_count};
    default: return {&URLLIST::total_url_count, &URLLIST::loaded_url_count};
    }
}

// The entry decomposed in list mode; on failure *rc is -3 for a pattern the
// decomposition rejected, -2 for lack of memory.
ExplodedEntry explode_entry(const URLLIST *l, const char *item, int flags, int *rc)
{
    cat_t cats{};
    if (category_init(&cats) != 0) {
        *rc = -2;
        return nullptr;
    }
    ExplodedEntry entry(urllist_explode_charset(item, &cats, 0, flags, l->charset_data));
    if (!entry)
        *rc = category_search(&cats, URLLIST_CATEGORY_INVALID_URL) >= 0 ? -3 : -2;
    category_destroy(&cats);
    return entry;
}

int lay_into(URLLIST *l, URLLIST_ITEM *root, URLLIST_EXPLODED_URL *u, int first, URLLIST_ITEM_DATA *data,
             int overwrite, int cloned, int flags)
{
    return velmora::add_to_list_tree(l, root, u, first, data, overwrite, cloned, flags) != 0 ? -2 : 0;
}

int add_to_host_tree(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA *data, int flags)
{
    if (l->addcallback != nullptr && !(flags & URLLIST_EXPLODE_HASHED))
        l->addcallback(l->addcallback_data, u);
    return lay_into(l, &l->root, u, 0, data, 1, 0, flags);
}

// ---- Address entries ----

bool is_ipv6(const qx_ipaddr &ip)
{
    return ip.family == AF_INET6;
}

int address_bits(const qx_ipaddr &ip)
{
    return is_ipv6(ip) ? 128 : 32;
}

bool is_unspecified(const qx_ipaddr &ip)
{
    if (!is_ipv6(ip))
        return ip.addr.ip == 0;
    static const in6_addr any = IN6ADDR_ANY_INIT;
    return std::memcmp(&ip.addr.ip6, &any, sizeof any) == 0;
}

// The whole address space of the family of ip.
void full_range(const qx_ipaddr &ip, qx_ipaddr *low, qx_ipaddr *high)
{
    *low = qx_ipaddr{};
    *high = qx_ipaddr{};
    low->family = high->family = ip.family;
    if (is_ipv6(ip))
        std::memset(&high->addr.ip6, 0xff, sizeof high->addr.ip6);
    else
        high->addr.ip = 0xffffffffu;
}

// Byte order of network order addresses is their numeric order.
bool comes_after(const qx_ipaddr &a, const qx_ipaddr &b)
{
    size_t size = is_ipv6(a) ? sizeof a.addr.ip6 : sizeof a.addr.ip;
    return a.family == b.family && std::memcmp(&a.addr, &b.addr, size) > 0;
}

bool scheme_is_wildcard(const URLLIST_EXPLODED_URL *u)
{
    const URLLIST_TOKEN &scheme = u->tokens[0];
    return scheme.item != nullptr && scheme.type == UP_PROTO &&
           (std::strcmp(scheme.item, "*") == 0 || scheme.hash.city == wildcard_hash.city);
}

// The IP list of the entry's scheme, made on first use; NULL when it cannot
// be made.
iphead *iplist_of_scheme(URLLIST *l, const URLLIST_EXPLODED_URL *u)
{
    if (scheme_is_wildcard(u)) {
        if (l->wildcard_iplist == nullptr)
            l->wildcard_iplist = static_cast<iphead *>(iplist_init(nullptr, nullptr));
        return l->wildcard_iplist;
    }
    char key[41];
    urllist_hash2str(&u->scheme_hash, key, sizeof key);
    iphead *list = velmora::find_scheme_iplist(l, key);
    return list != nullptr ? list : urllist_add_iplist_for_scheme(l, key);
}

// Index of the first token after the scheme and host tokens.
int first_token_after_host(const URLLIST_EXPLODED_URL *u)
{
    int s = 1;
    while (u->tokens[s].item != nullptr && u->tokens[s].type == UP_HOST)
        s++;
    return s;
}

// Text of an address node: the host as written, in brackets for IPv6.
std::string address_node_text(const URLLIST_EXPLODED_URL *u, size_t max_len)
{
    size_t len = std::min(static_cast<size_t>(u->host_length), max_len);
    std::string host(u->host, len);
    return is_ipv6(u->ip) || u->hostHasBrackets ? "[" + host + "]" : host;
}

// A new address node takes over the entries of the closest bigger network:
// its record, query patterns and subtrees.
bool inherit_network_entries(URLLIST_ITEM *node, const URLLIST_ITEM *bigger)
{
    if (bigger->data != nullptr) {
        node->data = bigger->data;
        velmora::hold_record(node->data);
    }
    return urllist_clone_urllist_item_query(bigger, node) == 0 &&
           urllist_clone_urllist_item(bigger->child, &node->child) == 0 &&
           urllist_clone_urllist_item(bigger->nocase_child, &node->nocase_child) == 0 &&
           urllist_clone_urllist_item(bigger->wildcard_child, &node->wildcard_child) == 0;
}

// Where an entry for one network of an IP list goes.
struct NetworkEntry {
    URLLIST *l;
    iphead *iplist;
    URLLIST_EXPLODED_URL *u;
    URLLIST_ITEM_DATA *data;
    int flags;
    int first; // first token laid below the address node
};

// Lays the entry below the node of network ip/bits, making the node when the
// network is not stored yet.
int add_below_network(const NetworkEntry &e, const qx_ipaddr &ip, int bits, const std::string &text)
{
    void *exact = nullptr;
    void *bigger = nullptr;
    iplist_get_overlapped(e.iplist, &ip, bits, &exact, &bigger);
    if (exact != nullptr)
        return lay_into(e.l, static_cast<URLLIST_ITEM *>(exact), e.u, e.first, e.data, 1, 0, e.flags);
    URLLIST_ITEM *node = urllist_new_urllist_nohashed_item(text.c_str(), UP_HOST, 0);
    if (node == nullptr)
        return -2;
    bool copied = (e.u->path != nullptr || e.u->query != nullptr) && bigger != nullptr;
    if (copied && !inherit_network_entries(node, static_cast<const URLLIST_ITEM *>(bigger))) {
        urllist_terminate_urllist_item(node);
        return -2;
    }
    node->low = e.l->ipitems;
    e.l->ipitems = node;
    int rc = iplist_add_cidr(e.iplist, &ip, bits, node);
    if (rc == -3) {
        qxlog_send(QXLOG_ERROR, "urllist_add: iplist internal error\n");
        return -3;
    }
    if (rc != 0)
        return -2;
    return lay_into(e.l, node, e.u, e.first, e.data, 1, copied ? 1 : 0, e.flags);
}

// Stored networks inside a network of a range that have no result of their
// own receive the range's entry too, without replacing anything.
int hand_to_smaller_networks(const NetworkEntry &e, const qx_ipaddr &ip, int bits)
{
    void **smaller = nullptr;
    int n = iplist_get_contained_subnets(e.iplist, &ip, bits, &smaller);
    std::unique_ptr<void *, FreeDeleter> owned(smaller);
    if (n < 0)
        return -2;
    for (int k = 0; k < n; k++) {
        auto *node = static_cast<URLLIST_ITEM *>(smaller[k]);
        if (node->data == nullptr && lay_into(e.l, node, e.u, e.first, e.data, 0, 0, e.flags) != 0)
            return -2;
    }
    return 0;
}

int add_address_range(const NetworkEntry &e, qx_ipaddr low, qx_ipaddr high, const std::string &text)
{
    if (comes_after(low, high))
        std::swap(low, high); // written high end first
    std::unique_ptr<ip_cidr, FreeDeleter> networks(
        static_cast<ip_cidr *>(std::calloc(max_range_networks, sizeof(ip_cidr))));
    if (!networks)
        return -2;
    int n = iplist_iprange_to_subnets(&low, &high, networks.get(), max_range_networks);
    if (n < 0) {
        qxlog_send(QXLOG_ERROR, "urllist_add: divide range to subnets\n");
        return -2;
    }
    for (int k = 0; k < n; k++) {
        const ip_cidr &net = networks.get()[k];
        int rc = hand_to_smaller_networks(e, net.ip, net.cidr);
        if (rc == 0)
            rc = add_below_network(e, net.ip, net.cidr, text);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int add_address_entry(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA *data, int flags,
                      const qx_ipaddr *range_low, const qx_ipaddr *range_high)
{
    iphead *iplist = iplist_of_scheme(l, u);
    if (iplist == nullptr) {
        qxlog_send(QXLOG_ERROR, "urllist_add: couldn't allocate an iplist\n");
        return -2;
    }
    NetworkEntry e{l, iplist, u, data, flags, first_token_after_host(u)};
    if (range_low == nullptr)
        return add_below_network(e, u->ip, address_bits(u->ip), address_node_text(u, address_text_max));
    return add_address_range(e, *range_low, *range_high, address_node_text(u, SIZE_MAX));
}

// A host name that reads as an address range goes into an IP list; one that
// only looks like a range is an ordinary host name after all.
int add_named_host_entry(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA *data, int flags)
{
    if (u->host_length > 0 && iplist_hostname_is_ip_range(u->host, u->host_length, u->hostHasBrackets)) {
        std::string host(u->host, static_cast<size_t>(u->host_length));
        qx_ipaddr low{}, high{};
        if (iplist_rangestring_to_ips(host.c_str(), &low, &high) == 0) {
            u->ip.family = low.family; // the family decides the node's brackets
            return add_address_entry(l, u, data, flags, &low, &high);
        }
    }
    return add_to_host_tree(l, u, data, flags);
}

int add_exploded_entry(URLLIST *l, URLLIST_EXPLODED_URL *u, char kind, URLLIST_ITEM_DATA *data, int flags)
{
    if (kind == 'P')
        return lay_into(l, &l->path_root, u, 0, data, 1, 0, flags);
    if (kind == 'Q')
        return lay_into(l, &l->query_root, u, 0, data, 1, 0, flags);
    if (!u->isIP)
        return add_named_host_entry(l, u, data, flags);
    if (!is_unspecified(u->ip))
        return add_address_entry(l, u, data, flags, nullptr, nullptr);
    // 0.0.0.0 and :: stand for every address of their family.
    qx_ipaddr low{}, high{};
    full_range(u->ip, &low, &high);
    return add_address_entry(l, u, data, flags, &low, &high);
}

} // namespace

namespace velmora {

int add_url_entry(URLLIST *l, const char *item, char kind, URLLIST_ITEM_DATA *data, int flags) noexcept
{
    UrlCounters counters = url_counters(kind);
    (l->*counters.total)++;
    int rc = 0;
    try {
        ExplodedEntry u = explode_entry(l, item, flags, &rc);
        if (!u)
            return rc;
        rc = add_exploded_entry(l, u.get(), kind, data, flags);
    } catch (const std::bad_alloc &) {
        return -2;
    }
    if (rc == 0) {
        (l->*counters.loaded)++;
        l->loaded_count++;
    }
    return rc;
}

} // namespace velmora

extern "C" {

int urllist_add_url(URLLIST *l, const char *item, const char *type, URLLIST_ITEM_DATA *data, int flags) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    char kind = type != nullptr && type[0] != '\0' ? type[0] : 'U';
    int rc = velmora::add_url_entry(l, item, kind, data, flags);
    velmora::release_if_unheld(data);
    return rc;
}

iphead *urllist_add_iplist_for_scheme(URLLIST *l, const char *scheme) noexcept
{
    if (l == nullptr || scheme == nullptr)
        return nullptr;
    auto *list = static_cast<iphead *>(iplist_init(nullptr, nullptr));
    if (list == nullptr)
        return nullptr;
    if (velmora::store_scheme_iplist(l, scheme, list) != 0) {
        iplist_terminate(list);
        return nullptr;
    }
    return list;
}

} // extern "C"
