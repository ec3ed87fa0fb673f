#include "internal/urllist_sibling_index.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace velmora {

namespace {

// Raised by every tree change made outside a list's own calls; an index made
// before it may miss that change and is no longer used.
std::atomic<uint64_t> outside_tree_changes{0};

// The list as the library allocates it: the public structure first, then
// what only the library sees.
struct ListBody {
    URLLIST list;
    SiblingIndex *index;  // made on the first deep insertion
    uint64_t epoch;       // outside_tree_changes when the list was made
    bool index_given_up;  // memory ran out once: no index for this list
};

ListBody *body_of(const URLLIST *l) noexcept
{
    return reinterpret_cast<ListBody *>(const_cast<URLLIST *>(l));
}

bool index_allowed(const ListBody *body) noexcept
{
    return !body->index_given_up && body->epoch == outside_tree_changes.load(std::memory_order_relaxed);
}

// MurmurHash3's 64-bit finalizer: a bijection that spreads every input bit.
uint64_t mix(uint64_t x) noexcept
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb93fe53ecd4dULL;
    x ^= x >> 33;
    return x;
}

constexpr size_t kFirstTableSize = 1024;
constexpr size_t kFirstTreeTableSize = 64;

// Both tables of the index use open addressing with linear probing over a
// power-of-two size; their entries carry their hash as `key` and tell
// whether they are in use.
template <typename T>
size_t first_free(const std::vector<T> &table, uint64_t key)
{
    const size_t mask = table.size() - 1;
    size_t at = key & mask;
    while (table[at].used())
        at = (at + 1) & mask;
    return at;
}

template <typename T>
void resize_table(std::vector<T> &table, size_t size)
{
    std::vector<T> bigger(size);
    for (const T &e : table) {
        if (e.used())
            bigger[first_free(bigger, e.key)] = e;
    }
    table.swap(bigger);
}

} // namespace

// For equal hash and type, different slots give different values (an odd
// multiplier is a bijection, and so is mix), so a stored key equal to the
// probe's, with the node's hash and type equal to the token's, proves that
// the node lies in the probed tree.
uint64_t SiblingIndex::key_hash(URLLIST_ITEM *const *slot, int64_t hash, UrlPart type) noexcept
{
    const auto slot_bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(slot));
    return mix(static_cast<uint64_t>(hash) ^ (slot_bits * 0x9e3779b97f4a7c15ULL) ^
               (static_cast<uint64_t>(type) << 56));
}

uint64_t SiblingIndex::slot_hash(URLLIST_ITEM *const *slot) noexcept
{
    return mix(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(slot)));
}

SiblingIndex::TreeInfo *SiblingIndex::tree_info(URLLIST_ITEM *const *slot) noexcept
{
    if (tree_count_ == 0)
        return nullptr;
    const size_t mask = trees_.size() - 1;
    for (size_t at = slot_hash(slot) & mask;; at = (at + 1) & mask) {
        Tree &t = trees_[at];
        if (t.slot == slot)
            return &t.info;
        if (!t.used())
            return nullptr;
    }
}

const SiblingIndex::TreeInfo *SiblingIndex::tree(URLLIST_ITEM *const *slot) const noexcept
{
    return const_cast<SiblingIndex *>(this)->tree_info(slot);
}

// The tree's entry, added (not yet indexed) when missing; at most half full.
SiblingIndex::TreeInfo &SiblingIndex::add_tree(URLLIST_ITEM *const *slot)
{
    if (TreeInfo *known = tree_info(slot))
        return *known;
    if ((tree_count_ + 1) * 2 > trees_.size())
        resize_table(trees_, trees_.empty() ? kFirstTreeTableSize : trees_.size() * 2);
    const uint64_t key = slot_hash(slot);
    Tree &t = trees_[first_free(trees_, key)];
    t = Tree{key, slot, TreeInfo{}};
    tree_count_++;
    return t.info;
}

URLLIST_ITEM *SiblingIndex::find(URLLIST_ITEM *const *slot, int64_t hash, UrlPart type) const noexcept
{
    if (table_.empty())
        return nullptr;
    const uint64_t key = key_hash(slot, hash, type);
    const size_t mask = table_.size() - 1;
    for (size_t at = key & mask;; at = (at + 1) & mask) {
        const Entry &e = table_[at];
        if (!e.used())
            return nullptr;
        if (e.key == key && e.node->hash.city == hash && e.node->itemtype == type)
            return e.node;
    }
}

// Port nodes are left out: ports are searched by range, never by hash.
void SiblingIndex::add(URLLIST_ITEM *const *slot, URLLIST_ITEM *node)
{
    if (node->itemtype == UP_PORT)
        return;
    if ((used_ + 1) * 4 > table_.size() * 3) // at most three quarters full
        resize_table(table_, table_.empty() ? kFirstTableSize : table_.size() * 2);
    const uint64_t key = key_hash(slot, node->hash.city, node->itemtype);
    table_[first_free(table_, key)] = Entry{key, node};
    used_++;
}

void SiblingIndex::index_tree(URLLIST_ITEM **slot)
{
    TreeInfo &info = add_tree(slot);
    std::vector<URLLIST_ITEM *> pending{*slot};
    while (!pending.empty()) {
        URLLIST_ITEM *node = pending.back();
        pending.pop_back();
        if (node == nullptr)
            continue;
        add(slot, node);
        info.has_nocase = info.has_nocase || node->nocase != 0;
        pending.push_back(node->low);
        pending.push_back(node->high);
    }
}

bool SiblingIndex::inserted(URLLIST_ITEM **slot, URLLIST_ITEM *node, int depth) noexcept
{
    try {
        if (TreeInfo *info = tree_info(slot)) {
            add(slot, node);
            info->has_nocase = info->has_nocase || node->nocase != 0;
        } else if (depth >= kIndexDepth) {
            index_tree(slot);
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

SiblingIndex *usable_sibling_index(const URLLIST *l) noexcept
{
    const ListBody *body = body_of(l);
    return body->index != nullptr && index_allowed(body) ? body->index : nullptr;
}

SiblingIndex *sibling_index_for_insert(URLLIST *l) noexcept
{
    ListBody *body = body_of(l);
    if (!index_allowed(body))
        return nullptr;
    if (body->index == nullptr) {
        body->index = new (std::nothrow) SiblingIndex;
        body->index_given_up = body->index == nullptr;
    }
    return body->index;
}

void drop_sibling_index(URLLIST *l) noexcept
{
    ListBody *body = body_of(l);
    delete body->index;
    body->index = nullptr;
    body->index_given_up = true;
}

void note_tree_change_outside_lists() noexcept
{
    outside_tree_changes.fetch_add(1, std::memory_order_relaxed);
}

URLLIST *allocate_list() noexcept
{
    auto *body = static_cast<ListBody *>(std::calloc(1, sizeof(ListBody)));
    if (body == nullptr)
        return nullptr;
    body->epoch = outside_tree_changes.load(std::memory_order_relaxed);
    return &body->list;
}

void free_list(URLLIST *l) noexcept
{
    if (l == nullptr)
        return;
    ListBody *body = body_of(l);
    delete body->index;
    std::free(body);
}

} // namespace velmora
