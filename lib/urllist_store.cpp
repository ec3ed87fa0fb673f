// The URL list store: list handles, tree nodes and result records, laying a
// decomposed entry into a tree of balanced sibling trees, copying subtrees
// and tearing everything down.
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "internal/urllist_sibling_index.h"
#include "internal/urllist_store.h"
#include "velmora/qxtime.h"

namespace {

enum class Side { low, high };

// Where a key goes relative to a node of a sibling tree.
enum class Placement { same, low, high };

// The key of a token being laid into or looked up in a sibling tree.
struct SiblingKey {
    int64_t hash;
    UrlPart type;
    int32_t port; // the entry's port number, for UP_PORT keys only
};

Placement place_port_key(const SiblingKey &key, const URLLIST_ITEM *node)
{
    if (node->itemtype != UP_PORT)
        return Placement::low;
    if (node->hash.city == key.hash)
        return Placement::same;
    return key.port >= node->port_lower ? Placement::high : Placement::low;
}

// The order of a sibling tree: greater hashes low, smaller high, equal hashes
// by type; port nodes sit on the low side of every other node and among
// themselves by their lower port bound.
Placement place_key(const SiblingKey &key, const URLLIST_ITEM *node)
{
    if (key.type == UP_PORT)
        return place_port_key(key, node);
    if (node->itemtype == UP_PORT)
        return Placement::high;
    if (key.hash > node->hash.city)
        return Placement::low;
    if (key.hash < node->hash.city)
        return Placement::high;
    int diff = static_cast<int>(node->itemtype) - static_cast<int>(key.type);
    if (diff == 0)
        return Placement::same;
    return diff < 0 ? Placement::low : Placement::high;
}

URLLIST_ITEM *&subtree(URLLIST_ITEM *node, Side side)
{
    return side == Side::low ? node->low : node->high;
}

Side opposite(Side side)
{
    return side == Side::low ? Side::high : Side::low;
}

UL_DISBALANCE leaning_to(Side side)
{
    return side == Side::low ? ULD_LOW : ULD_HIGH;
}

void attach(URLLIST_ITEM *parent, Side side, URLLIST_ITEM *node)
{
    subtree(parent, side) = node;
    if (node != nullptr)
        node->parent = parent;
}

// Puts `replacement` where `old` hung: under old's parent or at the top.
void take_place_of(URLLIST_ITEM **top, URLLIST_ITEM *old, URLLIST_ITEM *replacement)
{
    URLLIST_ITEM *parent = old->parent;
    replacement->parent = parent;
    if (parent == nullptr)
        *top = replacement;
    else if (parent->low == old)
        parent->low = replacement;
    else
        parent->high = replacement;
}

// x leans to `side` and that side grew again: one rotation restores balance
// (the subtree keeps the height it had before the insertion).
void rotate(URLLIST_ITEM **top, URLLIST_ITEM *x, Side side)
{
    Side other = opposite(side);
    URLLIST_ITEM *y = subtree(x, side);
    if (y->disbalance == leaning_to(side)) {
        take_place_of(top, x, y);
        attach(x, side, subtree(y, other));
        attach(y, other, x);
        x->disbalance = ULD_NONE;
        y->disbalance = ULD_NONE;
        return;
    }
    URLLIST_ITEM *z = subtree(y, other);
    UL_DISBALANCE z_was = z->disbalance;
    take_place_of(top, x, z);
    attach(y, other, subtree(z, side));
    attach(z, side, y);
    attach(x, side, subtree(z, other));
    attach(z, other, x);
    x->disbalance = z_was == leaning_to(side) ? leaning_to(other) : ULD_NONE;
    y->disbalance = z_was == leaning_to(other) ? leaning_to(side) : ULD_NONE;
    z->disbalance = ULD_NONE;
}

// Links `node` on `side` of `parent` and walks up the AVL balance factors.
void link_and_rebalance(URLLIST_ITEM **top, URLLIST_ITEM *parent, Side side, URLLIST_ITEM *node)
{
    attach(parent, side, node);
    URLLIST_ITEM *x = parent;
    while (x != nullptr) {
        if (x->disbalance == ULD_NONE) {
            x->disbalance = leaning_to(side);
            URLLIST_ITEM *grown = x;
            x = x->parent;
            if (x != nullptr)
                side = x->low == grown ? Side::low : Side::high;
            continue;
        }
        if (x->disbalance != leaning_to(side))
            x->disbalance = ULD_NONE;
        else
            rotate(top, x, side);
        return;
    }
}

bool is_wildcard_token(const URLLIST_TOKEN &token, int64_t key_hash, const URLLIST_EXPLODED_URL *urlinfo)
{
    return std::strcmp(token.item, "*") == 0 || key_hash == wildcard_hash.city ||
           (token.type == UP_PORT && urlinfo->num_port == -1);
}

int64_t text_hash(const char *text, size_t len)
{
    myhash_t h{};
    urllist_hash(text, static_cast<int>(len), &h);
    return h.city;
}

// Hash of the lower-cased text; false when no room for the copy is left.
bool lowercase_hash(const char *text, size_t len, int64_t *hash)
{
    char small[256] = {};
    char *lowered = len < sizeof small ? small : static_cast<char *>(std::malloc(len));
    if (lowered == nullptr)
        return false;
    for (size_t k = 0; k < len; k++)
        lowered[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[k])));
    *hash = text_hash(lowered, len);
    if (lowered != small)
        std::free(lowered);
    return true;
}

