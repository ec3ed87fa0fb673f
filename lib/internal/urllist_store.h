// Private layout of the URL list's containers and the record rules shared by
// the store, the query patterns, the digests, the loader and the lookup.
#ifndef VELMORA_INTERNAL_URLLIST_STORE_H
#define VELMORA_INTERNAL_URLLIST_STORE_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "velmora/urllist.h"

// Query index of one node and one case mode. Every stored item is owned by
// `items` (in load order; the newest is "first" in list order). `by_element`
// maps each element hash to the items containing it, in match-preference
// order: most elements first, then fewest bare names, then load order.
struct URLLIST_QUERY_TREE {
    std::map<int64_t, std::vector<URLLIST_QUERY_ITEM *>> by_element;
    std::vector<URLLIST_QUERY_ITEM *> items;
};

namespace velmora {

// Orders digest keys as urllist_cmp_digest does.
struct DigestKeyLess {
    bool operator()(const unsigned char *a, const unsigned char *b) const noexcept
    {
        return urllist_cmp_digest(a, b) < 0;
    }
};

} // namespace velmora

// Digest entries: keys (length byte and digest bytes, malloc) and their
// records, both owned; released with the list.
struct urllist_digest_tree {
    std::map<unsigned char *, URLLIST_ITEM_DATA *, velmora::DigestKeyLess> entries;
    ~urllist_digest_tree();
};

// One IP list per scheme, keyed by the 16-digit hash string of the scheme's
// hash; the lists are owned and released with urllist_iplist_terminate.
struct urllist_iplist_map {
    std::unordered_map<std::string, iphead *> lists;
    ~urllist_iplist_map();
};

namespace velmora {

// A tree slot takes one reference of a record.
inline void hold_record(URLLIST_ITEM_DATA *data) noexcept
{
    data->refcount++;
}

// A tree slot lets go of its record; the last reference releases it.
void drop_record(URLLIST_ITEM_DATA *data) noexcept;

// The expiry rule of records found in tree nodes, query patterns and regular
// expressions: ttl at least 1 and not later than the current time.
bool tree_record_expired(const URLLIST_ITEM_DATA *data) noexcept;

// Lays an entry's tokens below node i as urllist_add_to_tree does; `l` is the
// list the tree belongs to (its index learns of new nodes), or NULL.
int add_to_list_tree(URLLIST *l, URLLIST_ITEM *i, URLLIST_EXPLODED_URL *urlinfo, int a, URLLIST_ITEM_DATA *data,
                     int overwrite, int cloned, int flags) noexcept;

// The IP list stored for a scheme hash string, or NULL.
iphead *find_scheme_iplist(const URLLIST *l, std::string_view key) noexcept;
// Stores iplist under key, making the map on first use: 0, 1 when the key is
// already taken, -1 when out of memory. Ownership passes only on 0.
int store_scheme_iplist(URLLIST *l, std::string_view key, iphead *iplist) noexcept;

// Stores a digest key and its record, making the tree on first use: 0 (both
// owned by the list from now), 1 when an equal key is stored already (the
// first entry stays; nothing taken), -1 out of memory (nothing taken).
int store_digest(URLLIST *l, unsigned char *key, URLLIST_ITEM_DATA *data) noexcept;

} // namespace velmora

#endif
