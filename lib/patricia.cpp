#include "velmora/patricia.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <new>

#include "internal/patricia_preorder.h"
#include "internal/patricia_tuning.h"
#include "internal/slot_pool.h"

namespace {

using WalkFunc = void (*)(prefix_t *, void *, void *);
using DataFreeFunc = void (*)(void *);

constexpr uint32_t kMaxTreeBits = 128;
constexpr int kCandidateCapacity = velmora::kPatriciaPathCapacity;

// Heap prefixes of family AF_INET hold 4 address bytes; every other prefix 16.
size_t address_size(int family)
{
    return family == AF_INET ? 4 : 16;
}

uint32_t address_width(const prefix_t *prefix)
{
    return static_cast<uint32_t>(address_size(prefix->family) * 8);
}

// The address is reached through bytes only: a short IPv4 heap prefix must
// never be read as the whole union.
const uint8_t *address_of(const prefix_t *prefix)
{
    return reinterpret_cast<const uint8_t *>(prefix) + offsetof(prefix_t, add);
}

uint8_t *address_of(prefix_t *prefix)
{
    return reinterpret_cast<uint8_t *>(prefix) + offsetof(prefix_t, add);
}

// Bits beyond the prefix's family width read as 0, so a short IPv4 prefix met
// in a wider tree is never read past its storage.
bool bit_is_set(const prefix_t *prefix, uint32_t bit)
{
    if (bit >= address_width(prefix))
        return false;
    return (address_of(prefix)[bit >> 3] & (0x80u >> (bit & 7))) != 0;
}

// Callers keep bits within the width of both prefixes.
bool addresses_agree(const prefix_t *a, const prefix_t *b, uint32_t bits)
{
    const uint8_t *x = address_of(a);
    const uint8_t *y = address_of(b);
    // A plain loop: the lengths are short and a library call costs more than
    // the comparison on the lookup path.
    size_t whole = bits / 8;
    for (size_t i = 0; i < whole; i++)
        if (x[i] != y[i])
            return false;
    uint32_t rest = bits % 8;
    if (rest == 0)
        return true;
    auto mask = static_cast<uint8_t>(0xffu << (8 - rest));
    return ((x[whole] ^ y[whole]) & mask) == 0;
}

// The first bit below limit where the two addresses differ, or limit.
uint32_t first_differing_bit(const prefix_t *a, const prefix_t *b, uint32_t limit)
{
    const uint8_t *x = address_of(a);
    const uint8_t *y = address_of(b);
    for (uint32_t byte = 0; byte * 8 < limit; byte++) {
        unsigned diff = static_cast<unsigned>(x[byte] ^ y[byte]);
        if (diff == 0)
            continue;
        uint32_t bit = byte * 8 + static_cast<uint32_t>(__builtin_clz(diff) - 24);
        return bit < limit ? bit : limit;
    }
    return limit;
}

// The trie reads a prefix only when its length fits both the tree and the
// prefix's own address storage.
bool prefix_fits(const patricia_tree_t *tree, const prefix_t *prefix)
{
    return tree != nullptr && prefix != nullptr && prefix->bitlen <= tree->maxbits &&
           prefix->bitlen <= address_width(prefix);
}

constexpr size_t kShortPrefixSlot = 16; // 12-byte AF_INET prefix
constexpr size_t kLongPrefixSlot = 24;  // 24-byte prefix with 16 address bytes

// Searches for prefixes of 16 bits or more start from an index of the first
// 16 address bits once a tree is large: one entry per 16-bit value holds the
// first node on that value's path testing bit 16 or beyond, and the deepest
// prefix node above it that covers the value. Writers keep the entries current.
constexpr uint32_t kIndexBits = 16;
constexpr uint32_t kIndexEntries = 1u << kIndexBits;

struct IndexEntry {
    patricia_node_t *below;
    patricia_node_t *covering;
};

struct LeadingBitsIndex {
    IndexEntry entries[kIndexEntries];
};

// What patricia_init allocates: the public tree first, so a tree pointer is
// also a pointer to its storage. Nodes and the trie's own prefix copies live
// in slot pools: no allocator header per record, and a tree of random
// networks holds about as many glue nodes as prefix nodes.
struct TreeStorage {
    patricia_tree_t tree{};
    velmora::SlotPool nodes{sizeof(patricia_node_t)};
    velmora::SlotPool short_prefixes{kShortPrefixSlot};
    velmora::SlotPool long_prefixes{kLongPrefixSlot};
    LeadingBitsIndex *index = nullptr;
};

TreeStorage &storage_of(const patricia_tree_t *tree)
{
    return *reinterpret_cast<TreeStorage *>(const_cast<patricia_tree_t *>(tree));
}

velmora::SlotPool &prefix_pool(patricia_tree_t *tree, int family)
{
    TreeStorage &storage = storage_of(tree);
    return family == AF_INET ? storage.short_prefixes : storage.long_prefixes;
}

// The prefix a node keeps. A heap prefix is shared (one more reference); a
// prefix in caller storage is copied into the tree's own slots and keeps
// ref_count 0 there: it goes with its node, and patricia_prefix_ref of it
// hands out an independent heap copy, so no reference can outlive the slot.
prefix_t *adopt_prefix(patricia_tree_t *tree, prefix_t *prefix)
{
    if (prefix->ref_count != 0)
        return patricia_prefix_ref(prefix);
    void *slot = prefix_pool(tree, prefix->family).take();
    if (slot == nullptr)
        return nullptr;
    auto *copy = static_cast<prefix_t *>(slot);
    copy->family = prefix->family;
    copy->bitlen = prefix->bitlen;
    copy->ref_count = 0;
    std::memcpy(address_of(copy), address_of(prefix), address_size(prefix->family));
    return copy;
}

void drop_prefix(patricia_tree_t *tree, prefix_t *prefix)
{
    if (prefix == nullptr)
        return;
    if (prefix->ref_count == 0)
        prefix_pool(tree, prefix->family).give_back(prefix);
    else
        patricia_prefix_deref(prefix);
}

patricia_node_t *new_node(patricia_tree_t *tree, uint32_t bit, prefix_t *prefix)
{
    auto *node = static_cast<patricia_node_t *>(storage_of(tree).nodes.take());
    if (node != nullptr) {
        node->bit = bit;
        node->prefix = prefix;
    }
    return node;
}

void give_back_node(patricia_tree_t *tree, patricia_node_t *node)
{
    storage_of(tree).nodes.give_back(node);
}

uint32_t leading_bits(const prefix_t *prefix)
{
    const uint8_t *a = address_of(prefix);
    return (static_cast<uint32_t>(a[0]) << 8) | a[1];
}

bool leading_bit_set(uint32_t value, uint32_t bit)
{
    return ((value >> (kIndexBits - 1 - bit)) & 1u) != 0;
}

// bits is below 16.
bool leading_bits_agree(const prefix_t *prefix, uint32_t value, uint32_t bits)
{
    uint32_t mask = (0xffffu << (kIndexBits - bits)) & 0xffffu;
    return ((leading_bits(prefix) ^ value) & mask) == 0;
}

IndexEntry compute_entry(const patricia_tree_t *tree, uint32_t value)
{
    IndexEntry entry{tree->head, nullptr};
    while (entry.below != nullptr && entry.below->bit < kIndexBits) {
        patricia_node_t *node = entry.below;
        if (node->prefix != nullptr && leading_bits_agree(node->prefix, value, node->bit))
            entry.covering = node;
        entry.below = leading_bit_set(value, node->bit) ? node->r : node->l;
    }
    return entry;
}

// Recomputes the entries of every value whose path reaches the slot below
// parent on the given side (parent NULL: the head, so every value). Only those
// entries can change when the subtree in that slot changes.
void refresh_slot(patricia_tree_t *tree, const patricia_node_t *parent, bool right)
{
    LeadingBitsIndex *index = storage_of(tree).index;
    if (index == nullptr || (parent != nullptr && parent->bit >= kIndexBits))
        return;
    uint32_t fixed_mask = 0;
    uint32_t fixed_value = 0;
    for (const patricia_node_t *node = parent; node != nullptr; node = node->parent) {
        uint32_t bit = 1u << (kIndexBits - 1 - node->bit);
        fixed_mask |= bit;
        if (right)
            fixed_value |= bit;
        right = node->parent != nullptr && node->parent->r == node;
    }
    uint32_t free_mask = (kIndexEntries - 1) & ~fixed_mask;
    uint32_t free_bits = 0;
    do {
        uint32_t value = fixed_value | free_bits;
        index->entries[value] = compute_entry(tree, value);
        free_bits = (free_bits - free_mask) & free_mask;
    } while (free_bits != 0);
}

void refresh_slot_of(patricia_tree_t *tree, const patricia_node_t *node)
{
    const patricia_node_t *parent = node->parent;
    refresh_slot(tree, parent, parent != nullptr && parent->r == node);
}

void build_index_when_large(patricia_tree_t *tree)
{
    TreeStorage &storage = storage_of(tree);
    if (storage.index != nullptr || tree->maxbits < kIndexBits ||
        tree->num_active_node < velmora::patricia_index_min_nodes)
        return;
    storage.index = static_cast<LeadingBitsIndex *>(std::malloc(sizeof(LeadingBitsIndex)));
    // Without the index searches simply start at the head.
    if (storage.index != nullptr)
        refresh_slot(tree, nullptr, false);
}

void drop_index(patricia_tree_t *tree)
{
    std::free(storage_of(tree).index);
    storage_of(tree).index = nullptr;
}

const IndexEntry *index_entry(const patricia_tree_t *tree, const prefix_t *prefix)
{
    const LeadingBitsIndex *index = storage_of(tree).index;
    if (index == nullptr || prefix->bitlen < kIndexBits)
        return nullptr;
    return &index->entries[leading_bits(prefix)];
}

// Puts replacement where old hangs (under old's parent, or as head).
void replace_in_parent(patricia_tree_t *tree, patricia_node_t *old, patricia_node_t *replacement)
{
    patricia_node_t *parent = old->parent;
    if (replacement != nullptr)
        replacement->parent = parent;
    if (parent == nullptr)
        tree->head = replacement;
    else if (parent->r == old)
        parent->r = replacement;
    else
        parent->l = replacement;
}

void attach_child(patricia_node_t *parent, patricia_node_t *child, bool right)
{
    child->parent = parent;
    if (right)
        parent->r = child;
    else
        parent->l = child;
}

void release_node(patricia_tree_t *tree, patricia_node_t *node)
{
    drop_prefix(tree, node->prefix);
    give_back_node(tree, node);
    tree->num_active_node--;
}

patricia_node_t *step_towards(const patricia_node_t *node, const prefix_t *prefix)
{
    return bit_is_set(prefix, node->bit) ? node->r : node->l;
}

// Deepest-first list of the prefix nodes passed on a search path.
struct CandidateStack {
    patricia_node_t *nodes[kCandidateCapacity + 1];
    int count = 0;