// The hash a node made from `token` with these entry flags carries; false
// when out of memory.
bool node_hash(const char *token, int flags, int64_t *hash)
{
    size_t len = std::strlen(token);
    if (flags & URLLIST_EXPLODE_HASHED) {
        myhash_t h{};
        if (urllist_str2hash(token, static_cast<int>(len), &h) == 0) {
            *hash = h.city;
            return true;
        }
    }
    if (flags & URLLIST_EXPLODE_NOCASE)
        return lowercase_hash(token, len, hash);
    *hash = text_hash(token, len);
    return true;
}

// Leading decimal number of a port text, kept in 16 bits as stored.
uint16_t leading_port_number(const char *text)
{
    unsigned long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); text++)
        value = (value * 10 + static_cast<unsigned long>(*text - '0')) & 0xffffffu;
    return static_cast<uint16_t>(value);
}

void set_port_bounds(URLLIST_ITEM *node, const char *text)
{
    node->port_lower = leading_port_number(text);
    const char *dash = std::strchr(text, '-');
    node->port_upper = dash != nullptr ? leading_port_number(dash + 1) : node->port_lower;
}

// A zeroed node with room for `text_len` characters of text and the NUL.
URLLIST_ITEM *allocate_node(size_t text_len)
{
    size_t size = offsetof(URLLIST_ITEM, item) + text_len + 1;
    if (size < sizeof(URLLIST_ITEM))
        size = sizeof(URLLIST_ITEM);
    auto *node = static_cast<URLLIST_ITEM *>(std::calloc(1, size));
    if (node != nullptr)
        node->disbalance = ULD_NONE;
    return node;
}

// The text is written through a plain pointer: the array is sized by the
// allocation, not by its declaration.
void store_text(URLLIST_ITEM *node, const char *text, size_t len)
{
    char *dest = reinterpret_cast<char *>(node) + offsetof(URLLIST_ITEM, item);
    std::memcpy(dest, text, len);
    dest[len] = '\0';
}

URLLIST_ITEM *new_node_with_text(const char *token, UrlPart type)
{
    size_t len = std::strlen(token);
    URLLIST_ITEM *node = allocate_node(len);
    if (node == nullptr)
        return nullptr;
    node->itemtype = type;
    store_text(node, token, len);
    if (type == UP_PORT)
        set_port_bounds(node, token);
    return node;
}

