// The tree walk of a URL lookup: a decomposed URL's tokens are matched
// against a tree of sibling trees, with pending alternatives (wildcard and
// case-insensitive children) kept on a small stack, and the deepest live
// result on the best path wins. A diagnostic walk also rebuilds the text of
// the matched entry from the tokens it matched.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "internal/urllist_sibling_index.h"
#include "internal/urllist_store.h"

namespace {

// Most pending alternatives of one walk; further ones are not tried.
constexpr int max_pending = 32;

struct Part {
    const char *text;
    UrlPart type;
};

struct Pending {
    URLLIST_ITEM *node;         // top of a sibling tree, or a wildcard node
    URLLIST_ITEM *const *slot;  // the link holding the sibling tree; NULL for a wildcard node
    URLLIST_TOKEN *token;       // the token it is tried with
    size_t parts;               // length of the part list when it was pushed
};

bool is_wildcard_node(const URLLIST_ITEM *node)
{
    return node->hash.city == wildcard_hash.city;
}

bool has_children(const URLLIST_ITEM *node)
{
    return node->child != nullptr || node->wildcard_child != nullptr || node->nocase_child != nullptr;
}

bool live_record(const URLLIST_ITEM_DATA *data)
{
    return data != nullptr && !velmora::tree_record_expired(data);
}

bool port_in_range(const URLLIST_ITEM *node, int32_t port)
{
    if (port == -1)
        return node->port_lower == 0 && node->port_upper == 65535;
    return node->port_lower <= port && port <= node->port_upper;
}

// True when the token's text lies in the scheme, host or port part of the
// URL (or outside the URL's copy: default ports, the wildcard scheme and
// converted host labels).
bool in_host_part(const URLLIST_EXPLODED_URL *u, const URLLIST_TOKEN *token)
{
    auto start = reinterpret_cast<uintptr_t>(u->mangledURL);
    auto text = reinterpret_cast<uintptr_t>(token->item);
    if (text < start || text > start + static_cast<uintptr_t>(u->length))
        return true;
    return text - start < static_cast<uintptr_t>(u->host_url_length);
}

int64_t nocase_key(URLLIST_EXPLODED_URL *u, URLLIST_TOKEN *token)
{
    if (in_host_part(u, token))
        return token->hash.city;
    urllist_get_nocase_url(u, token);
    return token->nocase_hash.city;
}

// The node of the sibling tree at `top` that the token matches, by the
// order in which entries were laid into it.
URLLIST_ITEM *search_port(URLLIST_ITEM *x, int32_t port)
{
    while (x != nullptr) {
        if (x->itemtype != UP_PORT)
            x = x->low;
        else if (port_in_range(x, port))
            return x;
        else
            x = port < x->port_lower ? x->low : x->high;
    }
    return nullptr;
}

URLLIST_ITEM *search_siblings(URLLIST_ITEM *x, URLLIST_EXPLODED_URL *u, URLLIST_TOKEN *token)
{
    if (token->type == UP_PORT)
        return search_port(x, u->num_port);
    while (x != nullptr) {
        if (x->itemtype == UP_PORT) {
            x = x->high;
            continue;
        }
        int64_t key = x->nocase ? nocase_key(u, token) : token->hash.city;
        if (key != x->hash.city) {
            x = key > x->hash.city ? x->low : x->high;
            continue;
        }
        int diff = static_cast<int>(x->itemtype) - static_cast<int>(token->type);
        if (diff == 0)
            return x;
        x = diff < 0 ? x->low : x->high;
    }
    return nullptr;
}

bool is_default_port(const char *scheme, const char *port)
{
    if (scheme == nullptr)
        return false;
    return (std::strcmp(scheme, "http") == 0 && std::strcmp(port, "80") == 0) ||
           (std::strcmp(scheme, "https") == 0 && std::strcmp(port, "443") == 0) ||
           (std::strcmp(scheme, "*") == 0 && std::strcmp(port, "0-65535") == 0);
}

// Host labels were matched top-level label first; the text shows them in
// their usual order. Returns the index after the run of labels.
size_t append_host(std::string &text, const std::vector<Part> &parts, size_t first, size_t end)
{
    size_t last = first;
    while (last < end && parts[last].type == UP_HOST)
        last++;
    for (size_t k = last; k > first; k--) {
        text += parts[k - 1].text;
        if (k - 1 > first)
            text += '.';
    }
    return last;
}

std::string tree_entry_text(const std::vector<Part> &parts, size_t end)
{
    std::string text;
    const char *scheme = nullptr;
    for (size_t k = 0; k < end;) {
        const Part &part = parts[k];
        switch (part.type) {
        case UP_PROTO:
            scheme = part.text;
            if (std::strcmp(scheme, "*") != 0)
                text.append(scheme).append("://");
            break;
        case UP_HOST: k = append_host(text, parts, k, end); continue;
        case UP_PORT:
            if (!is_default_port(scheme, part.text))
                text.append(":").append(part.text);
            break;
        case UP_PATH: text.append("/").append(part.text); break;
        default: break;
        }
        k++;
    }
    return text;
}

// Text of element k of a matched query pattern, from the URL's elements.
void append_query_element(std::string &text, const URLLIST_EXPLODED_URL *u, const URLLIST_QUERY_ITEM *item, size_t k)
{
    if (item->hash[k].city == wildcard_hash.city) {
        text += '*';
        return;
    }
    bool nocase = item->flags & URLLIST_QUERY_NOCASE;
    char **texts = nocase ? u->query_list_nocase : u->query_list;
    const myhash_t *full = nocase ? u->query_hash_list_nocase : u->query_hash_list;
    const myhash_t *names = nocase ? u->query_name_hash_list_nocase : u->query_name_hash_list;
    if (texts == nullptr || full == nullptr || names == nullptr)
        return;
    for (size_t e = 0; e < u->queryelements; e++)
        if (full[e].city == item->hash[k].city) {
            text += texts[e];
            return;
        }
    for (size_t e = 0; e < u->queryelements; e++)
        if (names[e].city == item->name_hash[k].city) {
            text.append(texts[e], std::strcspn(texts[e], "=")).append("=");
            return;
        }
}

void append_query_text(std::string &text, const URLLIST_EXPLODED_URL *u, const URLLIST_QUERY_ITEM *item)
{
    bool anchored = item->flags & URLLIST_QUERY_ANCHORED;
    for (size_t k = 0; k < item->queryelements; k++) {
        if (anchored && k + 1 == item->queryelements)
            text += '#';
        else
            text += k == 0 ? '?' : '&';
        append_query_element(text, u, item, k);
    }
}

char *malloc_copy(const std::string &text)
{
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

class TreeWalk {
public:
    TreeWalk(const URLLIST *l, URLLIST_EXPLODED_URL *u, bool with_text)
        : l_(l), u_(u), with_text_(with_text), index_(velmora::usable_sibling_index(l))
    {
        if (with_text)
            parts_.reserve(token_count() + 2);
    }

    // The walk below `root` from `start`, or, with root NULL, the host walk
    // with the IP lists.
    URLLIST_ITEM_DATA *run(URLLIST_ITEM *root, URLLIST_TOKEN *start)
    {
        if (start != nullptr) {
            walk_from(root, start);
            return ret_;
        }
        URLLIST_ITEM *address = scheme_address_node();
        if (address != nullptr)
            walk_from_address(address, u_->tokens[0].item);
        else
            walk_from(const_cast<URLLIST_ITEM *>(&l_->root), u_->tokens);
        if (ret_ == nullptr && (address = wildcard_address_node()) != nullptr) {
            reset();
            walk_from_address(address, "*");
        }
        return ret_;
    }

    // The matched entry's text (malloc), or NULL when out of memory.
    char *entry_text() const
    {
        std::string text = tree_entry_text(parts_, ret_parts_);
        if (ret_query_ != nullptr)
            append_query_text(text, u_, ret_query_);
        return malloc_copy(text);
    }

private:
    size_t token_count() const
    {
        size_t n = 0;
        while (u_->tokens[n].item != nullptr)
            n++;
        return n;
    }

    void reset()
    {
        depth_ = 0;
        parts_.clear();
        ret_ = nullptr;
        ret_query_ = nullptr;
        ret_parts_ = 0;
    }

    URLLIST_ITEM *scheme_address_node() const
    {
        if (!u_->isIP || l_->iplists == nullptr)
            return nullptr;
        char key[41];
        urllist_hash2str(&u_->scheme_hash, key, sizeof key);
        iphead *list = velmora::find_scheme_iplist(l_, key);
        return list != nullptr ? static_cast<URLLIST_ITEM *>(iplist_find_data(list, &u_->ip)) : nullptr;
    }

    URLLIST_ITEM *wildcard_address_node() const
    {
        if (!u_->isIP || l_->wildcard_iplist == nullptr)
            return nullptr;
        return static_cast<URLLIST_ITEM *>(iplist_find_data(l_->wildcard_iplist, &u_->ip));
    }

    void add_part(const char *text, UrlPart type)
    {
        if (with_text_)
            parts_.push_back(Part{text, type});
    }

    void take_result(URLLIST_ITEM_DATA *data, URLLIST_QUERY_ITEM *query)
    {
        ret_ = data;
        ret_query_ = query;
        ret_parts_ = parts_.size();
    }

    void push(URLLIST_ITEM *node, URLLIST_ITEM *const *slot, URLLIST_TOKEN *token)
    {
        if (node != nullptr && token->item != nullptr && depth_ < max_pending)
            stack_[depth_++] = Pending{node, slot, token, parts_.size()};
    }

    void push_alternatives(URLLIST_ITEM *node, URLLIST_TOKEN *token)
    {
        push(node->wildcard_child, nullptr, token);
        push(node->nocase_child, &node->nocase_child, token);
    }

    // The node of the sibling tree held by *slot that the token matches. An
    // indexed tree answers from its index, unless case-insensitive nodes in
    // it would be compared with a different key than the others.
    URLLIST_ITEM *search_tree(URLLIST_ITEM *const *slot, URLLIST_TOKEN *token)
    {
        if (slot == nullptr)
            return nullptr;
        if (index_ != nullptr && token->type != UP_PORT) {
            const velmora::SiblingIndex::TreeInfo *info = index_->tree(slot);
            if (info != nullptr && (!info->has_nocase || in_host_part(u_, token)))
                return index_->find(slot, token->hash.city, token->type);
        }
        return search_siblings(*slot, u_, token);
    }

    void check_query(URLLIST_ITEM *node)
    {
        if ((node->queryhead == nullptr && node->queryhead_nocase == nullptr) || u_->query == nullptr)
            return;
        URLLIST_QUERY_ITEM *found = nullptr;
        if (node->queryhead != nullptr && urllist_get_query_list(u_) != nullptr)
            found = urllist_query_lookup(u_, node->queryhead, 0, 0);
        if (found == nullptr && node->queryhead_nocase != nullptr && urllist_get_nocase_query_list(u_) != nullptr)
            found = urllist_query_lookup(u_, node->queryhead_nocase, URLLIST_EXPLODE_NOCASE, 0);
        if (found != nullptr && found->data != nullptr)
            take_result(found->data, found);
    }

    // The walk below an address node of an IP list; the scheme and the
    // address stand for the URL's scheme and host tokens.
    void walk_from_address(URLLIST_ITEM *address, const char *scheme_text)
    {
        add_part(scheme_text, UP_PROTO);
        add_part(address->item, address->itemtype);
        if (live_record(address->data))
            take_result(address->data, nullptr);
        URLLIST_TOKEN *token = u_->tokens + 1;
        while (token->item != nullptr && token->type == UP_HOST)
            token++;
        walk_from(address, token);
    }

    void walk_from(URLLIST_ITEM *node, URLLIST_TOKEN *token)
    {
        check_query(node);
        push_alternatives(node, token);
        search_from(token->type == UP_QUERY ? nullptr : &node->child, token);
    }

    // Takes pending alternatives until one matches; false when none is left.
    bool pop_match(URLLIST_ITEM **matched, URLLIST_TOKEN **token)
    {
        while (depth_ > 0) {
            const Pending p = stack_[--depth_];
            if (with_text_)
                parts_.resize(p.parts);
            URLLIST_ITEM *m = p.slot == nullptr || is_wildcard_node(p.node) ? p.node : search_tree(p.slot, p.token);
            if (m != nullptr) {
                *matched = m;
                *token = p.token;
                return true;
            }
        }
        return false;
    }

    const char *part_text(const URLLIST_ITEM *m, URLLIST_TOKEN *token)
    {
        if (is_wildcard_node(m))
            return "*";
        if (m->itemtype == UP_PORT)
            return m->item;
        if (m->nocase && m->itemtype == UP_PATH)
            return urllist_get_nocase_url(u_, token);
        return token->item;
    }

    void on_match(URLLIST_ITEM *m, URLLIST_TOKEN *token)
    {
        if (with_text_)
            add_part(part_text(m, token), m->itemtype);
        if (live_record(m->data)) {
            take_result(m->data, nullptr);
            depth_ = 0; // a deeper result ends the shallower alternatives
        }
        check_query(m);
        push_alternatives(m, token + 1);
    }

    enum class Next { end, matched, descend };

    // Where the walk goes after the match of m: on (an alternative that
    // matched, with its token), down into m's children with the next token,
    // or nowhere.
    Next after_match(URLLIST_ITEM **m, URLLIST_TOKEN **token, URLLIST_ITEM *const **slot)
    {
        if (!has_children(*m)) {
            if (depth_ == 0 || ret_ != nullptr)
                return Next::end;
            return pop_match(m, token) ? Next::matched : Next::end;
        }
        if ((*token)[1].item == nullptr)
            return pop_match(m, token) ? Next::matched : Next::end;
        *slot = &(*m)->child;
        ++*token;
        return Next::descend;
    }

    // Finds the token in the sibling tree, falling back on the pending
    // alternatives; false when the walk ends.
    bool find_match(URLLIST_ITEM *const *slot, URLLIST_ITEM **m, URLLIST_TOKEN **token)
    {
        if ((*token)->type == UP_QUERY) {
            if (depth_ == 0 || ret_ != nullptr)
                return false;
            return pop_match(m, token);
        }
        *m = search_tree(slot, *token);
        return *m != nullptr || pop_match(m, token);
    }

    void search_from(URLLIST_ITEM *const *slot, URLLIST_TOKEN *token)
    {
        URLLIST_ITEM *m = nullptr;
        while (token->item != nullptr) {
            if (!find_match(slot, &m, &token))
                return;
            Next next;
            do {
                on_match(m, token);
                next = after_match(&m, &token, &slot);
            } while (next == Next::matched);
            if (next == Next::end)
                return;
        }
    }

    const URLLIST *l_;
    URLLIST_EXPLODED_URL *u_;
    bool with_text_;
    Pending stack_[max_pending];
    int depth_ = 0;
    std::vector<Part> parts_;
    URLLIST_ITEM_DATA *ret_ = nullptr;
    URLLIST_QUERY_ITEM *ret_query_ = nullptr;
    size_t ret_parts_ = 0;
    const velmora::SiblingIndex *index_;
};

bool host_tree_empty(const URLLIST *l)
{
    return !has_children(&l->root) && l->iplists == nullptr && l->wildcard_iplist == nullptr;
}

} // namespace

extern "C" {

URLLIST_ITEM_DATA *urllist_url_lookup(const URLLIST *l, URLLIST_ITEM *root, URLLIST_EXPLODED_URL *urlinfo,
                                      URLLIST_TOKEN *start_token, char **listurl) noexcept
{
    if (l == nullptr || urlinfo == nullptr || urlinfo->tokens == nullptr || urlinfo->tokens[0].item == nullptr)
        return nullptr;
    if (root == nullptr && host_tree_empty(l))
        return nullptr;
    if (root != nullptr && start_token == nullptr)
        start_token = urlinfo->tokens;
    try {
        TreeWalk walk(l, urlinfo, listurl != nullptr);
        URLLIST_ITEM_DATA *found = walk.run(root, start_token);
        if (found == nullptr || listurl == nullptr)
            return found;
        char *text = walk.entry_text();
        if (text == nullptr)
            return nullptr;
        *listurl = text;
        return found;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

const char *urllist_get_nocase_url(URLLIST_EXPLODED_URL *urlinfo, URLLIST_TOKEN *token) noexcept
{
    if (urlinfo == nullptr || token == nullptr || token->item == nullptr)
        return nullptr;
    if (in_host_part(urlinfo, token)) {
        token->nocase_hash = token->hash;
        return token->item;
    }
    if (urlinfo->nocaseMangledURL == nullptr)
        urlinfo->nocaseMangledURL = static_cast<char *>(std::calloc(static_cast<size_t>(urlinfo->length) + 1, 1));
    if (urlinfo->nocaseMangledURL == nullptr) {
        token->nocase_hash = token->hash;
        return token->item;
    }
    size_t offset = static_cast<size_t>(token->item - urlinfo->mangledURL);
    char *lowered = urlinfo->nocaseMangledURL + offset;
    if (lowered[0] == '\0') { // first need: lower-case and hash once
        size_t len = std::strlen(token->item);
        for (size_t k = 0; k < len; k++)
            lowered[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(token->item[k])));
        urllist_hash(lowered, static_cast<int>(len), &token->nocase_hash);
    }
    return lowered;
}

int urllist_parent_url_path_offset_number(const URLLIST_EXPLODED_URL *info, int *offset, int *number) noexcept
{
    if (info == nullptr)
        return 1;
    if (offset != nullptr)
        *offset = info->domains_num + 2;
    if (number != nullptr)
        *number = info->paths_num;
    return info->paths_num > 0 ? 0 : 1;
}

} // extern "C"
