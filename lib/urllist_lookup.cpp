// The public lookups of a URL list: the fixed order of entry kinds for a
// decomposed URL (path tree, query tree, host tree and IP lists, digest,
// extension, keywords, regular expressions, default), the lookups of plain
// texts and of event types, each under the list's read lock.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "internal/urllist_lock.h"
#include "internal/urllist_store.h"
#include "velmora/policyevent.h"
#include "velmora/qxstring.h"

namespace {

struct FreeDeleter {
    void operator()(char *p) const noexcept { std::free(p); }
};
using OwnedText = std::unique_ptr<char, FreeDeleter>;

bool has_subtrees(const URLLIST_ITEM &root)
{
    return root.child != nullptr || root.nocase_child != nullptr || root.wildcard_child != nullptr;
}

// Hands a found entry's text to the caller, or drops it.
URLLIST_ITEM_DATA *answer(URLLIST_ITEM_DATA *data, OwnedText text, char **listurl)
{
    if (listurl != nullptr)
        *listurl = text.release();
    return data;
}

URLLIST_ITEM_DATA *host_step(const URLLIST *l, URLLIST_EXPLODED_URL *u, char **listurl)
{
    if (u->tokens == nullptr || u->tokens[0].item == nullptr)
        return nullptr;
    return urllist_url_lookup(l, nullptr, u, nullptr, listurl);
}

URLLIST_ITEM_DATA *tree_steps(URLLIST *l, URLLIST_EXPLODED_URL *u, char **listurl)
{
    URLLIST_ITEM_DATA *found = nullptr;
    if (u->path != nullptr && has_subtrees(l->path_root))
        found = urllist_url_lookup(l, &l->path_root, u, u->path, listurl);
    bool query_entries = l->query_root.queryhead != nullptr || l->query_root.queryhead_nocase != nullptr;
    if (found == nullptr && u->query != nullptr && query_entries)
        found = urllist_url_lookup(l, &l->query_root, u, u->query, listurl);
    return found != nullptr ? found : host_step(l, u, listurl);
}

// Digest and extension matches are tested for expiry by the action rule.
URLLIST_ITEM_DATA *live_or_nothing(URLLIST_ITEM_DATA *data, char *text, char **listurl)
{
    OwnedText owned(text);
    if (data == nullptr || urllist_action_expired(data))
        return nullptr;
    return answer(data, std::move(owned), listurl);
}

URLLIST_ITEM_DATA *digest_step(const URLLIST *l, URLLIST_EXPLODED_URL *u, char **listurl)
{
    char *text = nullptr;
    URLLIST_ITEM_DATA *data = urllist_digest_lookup(l, u, listurl != nullptr ? &text : nullptr);
    return live_or_nothing(data, text, listurl);
}

URLLIST_ITEM_DATA *extension_step(const URLLIST *l, const URLLIST_EXPLODED_URL *u, char **listurl)
{
    if (l->ext_list == nullptr || u->fileExtension == nullptr)
        return nullptr;
    char *text = nullptr;
    void *data = listurl != nullptr ? extlist_lookup_diag(l->ext_list, u->fileExtension, &text)
                                    : extlist_lookup(l->ext_list, u->fileExtension);
    return live_or_nothing(static_cast<URLLIST_ITEM_DATA *>(data), text, listurl);
}

// The matched keyword or phrase as listed, with '+' for every space.
char *keyword_text(const char *item)
{
    char *text = strdup(item);
    if (text != nullptr)
        string_replace(text, ' ', '+');
    return text;
}

URLLIST_ITEM_DATA *keyword_step(const URLLIST *l, const char *lowered, char **listurl)
{
    KEYWORDLIST_RESULT *found = keywordlist_lookup(l->keyword_list, lowered, nullptr, nullptr);
    if (found == nullptr)
        return nullptr;
    auto *data = static_cast<URLLIST_ITEM_DATA *>(found->data);
    if (data == nullptr || urllist_action_expired(data))
        return nullptr;
    if (listurl == nullptr)
        return data;
    OwnedText text(keyword_text(found->item));
    return text ? answer(data, std::move(text), listurl) : nullptr;
}

URLLIST_ITEM_DATA *default_step(const URLLIST *l, char **listurl)
{
    if ((l->flags & URLLIST_NO_DEFAULT) || l->default_data == nullptr)
        return nullptr;
    if (listurl == nullptr)
        return l->default_data;
    OwnedText text(strdup("*"));
    return text ? answer(l->default_data, std::move(text), listurl) : nullptr;
}

// The URL lower-cased and decoded for keyword matching, made once per record.
const char *nocase_url(URLLIST_EXPLODED_URL *u)
{
    if (u->nocaseURL == nullptr && u->url != nullptr) {
        u->nocaseURL = strdup(u->url);
        if (u->nocaseURL != nullptr)
            string_lowercase_url(u->nocaseURL);
    }
    return u->nocaseURL;
}

// The steps of a URL lookup after the trees. Without a keyword list a URL
// record without text (or a failed copy) still reaches the regular
// expressions with its case-sensitive subject and the default.
bool text_steps(const URLLIST *l, URLLIST_EXPLODED_URL *u, char **listurl, URLLIST_ITEM_DATA **found)
{
    const char *lowered = l->keyword_list != nullptr || l->regexp != nullptr ? nocase_url(u) : nullptr;
    if (l->keyword_list != nullptr) {
        if (lowered == nullptr)
            return false; // the keywords cannot be searched: the lookup fails
        *found = keyword_step(l, lowered, listurl);
    }
    if (*found == nullptr)
        *found = urllist_regexp_lookup(l, u->url, lowered, listurl);
    if (*found == nullptr)
        *found = default_step(l, listurl);
    return true;
}

int full_lookup(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA **ret_data, char **listurl)
{
    URLLIST_ITEM_DATA *found = tree_steps(l, u, listurl);
    if (found == nullptr)
        found = digest_step(l, u, listurl);
    if (found == nullptr)
        found = extension_step(l, u, listurl);
    if (found == nullptr && !text_steps(l, u, listurl, &found))
        return 1;
    if (found == nullptr)
        return 1;
    if (ret_data != nullptr)
        *ret_data = found;
    return 0;
}

int locked_full_lookup(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA **ret_data, char **listurl)
{
    if (l == nullptr || u == nullptr)
        return 1;
    velmora::ListLock lock(l, velmora::LockMode::read);
    return lock.held() ? full_lookup(l, u, ret_data, listurl) : 1;
}

int locked_host_lookup(URLLIST *l, URLLIST_EXPLODED_URL *u, URLLIST_ITEM_DATA **ret_data, char **listurl)
{
    if (l == nullptr || u == nullptr)
        return 1;
    velmora::ListLock lock(l, velmora::LockMode::read);
    URLLIST_ITEM_DATA *found = lock.held() ? host_step(l, u, listurl) : nullptr;
    if (found == nullptr)
        return 1;
    if (ret_data != nullptr)
        *ret_data = found;
    return 0;
}

int string_lookup(URLLIST *l, const char *str, char **nocase_str, URLLIST_ITEM_DATA **ret_data, char **listurl)
{
    if (l == nullptr || str == nullptr)
        return 1;
    velmora::ListLock lock(l, velmora::LockMode::read);
    if (!lock.held())
        return 1;
    OwnedText own;
    const char *lowered = nocase_str != nullptr ? *nocase_str : nullptr;
    if (lowered == nullptr) {
        own.reset(strdup(str));
        if (own)
            string_lowercase_url(own.get());
        lowered = own.get();
        if (nocase_str != nullptr)
            *nocase_str = own.release();
    }
    URLLIST_ITEM_DATA *found = nullptr;
    if (l->keyword_list != nullptr && lowered != nullptr)
        found = keyword_step(l, lowered, listurl);
    if (found == nullptr)
        found = urllist_regexp_lookup(l, str, lowered, listurl);
    if (found == nullptr)
        found = default_step(l, listurl);
    if (found == nullptr)
        return 1;
    if (ret_data != nullptr)
        *ret_data = found;
    return 0;
}

int event_lookup(URLLIST *l, int index, URLLIST_ITEM_DATA **data, char **listurl)
{
    if (l == nullptr || index < 0 || index >= URLLIST_EVENT_TYPES)
        return 1;
    velmora::ListLock lock(l, velmora::LockMode::read);
    if (!lock.held() || l->event_types_data == nullptr || l->event_types_data[index] == nullptr)
        return 1;
    if (listurl != nullptr) {
        char *text = strdup(policyevent_ntoa(index));
        if (text == nullptr)
            return 1;
        *listurl = text;
    }
    if (data != nullptr)
        *data = l->event_types_data[index];
    return 0;
}

} // namespace