// The sibling tree that the next token of an entry goes into below `parent`.
URLLIST_ITEM **sibling_tree_of(URLLIST_ITEM *parent, const URLLIST_TOKEN &token, int flags)
{
    bool nocase_path = (flags & URLLIST_EXPLODE_NOCASE) && token.type == UP_PATH && parent->itemtype != UP_PATH;
    return nocase_path ? &parent->nocase_child : &parent->child;
}

// The node equal to the key in the sibling tree at *top, made and linked in
// when missing; NULL when out of memory. The list's index (when `l` has one)
// answers for nodes already stored and learns of new ones.
URLLIST_ITEM *find_or_insert(URLLIST *l, URLLIST_ITEM **top, const SiblingKey &key, const char *text, int flags)
{
    velmora::SiblingIndex *index = l != nullptr ? velmora::usable_sibling_index(l) : nullptr;
    if (index != nullptr && key.type != UP_PORT && index->tree(top) != nullptr) {
        if (URLLIST_ITEM *stored = index->find(top, key.hash, key.type))
            return stored;
    }
    URLLIST_ITEM *parent = nullptr;
    Side side = Side::low;
    int depth = 0;
    for (URLLIST_ITEM *x = *top; x != nullptr; x = subtree(x, side), depth++) {
        Placement where = place_key(key, x);
        if (where == Placement::same)
            return x;
        parent = x;
        side = where == Placement::low ? Side::low : Side::high;
    }
    URLLIST_ITEM *node = urllist_new_urllist_item(text, key.type, flags);
    if (node == nullptr)
        return nullptr;
    if (parent == nullptr)
        *top = node;
    else
        link_and_rebalance(top, parent, side, node);
    index = l != nullptr ? velmora::sibling_index_for_insert(l) : nullptr;
    if (index != nullptr && !index->inserted(top, node, depth))
        velmora::drop_sibling_index(l);
    return node;
}

// The node that token leads to from `parent`, made when missing.
URLLIST_ITEM *step_down(URLLIST *l, URLLIST_ITEM *parent, const URLLIST_TOKEN &token,
                        const URLLIST_EXPLODED_URL *urlinfo, int flags)
{
    int64_t hash = 0;
    if (!node_hash(token.item, flags, &hash))
        return nullptr;
    if (is_wildcard_token(token, hash, urlinfo)) {
        if (parent->wildcard_child == nullptr)
            parent->wildcard_child = urllist_new_urllist_item(token.item, token.type, flags);
        return parent->wildcard_child;
    }
    SiblingKey key{hash, token.type, urlinfo->num_port};
    return find_or_insert(l, sibling_tree_of(parent, token, flags), key, token.item, flags);
}

// Hangs `data` on a slot by the merge rules of repeated entries.
void attach_record(URLLIST_ITEM_DATA **slot, URLLIST_ITEM_DATA *data, int overwrite, int cloned)
{
    URLLIST_ITEM_DATA *stored = *slot;
    if (stored == data)
        return; // the slot holds this record already: merging it into itself
                // would chain it to itself, replacing it would free it
    if (stored != nullptr) {
        if (!overwrite)
            return;
        if (!cloned && urllist_action_append_action_data(stored, data) != 0) {
            stored->ttl = data->ttl;
            return;
        }
        velmora::drop_record(stored);
    }
    *slot = data;
    velmora::hold_record(data);
}

// The slot of the entry's query pattern, or the node's own slot when the
// pattern cannot be built.
URLLIST_ITEM_DATA **query_slot(URLLIST_EXPLODED_URL *urlinfo, const char *query, URLLIST_ITEM *node, int flags)
{
    URLLIST_QUERY_ITEM *q = urllist_query_add(urlinfo, query, node, flags);
    return q != nullptr ? &q->data : &node->data;
}

void release_subtrees(URLLIST_ITEM *i)
{
    urllist_terminate_urllist_item(i->child);
    urllist_terminate_urllist_item(i->nocase_child);
    urllist_terminate_urllist_item(i->wildcard_child);
    i->child = i->nocase_child = i->wildcard_child = nullptr;
}

