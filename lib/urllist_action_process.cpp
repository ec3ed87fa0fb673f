// Carrying URL actions out: query modification, search and replace,
// regular-expression replacement, texts, headers and categories.
#include "velmora/urllist_action.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <string>
#include <string_view>

#include "velmora/base64.h"
#include "velmora/urldecode.h"

namespace {

// Room for 20 capture pairs (the whole match and 19 groups).
constexpr uint32_t capture_pairs = 20;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

char *malloc_copy(std::string_view text)
{
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

int hand_out(std::string_view text, char **ret_url)
{
    char *copy = malloc_copy(text);
    if (copy == nullptr)
        return URLLIST_RESULT_NONE;
    *ret_url = copy;
    return URLLIST_RESULT_URL;
}

// ---- query modification ---------------------------------------------------

enum class PairVerdict { keep, remove };

// Decides the fate of one name=value pair of the query by the items that
// concern it; an adding item that finds its exact pair is marked used.
PairVerdict find_mod_pair(const QModData *qmod, int num, std::string_view name, std::string_view value,
                          bool *used)
{
    for (int i = 0; i < num; ++i) {
        const QModItem &item = qmod->items[i];
        if (item.name_len == 0 || static_cast<size_t>(item.name_len) != name.size() ||
            std::memcmp(item.name, name.data(), name.size()) != 0)
            continue;
        std::string_view item_value(item.complete + item.name_len,
                                    static_cast<size_t>(item.complete_len - item.name_len));
        bool value_matches = value == item_value;
        bool same_name_follows = (item.flags & QMOD_SAME_NAME_FOLLOWS) != 0;
        if ((item.flags & QMOD_REMOVE) == 0) {
            if (value_matches) {
                used[i] = true;
                return PairVerdict::keep;
            }
            if (same_name_follows)
                continue;
            return PairVerdict::remove;
        }
        if ((item.flags & QMOD_REMOVE_ANY) != 0 || value_matches)
            return PairVerdict::remove;
        if (!same_name_follows)
            return PairVerdict::keep;
    }
    return PairVerdict::keep;
}

// Walks the pairs of the query that starts at pos, cutting out the ones the
// items remove. Returns whether anything was removed.
bool remove_pairs(const QModData *qmod, int num, std::string &text, size_t pos, bool *used)
{
    bool removed = false;
    for (;;) {
        size_t eq = text.find('=', pos);
        if (eq == std::string::npos)
            break;
        size_t amp = text.find('&', eq);
        size_t end = amp == std::string::npos ? text.size() : amp;
        std::string_view view(text);
        PairVerdict verdict = find_mod_pair(qmod, num, view.substr(pos, eq - pos), view.substr(eq, end - eq), used);
        if (verdict == PairVerdict::keep) {
            if (amp == std::string::npos)
                break;
            pos = amp + 1;
            continue;
        }
        removed = true;
        if (amp != std::string::npos) {
            text.erase(pos, amp + 1 - pos);
            continue;
        }
        // The last pair goes together with the '&' before it; a '?' stays.
        if (pos > 0 && text[pos - 1] == '&')
            --pos;
        text.erase(pos);
        break;
    }
    return removed;
}

std::string unused_additions(const QModData *qmod, int num, const bool *used)
{
    std::string additions;
    for (int i = 0; i < num; ++i) {
        const QModItem &item = qmod->items[i];
        if (item.name_len == 0 || (item.flags & QMOD_REMOVE) != 0 || used[i])
            continue;
        if (!additions.empty())
            additions += '&';
        additions.append(item.complete, static_cast<size_t>(item.complete_len));
    }
    return additions;
}

int query_modify(const QModData *qmod, const char *url, char **ret_url)
{
    if (qmod->items == nullptr)
        return URLLIST_RESULT_NONE;
    const char *question = std::strchr(url, '?');
    if (question == nullptr && (qmod->options & QMOD_ADD_ALWAYS) == 0)
        return URLLIST_RESULT_NONE;
    std::string text(url);
    size_t query_start = question != nullptr ? static_cast<size_t>(question - url) + 1 : text.size();
    int num = std::min(qmod->num, QMOD_MAX_ITEMS);
    bool used[QMOD_MAX_ITEMS] = {};
    bool removed = remove_pairs(qmod, num, text, query_start, used);
    std::string additions = unused_additions(qmod, num, used);
    if (additions.empty())
        return removed ? hand_out(text, ret_url) : URLLIST_RESULT_NONE;
    if (question == nullptr)
        text += '?';
    if (text.back() != '?')
        text += '&';
    text += additions;
    return hand_out(text, ret_url);
}

// ---- search and replace ---------------------------------------------------

// An empty search text finds nothing, so the replacement always ends.
int search_replace(const SnRData *snr, const char *url, char **ret_url)
{
    if (snr->search == nullptr || snr->search_len <= 0)
        return URLLIST_RESULT_NONE;
    std::string_view search(snr->search, static_cast<size_t>(snr->search_len));
    std::string_view replace;
    if (snr->replace != nullptr && snr->replace_len > 0)
        replace = std::string_view(snr->replace, static_cast<size_t>(snr->replace_len));
    std::string_view source(url);
    std::string result;
    size_t from = 0;
    size_t hit = source.find(search);
    if (hit == std::string_view::npos)
        return URLLIST_RESULT_NONE;
    for (; hit != std::string_view::npos; hit = source.find(search, from)) {
        result.append(source.substr(from, hit - from));
        result.append(replace);
        from = hit + search.size();
    }
    result.append(source.substr(from));
    return hand_out(result, ret_url);
}

// ---- regular-expression replacement ---------------------------------------

struct MatchDataDeleter {
    void operator()(pcre2_match_data *md) const noexcept { pcre2_match_data_free(md); }
};
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// The first element of the chain whose pattern matches; its return count (the
// number of captured pairs) goes to *count.
const RegRData *first_match(const RegRData *regr, const char *url, pcre2_match_data *md, int *count)
{
    for (; regr != nullptr; regr = regr->next) {
        if (regr->pattern == nullptr)
            continue;
        int rc = pcre2_match(static_cast<const pcre2_code *>(regr->pattern), reinterpret_cast<PCRE2_SPTR>(url),
                             PCRE2_ZERO_TERMINATED, 0, 0, md, nullptr);
        if (rc > 0) {
            *count = rc;
            return regr;
        }
    }
    return nullptr;
}

// Reads the digits of a group reference; a number too large for any group is
// kept at a value no match reaches.
unsigned read_group_number(const char *&p)
{
    unsigned number = 0;
    for (; is_digit(*p); ++p)
        number = std::min(number * 10 + static_cast<unsigned>(*p - '0'), capture_pairs * 100);
    return number;
}

// Builds the new text from the template: "$n" copies group n when the match
// returned it; a '$' not followed by a digit is copied as it stands.
std::string expand_template(const char *tpl, const char *url, const PCRE2_SIZE *ovector, int count)
{
    std::string result;
    for (const char *p = tpl; p != nullptr && *p != '\0';) {
        if (*p != '$' || !is_digit(p[1])) {
            result += *p++;
            continue;
        }
        ++p;
        unsigned group = read_group_number(p);
        if (group >= static_cast<unsigned>(count))
            continue;
        PCRE2_SIZE start = ovector[2 * group];
        PCRE2_SIZE end = ovector[2 * group + 1];
        if (start != PCRE2_UNSET && end >= start)
            result.append(url + start, end - start);
    }
    return result;
}

char *base64_decoded(const std::string &text)
{
    auto *decoded = static_cast<char *>(std::malloc(text.size() + 1));
    if (decoded != nullptr)
        base64_decode(text.c_str(), decoded, static_cast<int>(text.size() + 1));
    return decoded;
}

char *postprocessed(const std::string &text, int postprocess)
{
    switch (postprocess) {
    case 'b': return base64_decoded(text);
    case 'u': return qxurldecode(text.c_str());
    default: return malloc_copy(text);
    }
}

int regexp_replace(const RegRData *regr, const char *url, char **ret_url)
{
    MatchData md(pcre2_match_data_create(capture_pairs, nullptr));
    if (md == nullptr)
        return URLLIST_RESULT_NONE;
    int count = 0;
    const RegRData *matched = first_match(regr, url, md.get(), &count);
    if (matched == nullptr)
        return URLLIST_RESULT_NONE;
    std::string text = expand_template(matched->replace, url, pcre2_get_ovector_pointer(md.get()), count);
    if (text.empty() || text == url)
        return URLLIST_RESULT_NONE;
    char *result = postprocessed(text, matched->postprocess);
    if (result == nullptr)
        return URLLIST_RESULT_NONE;
    *ret_url = result;
    return URLLIST_RESULT_URL;
}

// ---- headers --------------------------------------------------------------

// One block: num + 1 pointers, then each header text with its NUL.
int header_block(const HdrData *hdr, char ***ret_hdr)
{
    size_t num = hdr->num > 0 ? static_cast<size_t>(hdr->num) : 0;
    size_t needed = (num + 1) * sizeof(char *);
    for (size_t i = 0; i < num; ++i)
        needed += static_cast<size_t>(hdr->len[i]) + 1;
    size_t size = std::max(needed, hdr->size > 0 ? static_cast<size_t>(hdr->size) : 0);
    auto **pointers = static_cast<char **>(std::malloc(size));
    if (pointers == nullptr)
        return URLLIST_RESULT_NONE;
    char *text = reinterpret_cast<char *>(pointers + num + 1);
    for (size_t i = 0; i < num; ++i) {
        auto len = static_cast<size_t>(hdr->len[i]);
        std::memcpy(text, hdr->lines[i], len);
        text[len] = '\0';
        pointers[i] = text;
        text += len + 1;
    }
    pointers[num] = nullptr;
    *ret_hdr = pointers;
    return URLLIST_RESULT_HEADER;
}

int text_copy(const char *text, char **ret_url)
{
    if (ret_url == nullptr || text == nullptr)
        return URLLIST_RESULT_NONE;
    return hand_out(text, ret_url);
}

// Runs a URL-rewriting action once its inputs are there; running out of
// memory on the way gives no result.
template <class Data>
int guarded(const Data *data, const char *url, char **ret_url, int (*rewrite)(const Data *, const char *, char **))
{
    if (data == nullptr || url == nullptr || ret_url == nullptr)
        return URLLIST_RESULT_NONE;
    try {
        return rewrite(data, url, ret_url);
    } catch (const std::exception &) {
        return URLLIST_RESULT_NONE;
    }
}

int process_by_action(const URLLIST_ITEM_DATA *d, cat_t *cat, const char *url, char **ret_url, char ***ret_hdr)
{
    void *raw = d->action_data;
    switch (d->action) {
    case UA_DENY: return URLLIST_RESULT_DENY;
    case UA_ALLOW: return URLLIST_RESULT_ALLOW;
    case UA_LIST: return URLLIST_RESULT_LIST;
    case UA_CATEGORY:
        if (cat == nullptr || raw == nullptr)
            return URLLIST_RESULT_NONE;
        urllist_action_get_category(d, cat);
        return URLLIST_RESULT_CATEGORY;
    case UA_TEXT: return text_copy(static_cast<const char *>(raw), ret_url);
    case UA_HEADER: return urllist_action_header(static_cast<const HdrData *>(raw), ret_hdr);
    case UA_REPLACE: return urllist_action_search_replace(static_cast<const SnRData *>(raw), url, ret_url);
    case UA_REGREPLACE: return urllist_action_regexp_replace(static_cast<const RegRData *>(raw), url, ret_url);
    case UA_MODQUERY: return urllist_action_query_modify(static_cast<const QModData *>(raw), url, ret_url);
    default: return URLLIST_RESULT_NONE;
    }
}

} // namespace

extern "C" {

int urllist_action_process_action(const URLLIST_ITEM_DATA *urllist_data, cat_t *cat, const char *url,
                                  char **ret_url, char ***ret_hdr) noexcept
{
    if (urllist_data == nullptr)
        return URLLIST_RESULT_NONE;
    return process_by_action(urllist_data, cat, url, ret_url, ret_hdr);
}

int urllist_action_query_modify(const QModData *qmod, const char *url, char **ret_url) noexcept
{
    return guarded(qmod, url, ret_url, query_modify);
}

int urllist_action_search_replace(const SnRData *snr, const char *url, char **ret_url) noexcept
{
    return guarded(snr, url, ret_url, search_replace);
}

int urllist_action_regexp_replace(const RegRData *regr, const char *url, char **ret_url) noexcept
{
    return guarded(regr, url, ret_url, regexp_replace);
}

int urllist_action_header(const HdrData *hdr, char ***ret_hdr) noexcept
{
    if (hdr == nullptr || ret_hdr == nullptr || (hdr->num > 0 && (hdr->lines == nullptr || hdr->len == nullptr)))
        return URLLIST_RESULT_NONE;
    return header_block(hdr, ret_hdr);
}

} // extern "C"
