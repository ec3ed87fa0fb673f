// Query patterns: building them from query texts, storing them in per-node
// indexes keyed by element hash, matching a URL's query elements against an
// index, copying patterns, and the URL-side element lists.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "internal/exploded_url_caches.h"
#include "internal/urllist_store.h"

namespace {

constexpr size_t max_query_elements = 4999;

bool is_element_end(char c)
{
    return c == '&' || c == '?' || c == '#';
}

// Upper bound of the elements split_elements can find in text.
size_t element_room(const char *text)
{
    size_t separators = 0;
    for (const char *p = text; *p != '\0'; p++)
        separators += is_element_end(*p);
    return std::min(separators + 1, max_query_elements);
}

// Cuts text in place into its non-empty elements (at most `room`, the last
// one keeping the rest of the text); returns their number.
size_t split_elements(char *text, char **out, size_t room)
{
    size_t n = 0;
    char *p = text;
    while (*p != '\0' && n < room) {
        if (is_element_end(*p)) {
            *p++ = '\0';
            continue;
        }
        out[n++] = p;
        if (n == room)
            break;
        while (*p != '\0' && !is_element_end(*p))
            p++;
    }
    return n;
}

void lowercase(char *text)
{
    for (; *text != '\0'; text++)
        *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

int64_t hash_of(const char *text, size_t len)
{
    myhash_t h{};
    urllist_hash(text, static_cast<int>(len), &h);
    return h.city;
}

// An element whose name is all of it: no '=', or its only '=' at the end.
bool is_bare_name(const char *eq)
{
    return eq == nullptr || eq[1] == '\0';
}

// Hashes of pattern element k in clear text.
void hash_pattern_element(URLLIST_QUERY_ITEM *item, size_t k, const char *element)
{
    const char *eq = std::strchr(element, '=');
    size_t len = std::strlen(element);
    if (is_bare_name(eq)) {
        size_t name_len = eq != nullptr ? static_cast<size_t>(eq - element) : len;
        item->hash[k].city = item->name_hash[k].city = hash_of(element, name_len);
        item->names++;
        return;
    }
    item->hash[k].city = hash_of(element, len);
    item->name_hash[k].city = hash_of(element, static_cast<size_t>(eq - element));
}

// Hashes of pattern element k written as a hash string. No name is known: the
// name hash repeats the full hash, so a name look-up finds nothing the full
// hash would not. A text that is no hash string is hashed as it stands.
void read_hashed_element(URLLIST_QUERY_ITEM *item, size_t k, const char *element)
{
    int len = static_cast<int>(std::strlen(element));
    if (urllist_str2hash(element, len, &item->hash[k]) != 0)
        urllist_hash(element, len, &item->hash[k]);
    item->name_hash[k] = item->hash[k];
}

// Elements with equal texts make a pattern that needs them as often.
bool has_equal_texts(char *const *elements, size_t n)
{
    std::unique_ptr<int64_t[], decltype(&std::free)> hashes(
        static_cast<int64_t *>(std::malloc(n * sizeof(int64_t))), &std::free);
    if (!hashes) {
        for (size_t a = 0; a < n; a++)
            for (size_t b = a + 1; b < n; b++)
                if (std::strcmp(elements[a], elements[b]) == 0)
                    return true;
        return false;
    }
    for (size_t k = 0; k < n; k++)
        hashes[k] = hash_of(elements[k], std::strlen(elements[k]));
    std::sort(hashes.get(), hashes.get() + n);
    return std::adjacent_find(hashes.get(), hashes.get() + n) != hashes.get() + n;
}

// One block: the item and its two hash arrays.
URLLIST_QUERY_ITEM *allocate_item(size_t n)
{
    auto *item = static_cast<URLLIST_QUERY_ITEM *>(std::calloc(1, sizeof(URLLIST_QUERY_ITEM) + 2 * n * sizeof(myhash_t)));
    if (item == nullptr)
        return nullptr;
    item->hash = reinterpret_cast<myhash_t *>(item + 1);
    item->name_hash = item->hash + n;
    item->queryelements = n;
    return item;
}

URLLIST_QUERY_ITEM *item_from_elements(char *const *elements, size_t n, int flags)
{
    URLLIST_QUERY_ITEM *item = allocate_item(n);
    if (item == nullptr)
        return nullptr;
    if (has_equal_texts(elements, n))
        item->flags |= URLLIST_QUERY_DUPLICATES;
    for (size_t k = 0; k < n; k++) {
        if (flags & URLLIST_EXPLODE_HASHED)
            read_hashed_element(item, k, elements[k]);
        else
            hash_pattern_element(item, k, elements[k]);
    }
    return item;
}

using ItemList = std::vector<URLLIST_QUERY_ITEM *>;

const ItemList *items_under(const URLLIST_QUERY_TREE &tree, int64_t hash)
{
    auto found = tree.by_element.find(hash);
    return found != tree.by_element.end() ? &found->second : nullptr;
}

bool record_expired(const URLLIST_QUERY_ITEM *item)
{
    return item->data != nullptr && velmora::tree_record_expired(item->data);
}

// The query elements of one side of a match, with the caches that matching
// builds on first need.
struct ElementSide {
    const myhash_t *hashes;
    const myhash_t *names;
    size_t count;
    urllist_query_element_set **set;
    urllist_query_foundlist **scratch;
};

urllist_query_element_set &element_set(ElementSide &side, bool exact)
{
    bool with_names = !exact;
    if (*side.set != nullptr && (*side.set)->with_names == with_names)
        return **side.set;
    delete *side.set;
    *side.set = nullptr;
    auto set = std::make_unique<urllist_query_element_set>();
    set->with_names = with_names;
    for (size_t k = 0; k < side.count; k++) {
        set->hashes.insert(side.hashes[k].city);
        if (with_names)
            set->hashes.insert(side.names[k].city);
    }
    *side.set = set.release();
    return **side.set;
}

// Every element of the item in the set; a pattern with repeated elements
// consumes one occurrence per element (put back before returning).
bool item_matches(const URLLIST_QUERY_ITEM *item, urllist_query_element_set &set, urllist_query_foundlist &taken)
{
    bool consume = item->flags & URLLIST_QUERY_DUPLICATES;
    bool all_found = true;
    for (size_t k = 0; k < item->queryelements && all_found; k++) {
        auto found = set.hashes.find(item->hash[k].city);
        all_found = found != set.hashes.end();
        if (all_found && consume) {
            taken.taken.push_back(*found);
            set.hashes.erase(found);
        }
    }
    for (int64_t h : taken.taken)
        set.hashes.insert(h);
    taken.taken.clear();
    return all_found;
}

URLLIST_QUERY_ITEM *first_match(const ItemList *candidates, urllist_query_element_set &set,
                                urllist_query_foundlist &taken)
{
    if (candidates == nullptr)
        return nullptr;
    for (URLLIST_QUERY_ITEM *item : *candidates)
        if (!record_expired(item) && item_matches(item, set, taken))
            return item;
    return nullptr;
}

// The first pattern of the index that the side's elements satisfy. Throws
// std::bad_alloc.
URLLIST_QUERY_ITEM *match_patterns(const URLLIST_QUERY_TREE &tree, ElementSide &side, bool exact)
{
    urllist_query_element_set &set = element_set(side, exact);
    if (*side.scratch == nullptr)
        *side.scratch = new urllist_query_foundlist;
    urllist_query_foundlist &taken = **side.scratch;
    for (size_t k = 0; k < side.count; k++) {
        const ItemList *full = items_under(tree, side.hashes[k].city);
        if (URLLIST_QUERY_ITEM *hit = first_match(full, set, taken))
            return hit;
        const ItemList *bare = items_under(tree, side.names[k].city);
        if (bare == full)
            continue;
        if (URLLIST_QUERY_ITEM *hit = first_match(bare, set, taken))
            return hit;
    }
    return nullptr;
}

// The caches of a match that no URL record keeps.
struct LocalCaches {
    urllist_query_element_set *set = nullptr;
    urllist_query_foundlist *scratch = nullptr;
    LocalCaches() = default;
    LocalCaches(const LocalCaches &) = delete;
    LocalCaches &operator=(const LocalCaches &) = delete;
    ~LocalCaches()
    {
        delete set;
        delete scratch;
    }
};

// The stored pattern with exactly the elements of `item`, or NULL. Throws
// std::bad_alloc.
URLLIST_QUERY_ITEM *find_equal_pattern(const URLLIST_QUERY_TREE &tree, const URLLIST_QUERY_ITEM *item)
{
    LocalCaches caches;
    ElementSide side{item->hash, item->name_hash, item->queryelements, &caches.set, &caches.scratch};
    URLLIST_QUERY_ITEM *found = match_patterns(tree, side, true);
    // Every stored pattern that matches holds a subset of the new elements;
    // the same count makes it the same pattern.
    return found != nullptr && found->queryelements == item->queryelements ? found : nullptr;
}

// Match preference inside one element's list: more elements first, then
// fewer bare names, then load order.
bool goes_before(const URLLIST_QUERY_ITEM *item, const URLLIST_QUERY_ITEM *listed)
{
    return listed->queryelements < item->queryelements ||
           (listed->queryelements == item->queryelements && listed->names > item->names);
}

void unindex(URLLIST_QUERY_TREE &tree, const URLLIST_QUERY_ITEM *item)
{
    for (size_t k = 0; k < item->queryelements; k++) {
        auto found = tree.by_element.find(item->hash[k].city);
        if (found == tree.by_element.end())
            continue;
        std::erase(found->second, item);
        if (found->second.empty())
            tree.by_element.erase(found);
    }
}

// Throws std::bad_alloc; the caller takes the item out again.
void index_item(URLLIST_QUERY_TREE &tree, URLLIST_QUERY_ITEM *item)
{
    for (size_t k = 0; k < item->queryelements; k++) {
        ItemList &list = tree.by_element[item->hash[k].city];
        if (std::find(list.begin(), list.end(), item) != list.end())
            continue; // a repeated element is listed once
        auto at = std::find_if(list.begin(), list.end(),
                               [item](const URLLIST_QUERY_ITEM *listed) { return goes_before(item, listed); });
        list.insert(at, item);
    }
}

// Stores the item in the index at *slot (made when missing), or returns the
// equal stored pattern and releases the item. NULL when out of memory (the
// item released).
URLLIST_QUERY_ITEM *store_pattern(URLLIST_QUERY_TREE **slot, URLLIST_QUERY_ITEM *item)
{
    if (*slot == nullptr && (*slot = urllist_new_urllist_query_tree()) == nullptr) {
        urllist_terminate_query_item(item);
        return nullptr;
    }
    URLLIST_QUERY_TREE &tree = **slot;
    try {
        if (URLLIST_QUERY_ITEM *equal = find_equal_pattern(tree, item)) {
            urllist_terminate_query_item(item);
            return equal;
        }
        tree.items.reserve(tree.items.size() + 1);
        index_item(tree, item);
    } catch (const std::bad_alloc &) {
        unindex(tree, item);
        urllist_terminate_query_item(item);
        return nullptr;
    }
    tree.items.push_back(item);
    return item;
}

URLLIST_QUERY_ITEM *copy_pattern(const URLLIST_QUERY_ITEM *src)
{
    URLLIST_QUERY_ITEM *copy = allocate_item(src->queryelements);
    if (copy == nullptr)
        return nullptr;
    copy->flags = src->flags;
    copy->names = src->names;
    std::memcpy(copy->hash, src->hash, 2 * src->queryelements * sizeof(myhash_t));
    if (src->data != nullptr) {
        copy->data = src->data;
        velmora::hold_record(copy->data);
    }
    return copy;
}

// Copies in load order, so that the copies keep the preference of equal
// patterns that the originals have.
bool copy_patterns(const URLLIST_QUERY_TREE *from, URLLIST_QUERY_TREE **to)
{
    if (from == nullptr)
        return true;
    for (const URLLIST_QUERY_ITEM *src : from->items) {
        URLLIST_QUERY_ITEM *copy = copy_pattern(src);
        if (copy == nullptr || store_pattern(to, copy) == nullptr)
            return false;
    }
    return true;
}

// The URL's element texts in one block: the NULL-terminated pointer array
// followed by the text it points into.
char **element_block(const char *query, bool lower, size_t *count)
{
    size_t len = std::strlen(query);
    size_t room = element_room(query);
    size_t pointers = (room + 1) * sizeof(char *);
    auto **block = static_cast<char **>(std::malloc(pointers + len + 1));
    if (block == nullptr)
        return nullptr;
    char *text = reinterpret_cast<char *>(block) + pointers;
    std::memcpy(text, query, len + 1);
    if (lower)
        lowercase(text);
    *count = split_elements(text, block, room);
    block[*count] = nullptr;
    return block;
}

// Full and name hashes of the URL's elements (no bare-name folding: the
// name is what stands before the first '=').
bool hash_url_elements(char *const *elements, size_t n, myhash_t **hashes, myhash_t **names)
{
    auto *full = static_cast<myhash_t *>(std::malloc(n * sizeof(myhash_t)));
    auto *name = static_cast<myhash_t *>(std::malloc(n * sizeof(myhash_t)));
    if (full == nullptr || name == nullptr) {
        std::free(full);
        std::free(name);
        return false;
    }
    for (size_t k = 0; k < n; k++) {
        const char *element = elements[k];
        size_t len = std::strlen(element);
        const char *eq = std::strchr(element, '=');
        full[k].city = hash_of(element, len);
        name[k].city = hash_of(element, eq != nullptr ? static_cast<size_t>(eq - element) : len);
    }
    *hashes = full;
    *names = name;
    return true;
}

struct UrlElementLists {
    char **URLLIST_EXPLODED_URL::*texts;
    myhash_t *URLLIST_EXPLODED_URL::*hashes;
    myhash_t *URLLIST_EXPLODED_URL::*names;
    bool lower;
};

constexpr UrlElementLists case_sensitive_lists{&URLLIST_EXPLODED_URL::query_list,
                                               &URLLIST_EXPLODED_URL::query_hash_list,
                                               &URLLIST_EXPLODED_URL::query_name_hash_list, false};
// The lower-cased texts get a block of their own rather than places in the
// URL's shared lower-cased copy: the query may lie outside that copy when
// the host was converted.
constexpr UrlElementLists nocase_lists{&URLLIST_EXPLODED_URL::query_list_nocase,
                                       &URLLIST_EXPLODED_URL::query_hash_list_nocase,
                                       &URLLIST_EXPLODED_URL::query_name_hash_list_nocase, true};

char **build_url_lists(URLLIST_EXPLODED_URL *urlinfo, const UrlElementLists &lists)
{
    if (urlinfo->*lists.texts != nullptr)
        return urlinfo->*lists.texts;
    if (urlinfo->query == nullptr || urlinfo->query->item == nullptr)
        return nullptr;
    size_t n = 0;
    char **block = element_block(urlinfo->query->item, lists.lower, &n);
    myhash_t *hashes = nullptr;
    myhash_t *names = nullptr;
    if (block == nullptr || n == 0 || !hash_url_elements(block, n, &hashes, &names)) {
        std::free(block);
        return nullptr;
    }
    urlinfo->*lists.texts = block;
    urlinfo->*lists.hashes = hashes;
    urlinfo->*lists.names = names;
    urlinfo->queryelements = n;
    return block;
}

void release_url_sets(URLLIST_EXPLODED_URL *urlinfo)
{
    delete urlinfo->query_tree;
    delete urlinfo->query_tree_nocase;
    delete urlinfo->query_foundlist;
    urlinfo->query_tree = urlinfo->query_tree_nocase = nullptr;
    urlinfo->query_foundlist = nullptr;
}

} // namespace

extern "C" {

URLLIST_QUERY_TREE *urllist_new_urllist_query_tree(void) noexcept
{
    return new (std::nothrow) URLLIST_QUERY_TREE;
}

void urllist_terminate_query_tree(URLLIST_QUERY_TREE *t) noexcept
{
    if (t == nullptr)
        return;
    for (URLLIST_QUERY_ITEM *item : t->items)
        urllist_terminate_query_item(item);
    delete t;
}

URLLIST_QUERY_ITEM *urllist_new_urllist_query_item(const char *querystring, int flags) noexcept
{
    if (querystring == nullptr)
        return nullptr;
    std::unique_ptr<char, decltype(&std::free)> copy(strdup(querystring), &std::free);
    if (!copy)
        return nullptr;
    if ((flags & URLLIST_EXPLODE_NOCASE) && !(flags & URLLIST_EXPLODE_HASHED))
        lowercase(copy.get());
    size_t n = 0;
    std::unique_ptr<char *, decltype(&std::free)> elements(urllist_query_parse(copy.get(), &n), &std::free);
    if (!elements)
        return nullptr;
    return item_from_elements(elements.get(), n, flags);
}

void urllist_terminate_query_item(URLLIST_QUERY_ITEM *q) noexcept
{
    if (q == nullptr)
        return;
    velmora::drop_record(q->data);
    std::free(q->querydata);
    std::free(q);
}

URLLIST_QUERY_ITEM *urllist_query_add(URLLIST_EXPLODED_URL *urlinfo, const char *querystring, URLLIST_ITEM *i,
                                      int flags) noexcept
{
    if (i == nullptr)
        return nullptr;
    URLLIST_QUERY_ITEM *item = urllist_new_urllist_query_item(querystring, flags);
    if (item == nullptr)
        return nullptr;
    if (urlinfo != nullptr && urlinfo->anchor != nullptr)
        item->flags |= URLLIST_QUERY_ANCHORED;
    bool nocase = flags & URLLIST_EXPLODE_NOCASE;
    if (nocase)
        item->flags |= URLLIST_QUERY_NOCASE;
    return store_pattern(nocase ? &i->queryhead_nocase : &i->queryhead, item);
}

URLLIST_QUERY_ITEM *urllist_query_lookup(URLLIST_EXPLODED_URL *urlinfo, URLLIST_QUERY_TREE *querytree, int flags,
                                         int exact_match) noexcept
{
    if (urlinfo == nullptr || querytree == nullptr)
        return nullptr;
    bool nocase = flags & URLLIST_EXPLODE_NOCASE;
    ElementSide side{nocase ? urlinfo->query_hash_list_nocase : urlinfo->query_hash_list,
                     nocase ? urlinfo->query_name_hash_list_nocase : urlinfo->query_name_hash_list,
                     urlinfo->queryelements, nocase ? &urlinfo->query_tree_nocase : &urlinfo->query_tree,
                     &urlinfo->query_foundlist};
    if (side.hashes == nullptr || side.names == nullptr || side.count == 0)
        return nullptr;
    try {
        return match_patterns(*querytree, side, exact_match != 0);
    } catch (const std::bad_alloc &) {
        release_url_sets(urlinfo);
        return nullptr;
    }
}

char **urllist_query_parse(char *token, size_t *queryelements) noexcept
{
    if (queryelements != nullptr)
        *queryelements = 0;
    if (token == nullptr)
        return nullptr;
    size_t room = element_room(token);
    auto **elements = static_cast<char **>(std::malloc((room + 1) * sizeof(char *)));
    if (elements == nullptr)
        return nullptr;
    size_t n = split_elements(token, elements, room);
    if (n == 0) {
        std::free(elements);
        return nullptr;
    }
    elements[n] = nullptr;
    if (queryelements != nullptr)
        *queryelements = n;
    return elements;
}

char **urllist_get_query_list(URLLIST_EXPLODED_URL *urlinfo) noexcept
{
    return urlinfo != nullptr ? build_url_lists(urlinfo, case_sensitive_lists) : nullptr;
}

char **urllist_get_nocase_query_list(URLLIST_EXPLODED_URL *urlinfo) noexcept
{
    if (urllist_get_query_list(urlinfo) == nullptr)
        return nullptr;
    return build_url_lists(urlinfo, nocase_lists);
}

int urllist_query_cmp(const void *a, const void *b) noexcept
{
    int64_t x = *static_cast<const int64_t *>(a);
    int64_t y = *static_cast<const int64_t *>(b);
    if (x > y)
        return -1;
    return x == y ? 0 : 1;
}

int urllist_query_item_compare(const void *, const void *) noexcept
{
    return 0;
}

int urllist_clone_urllist_item_query(const URLLIST_ITEM *item, URLLIST_ITEM *newitem) noexcept
{
    if (item == nullptr || newitem == nullptr)
        return item == nullptr ? 0 : -1;
    bool copied = copy_patterns(item->queryhead, &newitem->queryhead) &&
                  copy_patterns(item->queryhead_nocase, &newitem->queryhead_nocase);
    return copied ? 0 : -1;
}

} // extern "C"