void release_root(URLLIST_ITEM &root)
{
    release_subtrees(&root);
}

void release_ip_nodes(URLLIST_ITEM *chain)
{
    while (chain != nullptr) {
        URLLIST_ITEM *next = chain->low;
        urllist_terminate_urllist_item_data(chain);
        release_subtrees(chain);
        std::free(chain);
        chain = next;
    }
}

void release_regexps(URLLIST_RE_ITEM *re)
{
    while (re != nullptr) {
        URLLIST_RE_ITEM *next = re->next;
        regfree(&re->exp);
        std::free(re->strexp);
        urllist_destroy_item_data(re->data);
        std::free(re);
        re = next;
    }
}

void release_event_types(URLLIST_ITEM_DATA **table)
{
    if (table == nullptr)
        return;
    for (int k = 0; k < URLLIST_EVENT_TYPES; k++)
        urllist_destroy_item_data(table[k]);
    std::free(table);
}

URLLIST_ITEM *clone_node(const URLLIST_ITEM *src, URLLIST_ITEM *parent_copy);

// Copies src's links into copy; false when any copy failed (what was copied
// hangs on `copy` and goes with it).
bool clone_links(const URLLIST_ITEM *src, URLLIST_ITEM *copy)
{
    struct Link {
        URLLIST_ITEM *URLLIST_ITEM::*member;
        bool sibling; // a copied sibling keeps its parent link
    };
    // The case-insensitive subtree is copied too, so that a more specific
    // address entry still sees the case-insensitive paths of its network.
    static constexpr Link links[] = {
        {&URLLIST_ITEM::low, true},
        {&URLLIST_ITEM::high, true},
        {&URLLIST_ITEM::child, false},
        {&URLLIST_ITEM::nocase_child, false},
        {&URLLIST_ITEM::wildcard_child, false},
    };
    for (const Link &link : links) {
        const URLLIST_ITEM *from = src->*link.member;
        if (from == nullptr)
            continue;
        URLLIST_ITEM *to = clone_node(from, link.sibling ? copy : nullptr);
        if (to == nullptr)
            return false;
        copy->*link.member = to;
    }
    return true;
}

// A copy of src and everything below it sharing src's records; NULL when out
// of memory (the partial copy released).
URLLIST_ITEM *clone_node(const URLLIST_ITEM *src, URLLIST_ITEM *parent_copy)
{
    size_t len = std::strlen(src->item);
    URLLIST_ITEM *copy = allocate_node(len);
    if (copy == nullptr)
        return nullptr;
    copy->hash = src->hash;
    copy->parent = parent_copy;
    copy->disbalance = src->disbalance;
    copy->itemtype = src->itemtype;
    copy->nocase = src->nocase;
    copy->port_lower = src->port_lower;
    copy->port_upper = src->port_upper;
    store_text(copy, src->item, len);
    if (src->data != nullptr) {
        copy->data = src->data;
        velmora::hold_record(copy->data);
    }
    if (urllist_clone_urllist_item_query(src, copy) != 0 || !clone_links(src, copy)) {
        urllist_terminate_urllist_item(copy);
        return nullptr;
    }
    return copy;
}

URLLIST *new_list(int flags)
{
    URLLIST *l = velmora::allocate_list();
    if (l == nullptr)
        return nullptr;
    l->flags = flags;
    for (URLLIST_ITEM *root : {&l->root, &l->path_root, &l->query_root})
        root->disbalance = ULD_NONE;
    if ((flags & URLLIST_LOCKING) && rwl_init_internal(&l->lock, nullptr, -1) != 0) {
        velmora::free_list(l);
        return nullptr;
    }
    return l;
}

} // namespace

urllist_digest_tree::~urllist_digest_tree()
{
    for (auto &[key, data] : entries) {
        std::free(key);
        urllist_destroy_item_data(data);
    }
}

urllist_iplist_map::~urllist_iplist_map()
{
    for (auto &entry : lists)
        urllist_iplist_terminate(entry.second);
}