extern "C" {

int urllist_lookup_data(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data) noexcept
{
    return locked_full_lookup(l, urlinfo, ret_data, nullptr);
}

int urllist_lookup_data_unlocked(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data) noexcept
{
    if (l == nullptr || urlinfo == nullptr)
        return 1;
    return full_lookup(l, urlinfo, ret_data, nullptr);
}

int urllist_lookup_data_urlonly(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data) noexcept
{
    return locked_host_lookup(l, urlinfo, ret_data, nullptr);
}

int urllist_lookup_diag(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data,
                        char **listurl) noexcept
{
    return locked_full_lookup(l, urlinfo, ret_data, listurl);
}

int urllist_lookup_diag_urlonly(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data,
                                char **listurl) noexcept
{
    return locked_host_lookup(l, urlinfo, ret_data, listurl);
}

int urllist_lookup_category(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, cat_t *cat_buff) noexcept
{
    if (cat_buff == nullptr)
        return 1;
    URLLIST_ITEM_DATA *found = nullptr;
    if (l == nullptr || urlinfo == nullptr)
        return 1;
    velmora::ListLock lock(l, velmora::LockMode::read);
    if (!lock.held() || full_lookup(l, urlinfo, &found, nullptr) != 0)
        return 1;
    return urllist_action_get_category(found, cat_buff) != 0 ? 0 : 1;
}

int urllist_lookup_string_data(URLLIST *l, const char *str, char **nocase_str,
                               URLLIST_ITEM_DATA **ret_data) noexcept
{
    return string_lookup(l, str, nocase_str, ret_data, nullptr);
}

int urllist_lookup_string_diag(URLLIST *l, const char *str, char **nocase_str, URLLIST_ITEM_DATA **ret_data,
                               char **listurl) noexcept
{
    return string_lookup(l, str, nocase_str, ret_data, listurl);
}

int urllist_lookup_num_data(URLLIST *l, int index, URLLIST_ITEM_DATA **data) noexcept
{
    return event_lookup(l, index, data, nullptr);
}

int urllist_lookup_num_diag(URLLIST *l, int index, URLLIST_ITEM_DATA **data, char **listurl) noexcept
{
    return event_lookup(l, index, data, listurl);
}

URLLIST_ITEM_DATA *urllist_regexp_lookup(const URLLIST *l, const char *str, const char *nocase_str,
                                         char **listurl) noexcept
{
    if (l == nullptr || str == nullptr)
        return nullptr;
    for (const URLLIST_RE_ITEM *re = l->regexp; re != nullptr; re = re->next) {
        if (velmora::tree_record_expired(re->data))
            continue;
        const char *subject = re->nocase ? nocase_str : str;
        if (subject == nullptr || regexec(&re->exp, subject, 0, nullptr, 0) != 0)
            continue;
        if (listurl == nullptr)
            return re->data;
        size_t len = std::strlen(re->strexp);
        char *text = static_cast<char *>(std::malloc(len + 3));
        if (text == nullptr)
            return nullptr;
        text[0] = '/';
        std::memcpy(text + 1, re->strexp, len);
        std::memcpy(text + 1 + len, "/", 2);
        *listurl = text;
        return re->data;
    }
    return nullptr;
}

} // extern "C"
