// A hash index over the nodes of a URL list's large sibling trees. A lookup
// in a balanced sibling tree of n nodes follows about log2(n) links, each a
// cache miss in big lists (a host list puts tens of thousands of domains
// under "com"); the index finds the node with one probe instead. It is an
// accelerator only: the trees stay as they are, a tree without an index is
// searched as before, and any doubt (allocation failure, trees changed
// outside the list's own calls) leaves the list without an index.
#ifndef VELMORA_INTERNAL_URLLIST_SIBLING_INDEX_H
#define VELMORA_INTERNAL_URLLIST_SIBLING_INDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velmora/urllist.h"

namespace velmora {

class SiblingIndex {
public:
    // A tree is indexed once an insertion walks this many nodes deep into it
    // (at least about 50 siblings); smaller trees are searched quickly enough.
    static constexpr int kIndexDepth = 8;

    // What the index knows of the tree at `slot` (a parent's child or
    // nocase_child link).
    struct TreeInfo {
        bool has_nocase = false; // holds case-insensitive nodes
    };

    // The indexed tree's information, or NULL when the tree has no index.
    const TreeInfo *tree(URLLIST_ITEM *const *slot) const noexcept;

    // The node of the indexed tree at `slot` with this hash and (non-port)
    // type, or NULL. Only meaningful when tree(slot) is not NULL.
    URLLIST_ITEM *find(URLLIST_ITEM *const *slot, int64_t hash, UrlPart type) const noexcept;

    // Records `node`, just linked into the tree at `slot` after an insertion
    // walk of `depth` nodes: added to the tree's index, or the whole tree
    // indexed when the walk was deep. False when memory ran out; the caller
    // then drops the index.
    bool inserted(URLLIST_ITEM **slot, URLLIST_ITEM *node, int depth) noexcept;

private:
    // A stored node and its key_hash; an empty entry has no node.
    struct Entry {
        uint64_t key = 0;
        URLLIST_ITEM *node = nullptr;
        bool used() const noexcept { return node != nullptr; }
    };

    // An indexed tree and its slot_hash; an empty entry has no slot.
    struct Tree {
        uint64_t key = 0;
        URLLIST_ITEM *const *slot = nullptr;
        TreeInfo info;
        bool used() const noexcept { return slot != nullptr; }
    };

    static uint64_t key_hash(URLLIST_ITEM *const *slot, int64_t hash, UrlPart type) noexcept;
    static uint64_t slot_hash(URLLIST_ITEM *const *slot) noexcept;
    TreeInfo *tree_info(URLLIST_ITEM *const *slot) noexcept;
    TreeInfo &add_tree(URLLIST_ITEM *const *slot);
    void add(URLLIST_ITEM *const *slot, URLLIST_ITEM *node);
    void index_tree(URLLIST_ITEM **slot);

    // Both tables use open addressing with linear probing; their sizes are
    // powers of two. The tree table is small and stays in the cache.
    std::vector<Tree> trees_;
    size_t tree_count_ = 0;
    std::vector<Entry> table_;
    size_t used_ = 0;
};

// The list's index when it may be used: NULL when the list has none (yet),
// or trees were changed outside the list's own calls since it was made.
SiblingIndex *usable_sibling_index(const URLLIST *l) noexcept;

// The list's index for recording an insertion, made on first need; NULL when
// the list cannot have one (see above, or memory ran out).
SiblingIndex *sibling_index_for_insert(URLLIST *l) noexcept;

// Gives up the list's index after an allocation failure: lookups search the
// trees from then on.
void drop_sibling_index(URLLIST *l) noexcept;

// Notes that a tree was changed by a direct call (urllist_add_to_tree from
// outside the list's loader): every index that exists stops being used, as
// the change may have gone into one of its trees.
void note_tree_change_outside_lists() noexcept;

// A new zeroed list with room for its index; released with free_list.
URLLIST *allocate_list() noexcept;
void free_list(URLLIST *l) noexcept;

} // namespace velmora

#endif
