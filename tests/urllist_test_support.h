// Helpers shared by the URL list store, query and digest tests.
#ifndef VELMORA_TESTS_URLLIST_TEST_SUPPORT_H
#define VELMORA_TESTS_URLLIST_TEST_SUPPORT_H

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "velmora/urllist.h"

namespace urllist_test {

using Record = std::unique_ptr<URLLIST_EXPLODED_URL, decltype(&urllist_free_urllist_exploded_url)>;
using List = std::unique_ptr<URLLIST, decltype(&urllist_terminate)>;

inline List make_list(int flags = 0)
{
    return List(urllist_initialize(flags), urllist_terminate);
}

// A list-mode decomposition of an entry text.
inline Record entry(const char *url, int flags = 0)
{
    return Record(urllist_explode(url, nullptr, 0, flags), urllist_free_urllist_exploded_url);
}

// A check-mode decomposition of a URL.
inline Record url(const char *text)
{
    return Record(urllist_explode(text, nullptr, 1, 0), urllist_free_urllist_exploded_url);
}

// A bare record whose tokens are given one by one (types and texts), for
// laying keys of chosen hashes and types.
struct TokenSpec {
    UrlPart type;
    std::string text;
};

inline Record tokens_record(const std::vector<TokenSpec> &specs, int32_t num_port = 0)
{
    Record rec(urllist_new_urllist_exploded_url(""), urllist_free_urllist_exploded_url);
    auto *tokens = static_cast<URLLIST_TOKEN *>(std::calloc(specs.size() + 1, sizeof(URLLIST_TOKEN)));
    // The texts live in one block behind nothing the record frees: keep them
    // in a static pool for the test's lifetime.
    static std::vector<std::unique_ptr<std::string>> pool;
    for (size_t k = 0; k < specs.size(); k++) {
        pool.push_back(std::make_unique<std::string>(specs[k].text));
        tokens[k].type = specs[k].type;
        tokens[k].item = pool.back()->c_str();
        if (specs[k].type == UP_QUERY)
            rec->query = &tokens[k];
    }
    tokens[specs.size()].type = UP_NULL;
    rec->tokens = tokens;
    rec->num_port = num_port;
    return rec;
}

inline std::string hash_string(int64_t value)
{
    myhash_t h{value};
    char buf[17];
    urllist_hash2str(&h, buf, sizeof buf);
    return buf;
}

inline int64_t hash_of(const char *text)
{
    myhash_t h{};
    urllist_hash(text, static_cast<int>(std::strlen(text)), &h);
    return h.city;
}

inline URLLIST_ITEM_DATA *deny()
{
    return urllist_new_urllist_item_data(-1, UA_DENY, nullptr);
}

// A regular-expression replacement record: equal entries of this kind merge.
inline URLLIST_ITEM_DATA *regreplace(const char *args)
{
    void *action_data = nullptr;
    UrlAction action = urllist_action_parse_action("R", args, &action_data);
    return urllist_new_urllist_item_data(-1, action, action_data);
}

// Releases a record that ended its insertion without a reference, as the
// loader does.
inline void release_unreferenced(URLLIST_ITEM_DATA *data)
{
    if (data->refcount == 0)
        urllist_destroy_item_data(data);
}

// Lays an entry below `at` the way the loader does for one line.
inline int lay(URLLIST_ITEM *at, const char *text, URLLIST_ITEM_DATA *data, int flags = 0, int overwrite = 1,
               int cloned = 0)
{
    Record rec = entry(text, flags);
    if (!rec) {
        urllist_destroy_item_data(data);
        return -1;
    }
    int rc = urllist_add_to_tree(at, rec.get(), 0, data, overwrite, cloned, flags);
    release_unreferenced(data);
    return rc;
}

// The node for (hash, type) anywhere in the sibling tree at `top`.
inline URLLIST_ITEM *sibling(URLLIST_ITEM *top, int64_t hash, UrlPart type)
{
    if (top == nullptr)
        return nullptr;
    if (top->hash.city == hash && top->itemtype == type)
        return top;
    if (URLLIST_ITEM *found = sibling(top->low, hash, type))
        return found;
    return sibling(top->high, hash, type);
}

inline URLLIST_ITEM *sibling(URLLIST_ITEM *top, const char *text, UrlPart type)
{
    return sibling(top, hash_of(text), type);
}

inline size_t sibling_count(const URLLIST_ITEM *top)
{
    return top == nullptr ? 0 : 1 + sibling_count(top->low) + sibling_count(top->high);
}

} // namespace urllist_test

#endif
