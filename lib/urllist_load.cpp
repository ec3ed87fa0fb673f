// Loading list text into a URL list: files, buffers arriving in pieces and
// single lines; the public adds with their locking; the common add path that
// builds the result record and dispatches by entry type; and the adds of the
// entry kinds that are not URL patterns (default, event type, digest,
// regular expression, extension, keyword).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "internal/regex_size.h"
#include "internal/urllist_load.h"
#include "internal/urllist_lock.h"
#include "internal/urllist_store.h"
#include "velmora/file.h"
#include "velmora/policyevent.h"
#include "velmora/qxlog.h"
#include "velmora/qxstring.h"

namespace {

// A text for a %s argument of a message: never NULL.
const char *shown(const char *text)
{
    return text != nullptr ? text : "";
}

// ---- Entry types ----

struct EntryType {
    char letter;   // 'U', 'P', ... ; 0 for an unknown type
    int modifiers; // URLLIST_EXPLODE_NOCASE | URLLIST_EXPLODE_HASHED | URLLIST_EXPLODE_ANY_PORT
};

bool is_known_type_letter(char c)
{
    return c != '\0' && std::strchr("UPQSREKWkwDNT", c) != nullptr;
}

int modifier_value(char c)
{
    switch (c) {
    case 'c': return URLLIST_EXPLODE_NOCASE;
    case 'h': return URLLIST_EXPLODE_HASHED;
    case 'p': return URLLIST_EXPLODE_ANY_PORT;
    default: return 0;
    }
}

EntryType type_from_text(const char *type)
{
    EntryType t{type[0], 0};
    if (!is_known_type_letter(t.letter))
        return {0, 0};
    // A modifier given twice counts once.
    for (const char *p = type + 1; *p != '\0'; p++)
        t.modifiers |= modifier_value(*p);
    return t;
}

// The kind of an entry listed without a type, from its text.
EntryType type_from_item(const char *item)
{
    size_t len = std::strlen(item);
    char first = item[0];
    if ((first == '/' || first == '|' || first == '\'') && item[len - 1] == first)
        return {'R', 0};
    if (std::strstr(item, "://") != nullptr)
        return {'U', 0};
    return {first != '.' ? 'K' : 'E', 0};
}

bool is_tree_kind(char c)
{
    return c == 'U' || c == 'P' || c == 'Q' || c == 'S';
}

// ---- Action data that never became a record ----

void release_action_data(UrlAction action, void *action_data)
{
    URLLIST_ITEM_DATA orphan{};
    orphan.action = action;
    orphan.action_data = action_data;
    urllist_action_data_free(&orphan);
}

// ---- Kinds held by one owner ----

void record_destructor(void *data)
{
    urllist_destroy_item_data(static_cast<URLLIST_ITEM_DATA *>(data));
}

void count_loaded(URLLIST *l, int URLLIST::*loaded)
{
    (l->*loaded)++;
    l->loaded_count++;
}

void add_default(URLLIST *l, URLLIST_ITEM_DATA *data)
{
    urllist_destroy_item_data(l->default_data);
    l->default_data = data;
    l->loaded_count++;
}

struct KeywordCounters {
    int URLLIST::*total;
    int URLLIST::*loaded;
};

KeywordCounters keyword_counters(char kind)
{
    switch (kind) {
    case 'k': return {&URLLIST::total_multi_keyword_count, &URLLIST::loaded_multi_keyword_count};
    case 'w': return {&URLLIST::total_multi_word_count, &URLLIST::loaded_multi_word_count};
    case 'W': return {&URLLIST::total_word_count, &URLLIST::loaded_word_count};
    default: return {&URLLIST::total_keyword_count, &URLLIST::loaded_keyword_count};
    }
}

// The expression between the delimiters of "/x/", "|x|" or "'x'" (at least
// four characters), else the whole text; a malloc'ed copy or NULL.
char *expression_text(const char *item)
{
    size_t len = std::strlen(item);
    char first = item[0];
    bool delimited = len >= 4 && (first == '/' || first == '|' || first == '\'') && item[len - 1] == first;
    return delimited ? strndup(item + 1, len - 2) : strdup(item);
}

void append_regexp(URLLIST *l, URLLIST_RE_ITEM *re)
{
    if (l->regexp_tail != nullptr)
        l->regexp_tail->next = re;
    else
        l->regexp = re;
    l->regexp_tail = re;
}

int add_single_owner_kind(URLLIST *l, const char *item, const EntryType &t, URLLIST_ITEM_DATA *data)
{
    const char type_text[2] = {t.letter, '\0'};
    switch (t.letter) {
    case 'D': return urllist_add_digest(l, item, data);
    case 'E': return urllist_add_ext(l, item, data);
    case 'K':
    case 'W':
    case 'k':
    case 'w': return urllist_add_keyword(l, item, data, type_text);
    case 'N': add_default(l, data); return 0;
    case 'R': return urllist_add_regexp(l, item, data, t.modifiers);
    case 'T': return urllist_add_eventtype(l, item, data);
    default: return -6;
    }
}

// A scheme entry is a URL pattern of the scheme alone: "://" is appended to
// a bare scheme name.
int add_scheme(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data, int flags)
{
    if (std::strstr(item, "://") != nullptr)
        return velmora::add_url_entry(l, item, 'S', data, flags);
    size_t len = std::strlen(item);
    char *text = static_cast<char *>(std::malloc(len + 4));
    if (text == nullptr)
        return -2;
    std::memcpy(text, item, len);
    std::memcpy(text + len, "://", 4);
    int rc = velmora::add_url_entry(l, text, 'S', data, flags);
    std::free(text);
    return rc;
}

// Adds the entry by kind. *kept tells whether the list holds the record
// afterwards; when it does not, the record has been released here.
int dispatch(URLLIST *l, const char *item, const EntryType &t, URLLIST_ITEM_DATA *data, bool *kept)
{
    if (!is_tree_kind(t.letter)) {
        int rc = add_single_owner_kind(l, item, t, data);
        *kept = rc == 0;
        if (!*kept)
            urllist_destroy_item_data(data);
        return rc;
    }
    int rc = t.letter == 'S' ? add_scheme(l, item, data, t.modifiers)
                             : velmora::add_url_entry(l, item, t.letter, data, t.modifiers);
    // A record merged into a stored one, or kept out of every slot, is not
    // held by the list; one already laid into some slot stays there even
    // when a later part of the entry failed.
    *kept = !velmora::release_if_unheld(data);
    return rc;
}

// ---- Lines ----

// Line of two fields (or three whose second is a number): URL and a
// category list or a 0/1 flag.
int add_flag_or_categories(URLLIST *l, const char *url, const char *field, int hint)
{
    switch (hint) {
    case 1: return urllist_add(l, url, nullptr, "D", nullptr, -1);
    case 2: return urllist_add(l, url, nullptr, "A", nullptr, -1);
    case 3: return urllist_add(l, url, nullptr, field[0] == '1' ? "A" : "D", nullptr, -1);
    case 5: return urllist_add(l, url, "U", "C", field, -1);
    default: return urllist_add_category_string(l, url, field);
    }
}

constexpr int line_skipped = 1;

bool begins_with_one_of(const char *text, const char *letters)
{
    return text[0] != '\0' && std::strchr(letters, text[0]) != nullptr;
}

// Line of URL, type, action and, with four fields, an argument (NULL with
// three); line_skipped when the hint excludes the line.
int add_typed_entry(URLLIST *l, char **f, const char *argument, int hint)
{
    const char *url = f[0], *type = f[1], *action = f[2];
    switch (hint) {
    case 1: return urllist_add(l, url, type, "D", nullptr, -1);
    case 2: return urllist_add(l, url, type, "A", nullptr, -1);
    case 3:
        return begins_with_one_of(action, "DA") ? urllist_add(l, url, type, action, argument, -1) : line_skipped;
    case 4:
        return argument != nullptr && begins_with_one_of(action, "C")
                   ? urllist_add(l, url, type, action, argument, -1)
                   : line_skipped;
    default: return urllist_add(l, url, type, action, argument, -1);
    }
}

void add_line_fields(URLLIST *l, char **f, int n, int hint)
{
    if (n == 2 || (n == 3 && std::isdigit(static_cast<unsigned char>(f[1][0])))) {
        const char *categories = f[n - 1];
        if (add_flag_or_categories(l, f[0], categories, hint) < 0)
            qxlog_send(QXLOG_ERROR, "urllist_add_file: failed to add url '%s' with categories '%s'\n", f[0],
                       categories);
        return;
    }
    if (n == 3) {
        if (add_typed_entry(l, f, nullptr, hint) < 0)
            qxlog_send(QXLOG_ERROR, "urllist_add_file: failed to add item '%s' type: '%s' action: '%s'\n", f[0],
                       f[1], f[2]);
        return;
    }
    if (n == 4 && add_typed_entry(l, f, f[3], hint) < 0)
        qxlog_send(QXLOG_ERROR, "urllist_add_file: failed to add item '%s' type: '%s' action: '%s %s'\n", f[0],
                   f[1], f[2], f[3]);
}

// One line of a file or buffer: empty and comment lines are skipped; -2 when
// the line cannot be handled at all.
int load_text_line(URLLIST *l, char *line, int hint)
{
    if (line[0] == '\0' || line[0] == '#')
        return 0;
    return urllist_add_line(l, line, hint) != 0 ? -2 : 0;
}

// Makes room for `total` characters and a NUL in the caller's block.
bool reserve_buffer(char **buffer, int *bufferSize, size_t total)
{
    if (total <= static_cast<size_t>(*bufferSize))
        return true;
    auto *grown = static_cast<char *>(std::realloc(*buffer, total + 1));
    if (grown == nullptr)
        return false;
    *buffer = grown;
    *bufferSize = static_cast<int>(total);
    return true;
}

// Loads the complete lines of the buffer's text and moves the unfinished
// rest to its start. A failing line ends the pass; the lines handled so far
// are dropped from the buffer all the same, so none is loaded twice.
int load_complete_lines(URLLIST *l, char *buffer, int hint)
{
    char *line = buffer;
    int rc = 0;
    for (char *end; rc == 0 && (end = std::strchr(line, '\n')) != nullptr; line = end + 1) {
        *end = '\0';
        rc = load_text_line(l, line, hint);
    }
    std::memmove(buffer, line, std::strlen(line) + 1);
    return rc;
}

cat_t *copy_categories(const cat_t *cat)
{
    uint32_t num = cat != nullptr ? cat->num : 0;
    uint32_t size = std::max<uint32_t>(10, num);
    auto *copy = static_cast<cat_t *>(std::malloc(sizeof(cat_t)));
    auto *numbers = static_cast<uint32_t *>(std::malloc(size * sizeof(uint32_t)));
    if (copy == nullptr || numbers == nullptr) {
        std::free(copy);
        std::free(numbers);
        return nullptr;
    }
    if (num > 0)
        std::memcpy(numbers, cat->catnums, num * sizeof(uint32_t));
    *copy = cat_t{num, size, numbers};
    return copy;
}

// One entry under the write lock, reported the common way when it fails.
int add_locked_entry(URLLIST *l, const char *url, const char *type, UrlAction action, void *action_data,
                     int32_t ttl)
{
    velmora::ListLock lock(l, velmora::LockMode::write);
    if (!lock.held()) {
        release_action_data(action, action_data);
        return -2;
    }
    int rc = urllist_add_internal(l, url, type, action, action_data, ttl);
    if (rc != 0)
        qxlog_send(QXLOG_ERROR, "urllist_add: failed to add url '%s'\n", url);
    return rc;
}

} // namespace