namespace velmora {

int add_to_list_tree(URLLIST *l, URLLIST_ITEM *i, URLLIST_EXPLODED_URL *urlinfo, int a, URLLIST_ITEM_DATA *data,
                     int overwrite, int cloned, int flags) noexcept
{
    if (i == nullptr || urlinfo == nullptr || urlinfo->tokens == nullptr || data == nullptr || a < 0)
        return 1;
    const URLLIST_TOKEN *token = &urlinfo->tokens[a];
    if (a == 0 && token->item == nullptr)
        return 1;
    URLLIST_ITEM *node = i;
    for (; token->item != nullptr && token->type != UP_QUERY; token++) {
        node = step_down(l, node, *token, urlinfo, flags);
        if (node == nullptr)
            return 1;
    }
    bool with_query = token->item != nullptr; // the walk stopped at the query
    URLLIST_ITEM_DATA **slot = with_query ? query_slot(urlinfo, token->item, node, flags) : &node->data;
    attach_record(slot, data, overwrite, cloned);
    return 0;
}


void drop_record(URLLIST_ITEM_DATA *data) noexcept
{
    if (data == nullptr)
        return;
    if (data->refcount > 1) {
        data->refcount--;
        return;
    }
    urllist_action_data_free(data);
    std::free(data);
}

bool tree_record_expired(const URLLIST_ITEM_DATA *data) noexcept
{
    return data->ttl >= 1 && data->ttl <= current_time;
}

iphead *find_scheme_iplist(const URLLIST *l, std::string_view key) noexcept
{
    if (l == nullptr || l->iplists == nullptr)
        return nullptr;
    try {
        auto found = l->iplists->lists.find(std::string(key));
        return found != l->iplists->lists.end() ? found->second : nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int store_scheme_iplist(URLLIST *l, std::string_view key, iphead *iplist) noexcept
{
    try {
        if (l->iplists == nullptr)
            l->iplists = new urllist_iplist_map;
        return l->iplists->lists.emplace(std::string(key), iplist).second ? 0 : 1;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

int store_digest(URLLIST *l, unsigned char *key, URLLIST_ITEM_DATA *data) noexcept
{
    try {
        if (l->digest_list == nullptr)
            l->digest_list = new urllist_digest_tree;
        return l->digest_list->entries.emplace(key, data).second ? 0 : 1;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

} // namespace velmora

extern "C" {

URLLIST *urllist_initialize(int flags) noexcept
{
    return new_list(flags);
}

URLLIST *urllist_with_extra_initialize(int flags, urllist_delete_data_fn delete_data, const char *charset) noexcept
{
    URLLIST *l = new_list(flags);
    if (l == nullptr)
        return nullptr;
    l->delete_data = delete_data;
    if (charset != nullptr)
        l->charset_data = urllist_init_charset(charset);
    return l;
}

URLLIST *urllist_with_data_initialize(int flags, urllist_delete_data_fn delete_data) noexcept
{
    return urllist_with_extra_initialize(flags, delete_data, nullptr);
}

URLLIST *urllist_with_charset_initialize(int flags, const char *charset) noexcept
{
    return urllist_with_extra_initialize(flags, nullptr, charset);
}

void urllist_terminate(URLLIST *l) noexcept
{
    if (l == nullptr)
        return;
    release_root(l->root);
    release_root(l->path_root);
    release_root(l->query_root);
    urllist_terminate_urllist_item_data(&l->root);
    urllist_terminate_urllist_item_data(&l->query_root);
    urllist_terminate_urllist_item_data(&l->path_root);
    release_ip_nodes(l->ipitems);
    release_regexps(l->regexp);
    extlist_terminate(l->ext_list);
    keywordlist_terminate(l->keyword_list);
    delete l->iplists;
    urllist_iplist_terminate(l->wildcard_iplist);
    delete l->digest_list;
    urllist_destroy_item_data(l->default_data);
    release_event_types(l->event_types_data);
    if (l->flags & URLLIST_LOCKING)
        rwl_destroy(&l->lock);
    urllist_free_charset(l->charset_data);
    velmora::free_list(l);
}

void urllist_set_addcallback(URLLIST *l, urllist_addcallback_fn func, void *func_data) noexcept
{
    if (l == nullptr)
        return;
    l->addcallback = func;
    l->addcallback_data = func_data;
}

void urllist_set_add_action_callback(URLLIST *l, urllist_add_action_callback_fn func, void *func_data) noexcept
{
    if (l == nullptr)
        return;
    l->add_action_callback = func;
    l->add_action_callback_data = func_data;
}

URLLIST_ITEM_DATA *urllist_get_default_data(const URLLIST *l) noexcept
{
    return l != nullptr ? l->default_data : nullptr;
}

URLLIST_ITEM_DATA *urllist_new_urllist_item_data(int32_t ttl, UrlAction action, void *action_data) noexcept
{
    auto *data = static_cast<URLLIST_ITEM_DATA *>(std::calloc(1, sizeof(URLLIST_ITEM_DATA)));
    if (data == nullptr)
        return nullptr;
    data->ttl = ttl;
    data->action = action;
    data->action_data = action_data;
    return data;
}

void urllist_destroy_item_data(URLLIST_ITEM_DATA *data) noexcept
{
    if (data == nullptr)
        return;
    urllist_action_data_free(data);
    std::free(data);
}

URLLIST_ITEM *urllist_new_urllist_item(const char *token, UrlPart type, int flags) noexcept
{
    if (token == nullptr)
        return nullptr;
    // Only port nodes keep their text; every other node is identified by its
    // hash alone.
    URLLIST_ITEM *node = type == UP_PORT ? new_node_with_text(token, type) : allocate_node(0);
    if (node == nullptr)
        return nullptr;
    node->itemtype = type;
    node->nocase = (flags & URLLIST_EXPLODE_NOCASE) ? 1 : 0;
    if (!node_hash(token, flags, &node->hash.city)) {
        std::free(node);
        return nullptr;
    }
    return node;
}

URLLIST_ITEM *urllist_new_urllist_nohashed_item(const char *token, UrlPart type, int /*flags*/) noexcept
{
    return token != nullptr ? new_node_with_text(token, type) : nullptr;
}

void urllist_terminate_urllist_item_data(URLLIST_ITEM *i) noexcept
{
    if (i == nullptr)
        return;
    urllist_terminate_query_tree(i->queryhead);
    urllist_terminate_query_tree(i->queryhead_nocase);
    velmora::drop_record(i->data);
    i->queryhead = i->queryhead_nocase = nullptr;
    i->data = nullptr;
}

void urllist_terminate_urllist_item(URLLIST_ITEM *i) noexcept
{
    if (i == nullptr)
        return;
    urllist_terminate_urllist_item_data(i);
    urllist_terminate_urllist_item(i->low);
    urllist_terminate_urllist_item(i->high);
    release_subtrees(i);
    std::free(i);
}

void urllist_iplist_terminate(void *iplist) noexcept
{
    iplist_terminate(iplist);
}

int urllist_add_to_tree(URLLIST_ITEM *i, URLLIST_EXPLODED_URL *urlinfo, int a, URLLIST_ITEM_DATA *data,
                        int overwrite, int cloned, int flags) noexcept
{
    // The tree may belong to a list whose index cannot see this change.
    velmora::note_tree_change_outside_lists();
    return velmora::add_to_list_tree(nullptr, i, urlinfo, a, data, overwrite, cloned, flags);
}

int urllist_clone_urllist_item(const URLLIST_ITEM *i, URLLIST_ITEM **up) noexcept
{
    if (up == nullptr)
        return -1;
    *up = nullptr;
    if (i == nullptr)
        return 0;
    *up = clone_node(i, nullptr);
    return *up != nullptr ? 0 : -1;
}

} // extern "C"
