// Working structures of the query lookup that a decomposed URL record owns.
// The record only declares them (its header is plain C); they are defined
// here so that releasing the record can destroy them (with delete: the lookup
// makes them with new).
#ifndef VELMORA_INTERNAL_EXPLODED_URL_CACHES_H
#define VELMORA_INTERNAL_EXPLODED_URL_CACHES_H

#include <cstdint>
#include <set>
#include <vector>

// The URL's query elements as a multi-set of hashes: every element's full
// hash and, for loose matching, every element's name hash.
struct urllist_query_element_set {
    std::multiset<int64_t> hashes;
    bool with_names = true; // false: full hashes only (exact matching)
};

// Scratch of one query match: occurrences taken out of the element set while
// a pattern is tried, put back afterwards.
struct urllist_query_foundlist {
    std::vector<int64_t> taken;
};

#endif