extern "C" {

int urllist_add_file(URLLIST *l, const char *file, int hint) noexcept
{
    if (l == nullptr || file == nullptr)
        return -1;
    file_buffer *fb = file_buffer_open(file);
    if (fb == nullptr)
        return -4;
    int rc = 0;
    while (rc == 0 && file_buffer_read_string(fb) == 0)
        rc = load_text_line(l, fb->line, hint);
    file_buffer_close(fb);
    return rc;
}

int urllist_add_buffer(URLLIST *l, const char *newbuf, char **buffer, int *bufferSize, int hint) noexcept
{
    if (l == nullptr || newbuf == nullptr || buffer == nullptr || bufferSize == nullptr)
        return -1;
    size_t added = std::strlen(newbuf);
    if (*buffer == nullptr) {
        *buffer = strdup(newbuf);
        if (*buffer == nullptr)
            return -2;
        *bufferSize = static_cast<int>(added);
    } else {
        size_t held = std::strlen(*buffer);
        if (!reserve_buffer(buffer, bufferSize, held + added))
            return -2;
        std::memcpy(*buffer + held, newbuf, added + 1);
    }
    return load_complete_lines(l, *buffer, hint);
}

int urllist_add_line(URLLIST *l, char *line, int hint) noexcept
{
    if (l == nullptr || line == nullptr)
        return -1;
    int n = 0;
    char **fields = string_explode_limit(line, ' ', 4, &n);
    if (fields == nullptr)
        return -2;
    add_line_fields(l, fields, n, hint);
    std::free(fields);
    return 0;
}

int urllist_add(URLLIST *l, const char *url, const char *type, const char *act, const char *args,
                int32_t ttl) noexcept
{
    if (l == nullptr || url == nullptr || act == nullptr)
        return -1;
    velmora::ListLock lock(l, velmora::LockMode::write);
    if (!lock.held())
        return -2;
    void *action_data = nullptr;
    UrlAction action = urllist_action_parse_action(act, args, &action_data);
    if (action == UA_UNKNOWN || action == UA_ERROR) {
        l->total_count++;
        if (action == UA_UNKNOWN)
            qxlog_send(QXLOG_ERROR, "urllist_add: failed to add url '%s' unknown action '%s'\n", url, act);
        else
            qxlog_send(QXLOG_ERROR, "urllist_add: failed to add url '%s' bad action argument '%s' for action '%s'\n",
                       url, shown(args), act);
        return -9;
    }
    int rc = urllist_add_internal(l, url, type, action, action_data, ttl);
    if (rc != 0)
        qxlog_send(QXLOG_ERROR, "urllist_add: failed to add url '%s'\n", url);
    return rc;
}

int urllist_add_data(URLLIST *l, const char *url, const char *type, void *data, int32_t ttl) noexcept
{
    if (l == nullptr || url == nullptr)
        return -1;
    return add_locked_entry(l, url, type, UA_NONE, data, ttl);
}

int urllist_add_category(URLLIST *l, const char *url, const char *type, const cat_t *cat, int32_t ttl,
                         void * /*data*/) noexcept
{
    if (l == nullptr || url == nullptr)
        return -1;
    cat_t *copy = copy_categories(cat);
    if (copy == nullptr)
        return -1;
    return add_locked_entry(l, url, type, UA_CATEGORY, copy, ttl);
}

int urllist_add_category_string(URLLIST *l, const char *item, const char *categories) noexcept
{
    if (l == nullptr || item == nullptr || categories == nullptr)
        return -1;
    void *action_data = nullptr;
    UrlAction action = urllist_action_parse_action("C", categories, &action_data);
    if (action_data == nullptr)
        return -2;
    velmora::ListLock lock(l, velmora::LockMode::write);
    if (!lock.held()) {
        release_action_data(action, action_data);
        return -2;
    }
    return urllist_add_internal(l, item, nullptr, UA_CATEGORY, action_data, -1);
}

int urllist_add_internal(URLLIST *l, const char *item, const char *type, UrlAction action, void *action_data,
                         int32_t ttl) noexcept
{
    if (l == nullptr || item == nullptr) {
        if (l != nullptr)
            l->total_count++;
        release_action_data(action, action_data);
        return -1;
    }
    l->total_count++;
    URLLIST_ITEM_DATA *data = urllist_new_urllist_item_data(ttl, action, action_data);
    if (data == nullptr) {
        release_action_data(action, action_data);
        return -2;
    }
    EntryType t = type != nullptr && type[0] != '\0' ? type_from_text(type) : type_from_item(item);
    if (t.letter == 0) {
        urllist_destroy_item_data(data);
        return -6;
    }
    bool kept = false;
    int rc = dispatch(l, item, t, data, &kept);
    if (rc == -10)
        return 0; // a duplicate that is ignored: the first entry stays
    if (rc != 0)
        return rc;
    // A record merged into a stored one has been released: the callback is
    // not called for it.
    if (kept && l->add_action_callback != nullptr && l->add_action_callback(l->add_action_callback_data, data) < 0)
        return -2;
    return 0;
}

int urllist_add_eventtype(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    l->total_eventtype_count++;
    int slot = policyevent_aton(item);
    if (slot < 0 || slot >= URLLIST_EVENT_TYPES)
        return -9;
    if (l->event_types_data == nullptr) {
        l->event_types_data =
            static_cast<URLLIST_ITEM_DATA **>(std::calloc(URLLIST_EVENT_TYPES, sizeof(URLLIST_ITEM_DATA *)));
        if (l->event_types_data == nullptr)
            return -2;
    }
    if (l->event_types_data[slot] != nullptr)
        return -10;
    l->event_types_data[slot] = data;
    count_loaded(l, &URLLIST::loaded_eventtype_count);
    return 0;
}

int urllist_add_digest(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    l->total_digest_count++;
    size_t bytes = std::min<size_t>(std::strlen(item) / 2, URLLIST_DIGEST_MAX);
    auto *key = static_cast<unsigned char *>(std::malloc(bytes + 1));
    if (key == nullptr)
        return -2;
    key[0] = static_cast<unsigned char>(bytes);
    if (string_hex_to_bin(item, key + 1, static_cast<int>(bytes)) != 0) {
        std::free(key);
        return -3;
    }
    int rc = velmora::store_digest(l, key, data);
    if (rc != 0) {
        std::free(key);
        // An equal digest stored before keeps its entry; the new one is a
        // duplicate that is ignored.
        return rc == 1 ? -10 : -2;
    }
    count_loaded(l, &URLLIST::loaded_digest_count);
    return 0;
}

int urllist_add_regexp(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data, int nocase) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    l->total_regexp_count++;
    auto *re = static_cast<URLLIST_RE_ITEM *>(std::calloc(1, sizeof(URLLIST_RE_ITEM)));
    char *expression = re != nullptr ? expression_text(item) : nullptr;
    if (expression == nullptr) {
        std::free(re);
        return -2;
    }
    if (nocase)
        string_tolower(expression);
    // A pattern whose compiled form would take gigabytes counts as a bad one.
    int rc = velmora::regex_too_large(expression) ? REG_ESIZE
                                                  : regcomp(&re->exp, expression, REG_EXTENDED | REG_NOSUB);
    if (rc != 0) {
        std::free(expression);
        std::free(re);
        return rc == REG_ESPACE ? -2 : -5;
    }
    re->data = data;
    re->nocase = nocase;
    re->strexp = expression;
    append_regexp(l, re);
    count_loaded(l, &URLLIST::loaded_regexp_count);
    return 0;
}