    void push(patricia_node_t *node)
    {
        if (count <= kCandidateCapacity)
            nodes[count++] = node;
    }
    patricia_node_t *pop() { return count > 0 ? nodes[--count] : nullptr; }
};

// Descends from node while the tested bit is below bitlen, collecting prefix
// nodes and the deepest node passed; returns the node where the descent stopped.
patricia_node_t *descend_collecting(patricia_node_t *node, const prefix_t *prefix, CandidateStack &candidates,
                                    patricia_node_t **last_passed)
{
    while (node != nullptr && node->bit < prefix->bitlen) {
        if (node->prefix != nullptr)
            candidates.push(node);
        if (last_passed != nullptr)
            *last_passed = node;
        node = step_towards(node, prefix);
    }
    return node;
}

bool holds_exactly(const patricia_node_t *node, const prefix_t *prefix)
{
    return node != nullptr && node->bit == prefix->bitlen && node->prefix != nullptr &&
           addresses_agree(node->prefix, prefix, prefix->bitlen);
}

// Candidates are shorter than (or, inclusive, as long as) the query, so a
// candidate covers it when their addresses agree over the candidate's length.
patricia_node_t *deepest_covering(CandidateStack &candidates, const prefix_t *prefix,
                                  patricia_match_func_t match_func)
{
    while (patricia_node_t *node = candidates.pop()) {
        if (!addresses_agree(node->prefix, prefix, node->bit))
            continue;
        if (match_func == nullptr || match_func(node) != 0)
            return node;
    }
    return nullptr;
}

// Descends to a node holding a prefix that shares the new prefix's path:
// glue nodes are passed since they always have two children.
patricia_node_t *descend_for_insert(const patricia_tree_t *tree, const prefix_t *prefix)
{
    patricia_node_t *node = tree->head;
    while (node->bit < prefix->bitlen || node->prefix == nullptr) {
        bool right = node->bit < tree->maxbits && bit_is_set(prefix, node->bit);
        patricia_node_t *next = right ? node->r : node->l;
        if (next == nullptr)
            break;
        node = next;
    }
    return node;
}

patricia_node_t *new_prefix_node(patricia_tree_t *tree, prefix_t *prefix)
{
    prefix_t *owned = adopt_prefix(tree, prefix);
    if (owned == nullptr)
        return nullptr;
    patricia_node_t *node = new_node(tree, prefix->bitlen, owned);
    if (node == nullptr)
        drop_prefix(tree, owned);
    return node;
}

patricia_node_t *insert_into_empty(patricia_tree_t *tree, prefix_t *prefix)
{
    patricia_node_t *node = new_prefix_node(tree, prefix);
    if (node != nullptr) {
        tree->head = node;
        tree->num_active_node++;
        refresh_slot_of(tree, node);
    }
    return node;
}

// Inserts added (length differ) where node hangs, with node below it; reached
// is the prefix node the descent ended at. node may be a glue node, so the side
// comes from reached's address, which shares node's leading bits.
void insert_above(patricia_tree_t *tree, patricia_node_t *node, patricia_node_t *added, const prefix_t *reached)
{
    uint32_t bitlen = added->bit;
    replace_in_parent(tree, node, added);
    attach_child(added, node, bitlen < tree->maxbits && bit_is_set(reached, bitlen));
}

// Hangs added and node below a new glue node testing bit differ.
bool insert_with_glue(patricia_tree_t *tree, patricia_node_t *node, patricia_node_t *added, uint32_t differ)
{
    patricia_node_t *glue = new_node(tree, differ, nullptr);
    if (glue == nullptr)
        return false;
    tree->num_active_node++;
    replace_in_parent(tree, node, glue);
    bool added_right = differ < tree->maxbits && bit_is_set(added->prefix, differ);
    attach_child(glue, added, added_right);
    attach_child(glue, node, !added_right);
    return true;
}

patricia_node_t *lookup_in_tree(patricia_tree_t *tree, prefix_t *prefix)
{
    uint32_t bitlen = prefix->bitlen;
    patricia_node_t *node = descend_for_insert(tree, prefix);
    const prefix_t *reached = node->prefix;
    uint32_t check = node->bit < bitlen ? node->bit : bitlen;
    uint32_t differ = first_differing_bit(prefix, reached, check);

    while (node->parent != nullptr && node->parent->bit >= differ)
        node = node->parent;

    if (differ == bitlen && node->bit == bitlen) {
        if (node->prefix == nullptr) {
            node->prefix = adopt_prefix(tree, prefix);
            refresh_slot_of(tree, node);
        }
        return node->prefix != nullptr ? node : nullptr;
    }

    patricia_node_t *added = new_prefix_node(tree, prefix);
    if (added == nullptr)
        return nullptr;
    // The topmost changed slot: the new node's, or the new glue node's.
    patricia_node_t *topmost = added;
    if (node->bit == differ) {
        attach_child(node, added, node->bit < tree->maxbits && bit_is_set(prefix, node->bit));
    } else if (bitlen == differ) {
        insert_above(tree, node, added, reached);
    } else if (insert_with_glue(tree, node, added, differ)) {
        topmost = added->parent;
    } else {
        drop_prefix(tree, added->prefix);
        give_back_node(tree, added);
        return nullptr;
    }
    tree->num_active_node++;
    refresh_slot_of(tree, topmost);
    return added;
}

void remove_leaf(patricia_tree_t *tree, patricia_node_t *node)
{
    patricia_node_t *parent = node->parent;
    bool was_right = parent != nullptr && parent->r == node;
    release_node(tree, node);
    if (parent == nullptr) {
        tree->head = nullptr;
        refresh_slot(tree, nullptr, false);
        return;
    }
    if (was_right)
        parent->r = nullptr;
    else
        parent->l = nullptr;
    if (parent->prefix != nullptr) {
        refresh_slot(tree, parent, was_right);
        return;
    }
    // A glue node left with one child is no longer needed.
    patricia_node_t *only = parent->l != nullptr ? parent->l : parent->r;
    replace_in_parent(tree, parent, only);
    give_back_node(tree, parent);
    tree->num_active_node--;
    refresh_slot_of(tree, only);
}

size_t inorder_from(patricia_node_t *node, WalkFunc func, void *arg)
{
    size_t visited = 0;
    while (node != nullptr) {
        if (node->l != nullptr)
            visited += inorder_from(node->l, func, arg);
        if (node->prefix != nullptr) {
            func(node->prefix, node->data, arg);
            visited++;
        }
        node = node->r;
    }
    return visited;
}

char *next_static_buffer()
{
    static char buffers[16][53];
    static std::atomic<unsigned> next{0};
    return buffers[next.fetch_add(1, std::memory_order_relaxed) % 16];
}

// A prefix in local storage for the convenience calls; NULL when the address
// or length is not acceptable.
prefix_t *local_prefix(int family, const void *address, int cidr, prefix_t *storage)
{
    if (address == nullptr)
        return nullptr;
    return patricia_prefix_new2(family, address, cidr, storage);
}

int add_address(patricia_tree_t *tree, int family, const void *address, int cidr, void *data)
{
    prefix_t storage;
    prefix_t *prefix = local_prefix(family, address, cidr, &storage);
    patricia_node_t *node = prefix != nullptr ? patricia_lookup(tree, prefix) : nullptr;
    if (node == nullptr)
        return 1;
    node->data = data;
    return 0;
}

void *delete_address(patricia_tree_t *tree, int family, const void *address, int cidr)
{
    prefix_t storage;
    prefix_t *prefix = local_prefix(family, address, cidr, &storage);
    patricia_node_t *node = prefix != nullptr ? patricia_search_exact(tree, prefix) : nullptr;
    if (node == nullptr)
        return nullptr;
    void *data = node->data;
    patricia_remove(tree, node);
    return data;
}

patricia_node_t *exact_node(patricia_tree_t *tree, int family, const void *address, int cidr)
{
    prefix_t storage;
    prefix_t *prefix = local_prefix(family, address, cidr, &storage);
    return prefix != nullptr ? patricia_search_exact(tree, prefix) : nullptr;
}

patricia_node_t *best_node(patricia_tree_t *tree, int family, const void *address)
{
    prefix_t storage;
    prefix_t *prefix = local_prefix(family, address, -1, &storage);
    return prefix != nullptr ? patricia_search_best(tree, prefix) : nullptr;
}

} // namespace