int urllist_add_ext(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    l->total_ext_count++;
    if (l->ext_list == nullptr && (l->ext_list = extlist_initialize(50, record_destructor)) == nullptr)
        return -2;
    const char *ext = item[0] == '.' ? item + 1 : item;
    if (extlist_add_item(l->ext_list, ext, data) != 0)
        return -7;
    count_loaded(l, &URLLIST::loaded_ext_count);
    return 0;
}

int urllist_add_keyword(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data, const char *type) noexcept
{
    if (l == nullptr || item == nullptr || data == nullptr)
        return -1;
    char kind = type != nullptr ? type[0] : 'K';
    KeywordCounters counters = keyword_counters(kind);
    (l->*counters.total)++;
    if (l->keyword_list == nullptr &&
        (l->keyword_list = keywordlist_initialize(nullptr, nullptr, record_destructor)) == nullptr)
        return -2;
    int restricted = kind == 'W' || kind == 'w';
    int multi = kind == 'k' || kind == 'w';
    switch (keywordlist_add_keyword(l->keyword_list, item, data, restricted, multi)) {
    case 0: count_loaded(l, counters.loaded); return 0;
    case -1: return -2;
    case -2: qxlog_send(QXLOG_ERROR, "urllist_add: Duplicate keyword entry '%s'\n", item); return -10;
    default: return -8;
    }
}

} // extern "C"