namespace velmora {
int32_t patricia_index_min_nodes = 1 << 15;
} // namespace velmora

extern "C" {

int num_active_patricia = 0;

prefix_t *patricia_prefix_new2(int family, const void *dest, int bitlen, prefix_t *prefix) noexcept
{
    if ((family != AF_INET && family != AF_INET6) || dest == nullptr)
        return nullptr;
    size_t size = address_size(family);
    auto width = static_cast<int>(size * 8);
    if (bitlen < 0)
        bitlen = width;
    if (bitlen > width)
        return nullptr;
    int ref_count = 0;
    if (prefix == nullptr) {
        prefix = static_cast<prefix_t *>(std::calloc(1, offsetof(prefix_t, add) + size));
        if (prefix == nullptr)
            return nullptr;
        ref_count = 1;
    } else {
        std::memset(&prefix->add, 0, sizeof(prefix->add));
    }
    prefix->family = static_cast<uint16_t>(family);
    prefix->bitlen = static_cast<uint16_t>(bitlen);
    prefix->ref_count = ref_count;
    std::memcpy(address_of(prefix), dest, size);
    return prefix;
}

prefix_t *patricia_prefix_new(int family, const void *dest, int bitlen) noexcept
{
    return patricia_prefix_new2(family, dest, bitlen, nullptr);
}

prefix_t *patricia_prefix_ref(prefix_t *prefix) noexcept
{
    if (prefix == nullptr || prefix->ref_count < 0)
        return nullptr;
    if (prefix->ref_count == 0)
        return patricia_prefix_new2(prefix->family, address_of(prefix), prefix->bitlen, nullptr);
    prefix->ref_count++;
    return prefix;
}

void patricia_prefix_deref(prefix_t *prefix) noexcept
{
    // Caller storage (count 0) is never freed, and a count already at 0 is
    // left alone rather than freed twice.
    if (prefix == nullptr || prefix->ref_count <= 0)
        return;
    if (--prefix->ref_count == 0)
        std::free(prefix);
}

char *prefix_toa2x(const prefix_t *prefix, char *buff, int with_len) noexcept
{
    constexpr size_t kTextSize = 53;
    if (buff == nullptr)
        buff = next_static_buffer();
    if (prefix == nullptr) {
        std::snprintf(buff, kTextSize, "(Null)");
        return buff;
    }
    const uint8_t *a = address_of(prefix);
    if (prefix->family == AF_INET) {
        std::snprintf(buff, kTextSize, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    } else if (prefix->family == AF_INET6) {
        if (inet_ntop(AF_INET6, a, buff, 48) == nullptr)
            return nullptr;
    } else {
        return nullptr;
    }
    if (with_len != 0) {
        size_t used = std::strlen(buff);
        std::snprintf(buff + used, kTextSize - used, "/%d", prefix->bitlen);
    }
    return buff;
}

char *prefix_toa2(const prefix_t *prefix, char *buff) noexcept
{
    return prefix_toa2x(prefix, buff, 0);
}

char *prefix_toa(const prefix_t *prefix) noexcept
{
    return prefix_toa2(prefix, nullptr);
}

patricia_tree_t *patricia_init(int maxbits, patricia_match_func_t match_func) noexcept
{
    if (maxbits < 0 || static_cast<uint32_t>(maxbits) > kMaxTreeBits)
        return nullptr;
    auto *storage = static_cast<TreeStorage *>(std::malloc(sizeof(TreeStorage)));
    if (storage == nullptr)
        return nullptr;
    new (storage) TreeStorage{};
    patricia_tree_t *tree = &storage->tree;
    tree->maxbits = static_cast<uint32_t>(maxbits);
    tree->match_func = match_func;
    __atomic_fetch_add(&num_active_patricia, 1, __ATOMIC_RELAXED);
    return tree;
}

void patricia_free(patricia_tree_t *patricia, void_fn_t func) noexcept
{
    if (patricia == nullptr)
        return;
    auto free_data = reinterpret_cast<DataFreeFunc>(func);
    velmora::patricia_visit_preorder(patricia->head, [&](patricia_node_t *node) {
        if (node->prefix != nullptr && free_data != nullptr && node->data != nullptr)
            free_data(node->data);
        release_node(patricia, node);
    });
    patricia->head = nullptr;
    drop_index(patricia);
}

void patricia_terminate(patricia_tree_t *patricia, void_fn_t func) noexcept
{
    if (patricia == nullptr)
        return;
    patricia_free(patricia, func);
    TreeStorage *storage = &storage_of(patricia);
    storage->~TreeStorage();
    std::free(storage);
    __atomic_fetch_sub(&num_active_patricia, 1, __ATOMIC_RELAXED);
}

patricia_node_t *patricia_search_exact(patricia_tree_t *patricia, const prefix_t *prefix) noexcept
{
    if (!prefix_fits(patricia, prefix))
        return nullptr;
    const IndexEntry *entry = index_entry(patricia, prefix);
    patricia_node_t *node = entry != nullptr ? entry->below : patricia->head;
    while (node != nullptr && node->bit < prefix->bitlen)
        node = step_towards(node, prefix);
    return holds_exactly(node, prefix) ? node : nullptr;
}

patricia_node_t *patricia_search_best2(patricia_tree_t *patricia, const prefix_t *prefix, int inclusive) noexcept
{
    if (!prefix_fits(patricia, prefix))
        return nullptr;
    // A match function must see every candidate, so it rules out the index.
    const IndexEntry *entry = patricia->match_func == nullptr ? index_entry(patricia, prefix) : nullptr;
    CandidateStack candidates;
    patricia_node_t *stop =
        descend_collecting(entry != nullptr ? entry->below : patricia->head, prefix, candidates, nullptr);
    // Only a node of exactly the query's length may join: a longer stored
    // prefix never covers the query.
    if (inclusive != 0 && stop != nullptr && stop->bit == prefix->bitlen && stop->prefix != nullptr)
        candidates.push(stop);
    patricia_node_t *found = deepest_covering(candidates, prefix, patricia->match_func);
    return found != nullptr || entry == nullptr ? found : entry->covering;
}

patricia_node_t *patricia_search_best(patricia_tree_t *patricia, const prefix_t *prefix) noexcept
{
    return patricia_search_best2(patricia, prefix, 1);
}

int patricia_search_best_exact(patricia_tree_t *patricia, const prefix_t *prefix, patricia_node_t **exact,
                               patricia_node_t **best, patricia_node_t **place) noexcept
{
    patricia_node_t *found_exact = nullptr;
    patricia_node_t *found_best = nullptr;
    patricia_node_t *found_place = nullptr;
    if (prefix_fits(patricia, prefix)) {
        CandidateStack candidates;
        patricia_node_t *stop = descend_collecting(patricia->head, prefix, candidates, &found_place);
        if (holds_exactly(stop, prefix)) {
            found_exact = stop;
            found_place = stop;
        }
        found_best = deepest_covering(candidates, prefix, nullptr);
    }
    if (exact != nullptr)
        *exact = found_exact;
    if (best != nullptr)
        *best = found_best;
    if (place != nullptr)
        *place = found_place;
    return found_exact != nullptr || found_best != nullptr ? 1 : 0;
}

patricia_node_t *patricia_lookup(patricia_tree_t *patricia, prefix_t *prefix) noexcept
{
    if (!prefix_fits(patricia, prefix))
        return nullptr;
    patricia_node_t *node =
        patricia->head == nullptr ? insert_into_empty(patricia, prefix) : lookup_in_tree(patricia, prefix);
    if (node != nullptr)
        build_index_when_large(patricia);
    return node;
}

void patricia_remove(patricia_tree_t *patricia, patricia_node_t *node) noexcept
{
    if (patricia == nullptr || node == nullptr)
        return;
    if (node->l != nullptr && node->r != nullptr) {
        // Still needed to join its two subtrees: it stays as a glue node.
        drop_prefix(patricia, node->prefix);
        node->prefix = nullptr;
        node->data = nullptr;
        refresh_slot_of(patricia, node);
        return;
    }
    if (node->l == nullptr && node->r == nullptr) {
        remove_leaf(patricia, node);
        return;
    }
    patricia_node_t *child = node->l != nullptr ? node->l : node->r;
    replace_in_parent(patricia, node, child);
    release_node(patricia, node);
    refresh_slot_of(patricia, child);
}

int prefix_match(const prefix_t *a, const prefix_t *b, int bitlen) noexcept
{
    if (a == nullptr || b == nullptr || bitlen < 0)
        return 0;
    auto bits = static_cast<uint32_t>(bitlen);
    if (bits > address_width(a) || bits > address_width(b))
        return 0;
    return addresses_agree(a, b, bits) ? 1 : 0;
}

size_t patricia_walk(patricia_tree_t *patricia, void_fn_t func, void *arg) noexcept
{
    if (patricia == nullptr)
        return 0;
    return patricia_walk_inorder(patricia->head, func, arg);
}

size_t patricia_walk_inorder(patricia_node_t *node, void_fn_t func, void *arg) noexcept
{
    if (func == nullptr)
        return 0;
    return inorder_from(node, reinterpret_cast<WalkFunc>(func), arg);
}

void patricia_process(patricia_tree_t *patricia, void_fn_t func, void *arg) noexcept
{
    if (patricia == nullptr || func == nullptr)
        return;
    auto walk = reinterpret_cast<WalkFunc>(func);
    velmora::patricia_visit_preorder(patricia->head, [&](patricia_node_t *node) {
        if (node->prefix != nullptr)
            walk(node->prefix, node->data, arg);
    });
}

int patricia_add(patricia_tree_t *tree, in_addr_t ip, int cidr, void *data) noexcept
{
    return add_address(tree, AF_INET, &ip, cidr, data);
}

int patricia_ipv6_add(patricia_tree_t *tree, const struct in6_addr *ip, int cidr, void *data) noexcept
{
    return add_address(tree, AF_INET6, ip, cidr, data);
}

void *patricia_delete(patricia_tree_t *tree, in_addr_t ip, int cidr) noexcept
{
    return delete_address(tree, AF_INET, &ip, cidr);
}

void *patricia_ipv6_delete(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) noexcept
{
    return delete_address(tree, AF_INET6, ip, cidr);
}

int patricia_find_exact(patricia_tree_t *tree, in_addr_t ip, int cidr) noexcept
{
    return exact_node(tree, AF_INET, &ip, cidr) != nullptr ? 0 : 1;
}

int patricia_ipv6_find_exact(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) noexcept
{
    return exact_node(tree, AF_INET6, ip, cidr) != nullptr ? 0 : 1;
}

void *patricia_find_exact_data(patricia_tree_t *tree, in_addr_t ip, int cidr) noexcept
{
    patricia_node_t *node = exact_node(tree, AF_INET, &ip, cidr);
    return node != nullptr ? node->data : nullptr;
}

void *patricia_ipv6_find_exact_data(patricia_tree_t *tree, const struct in6_addr *ip, int cidr) noexcept
{
    patricia_node_t *node = exact_node(tree, AF_INET6, ip, cidr);
    return node != nullptr ? node->data : nullptr;
}

int patricia_find(patricia_tree_t *tree, in_addr_t ip) noexcept
{
    return best_node(tree, AF_INET, &ip) != nullptr ? 0 : 1;
}

int patricia_ipv6_find(patricia_tree_t *tree, const struct in6_addr *ip) noexcept
{
    return best_node(tree, AF_INET6, ip) != nullptr ? 0 : 1;
}

void *patricia_find_data(patricia_tree_t *tree, in_addr_t ip) noexcept
{
    patricia_node_t *node = best_node(tree, AF_INET, &ip);
    return node != nullptr ? node->data : nullptr;
}

void *patricia_ipv6_find_data(patricia_tree_t *tree, const struct in6_addr *ip) noexcept
{
    patricia_node_t *node = best_node(tree, AF_INET6, ip);
    return node != nullptr ? node->data : nullptr;
}

} // extern "C"
