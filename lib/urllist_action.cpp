// URL actions: parsing action words and arguments into action data, printing
// actions back in their short form, expiry, merging and releasing action data.
// Carrying actions out on URLs lives in urllist_action_process.cpp.
#include "velmora/urllist_action.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "velmora/qxlog.h"
#include "velmora/qxstring.h"
#include "velmora/qxtime.h"

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

char lower_letter(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char *copy_text(const char *text)
{
    size_t len = std::strlen(text);
    auto *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, len + 1);
    return copy;
}

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// Cuts text in place at every space; empty fields are kept, so k spaces give
// k + 1 fields.
std::vector<char *> split_at_spaces(char *text)
{
    std::unique_ptr<char *[], FreeDeleter> pieces(string_explode(text, ' '));
    if (pieces == nullptr)
        throw std::bad_alloc();
    std::vector<char *> fields;
    for (char **piece = pieces.get(); *piece != nullptr; ++piece)
        fields.push_back(*piece);
    return fields;
}

// A copy of the argument cut at every space, and its second field (NULL when
// there is none); the first field starts the copy, further fields are ignored.
struct TwoFields {
    std::unique_ptr<char, FreeDeleter> copy;
    char *second = nullptr;
};

TwoFields split_two_fields(const char *args)
{
    TwoFields result;
    if (args == nullptr)
        return result;
    result.copy.reset(copy_text(args));
    if (result.copy == nullptr)
        return result;
    std::vector<char *> fields = split_at_spaces(result.copy.get());
    if (fields.size() >= 2)
        result.second = fields[1];
    return result;
}

UrlAction action_of_letter(char letter)
{
    switch (lower_letter(letter)) {
    case 'n': return UA_NONE;
    case 'd': return UA_DENY;
    case 'a': return UA_ALLOW;
    case 'c': return UA_CATEGORY;
    case 'q': return UA_MODQUERY;
    case 's': return UA_REPLACE;
    case 'r': return UA_REGREPLACE;
    case 't': return UA_TEXT;
    case 'h': return UA_HEADER;
    case 'l': return UA_LIST;
    default: return UA_UNKNOWN;
    }
}

// ---- releasing ------------------------------------------------------------

void free_query_modify(QModData *qmod)
{
    if (qmod == nullptr)
        return;
    std::free(qmod->search_string);
    std::free(qmod->add_string);
    std::free(qmod->items);
    std::free(qmod);
}

void free_search_replace(SnRData *snr)
{
    if (snr == nullptr)
        return;
    std::free(snr->search);
    std::free(snr);
}

void free_regexp_chain(RegRData *regr)
{
    while (regr != nullptr) {
        RegRData *next = regr->next;
        pcre2_code_free(static_cast<pcre2_code *>(regr->pattern));
        std::free(regr->regexp);
        std::free(regr);
        regr = next;
    }
}

void free_headers(HdrData *hdr)
{
    if (hdr == nullptr)
        return;
    std::free(hdr->lines);
    std::free(hdr->len);
    std::free(hdr->text);
    std::free(hdr);
}

// ---- parsing by action ----------------------------------------------------

// Comma-separated decimal numbers; empty fields between commas are skipped and
// text after the last number is ignored.
UrlAction parse_categories(const char *args, void **data)
{
    if (args == nullptr)
        return UA_ERROR;
    cat_t *cat = category_new();
    if (cat == nullptr)
        return UA_ERROR;
    bool any = false;
    const char *p = args;
    for (;;) {
        char *end = nullptr;
        long value = std::strtol(p, &end, 10);
        if (end != p) {
            if (category_add_number(cat, static_cast<uint32_t>(value)) != 0) {
                category_free(cat);
                return UA_ERROR;
            }
            any = true;
        }
        if (*end != ',')
            break;
        p = end + 1;
    }
    if (!any) {
        category_free(cat);
        return UA_ERROR;
    }
    *data = cat;
    return UA_CATEGORY;
}

// Fills one item from its field in both copies of the argument.
void parse_query_item(QModItem *item, char *add_field, char *search_field)
{
    char *complete = add_field;
    char *name = search_field;
    int flags = 0;
    if (*complete == '-') {
        flags = QMOD_REMOVE;
        ++complete;
        ++name;
    } else if (*complete == '+') {
        ++complete;
        ++name;
    }
    item->complete = complete;
    item->complete_len = static_cast<int>(std::strlen(complete));
    item->name = name;
    char *eq = std::strchr(name, '=');
    if (eq != nullptr && eq[1] != '\0') {
        *eq = '\0';
        item->name_len = static_cast<int>(eq - name);
    } else if ((flags & QMOD_REMOVE) != 0) {
        flags |= QMOD_REMOVE_ANY;
        item->name_len = item->complete_len;
        if (eq != nullptr) {
            *eq = '\0';
            item->name_len--;
        }
    } else {
        qxlog_send(QXLOG_ERROR, "urllist: query modification for adding '%s' has no value, ignored\n", add_field);
        item->name_len = 0;
    }
    item->flags = flags;
}

void mark_repeated_names(QModItem *items, int num)
{
    for (int i = 0; i < num; ++i) {
        if (items[i].name_len == 0)
            continue;
        for (int j = i + 1; j < num; ++j) {
            if (items[j].name_len == items[i].name_len &&
                std::memcmp(items[j].name, items[i].name, static_cast<size_t>(items[i].name_len)) == 0) {
                items[i].flags |= QMOD_SAME_NAME_FOLLOWS;
                break;
            }
        }
    }
}

bool any_active_item(const QModItem *items, int num)
{
    for (int i = 0; i < num; ++i)
        if (items[i].name_len != 0)
            return true;
    return false;
}

UrlAction parse_search_replace(const char *args, void **data)
{
    TwoFields fields = split_two_fields(args);
    if (fields.second == nullptr)
        return UA_ERROR;
    auto *snr = static_cast<SnRData *>(std::calloc(1, sizeof(SnRData)));
    if (snr == nullptr)
        return UA_ERROR;
    snr->search = fields.copy.release();
    snr->replace = fields.second;
    snr->search_len = static_cast<int>(std::strlen(snr->search));
    snr->replace_len = static_cast<int>(std::strlen(snr->replace));
    *data = snr;
    return UA_REPLACE;
}

pcre2_code *compile_pattern(const char *pattern)
{
    int errcode = 0;
    PCRE2_SIZE erroffset = 0;
    pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0, &errcode,
                                     &erroffset, nullptr);
    if (code == nullptr) {
        PCRE2_UCHAR message[256];
        if (pcre2_get_error_message(errcode, message, sizeof message) < 0)
            message[0] = '\0';
        qxlog_send(QXLOG_ERROR, "urllist: error compiling pcre \"%s\" regex \"%s\" at char %d\n", pattern,
                   reinterpret_cast<const char *>(message), static_cast<int>(erroffset));
    }
    return code;
}

UrlAction parse_regexp_replace(const char *args, int postprocess, void **data)
{
    TwoFields fields = split_two_fields(args);
    if (fields.second == nullptr)
        return UA_ERROR;
    auto *regr = static_cast<RegRData *>(std::calloc(1, sizeof(RegRData)));
    pcre2_code *code = regr != nullptr ? compile_pattern(fields.copy.get()) : nullptr;
    if (code == nullptr) {
        std::free(regr);
        return UA_ERROR;
    }
    regr->regexp = fields.copy.release();
    regr->pattern = code;
    regr->replace = fields.second;
    regr->postprocess = postprocess;
    regr->next = nullptr;
    *data = regr;
    return UA_REGREPLACE;
}

UrlAction parse_text(const char *args, void **data)
{
    if (args == nullptr || *args == '\0')
        return UA_ERROR;
    char *copy = copy_text(args);
    if (copy == nullptr)
        return UA_ERROR;
    *data = copy;
    return UA_TEXT;
}

struct HeaderSpan {
    size_t offset;
    size_t len;
};

// Numbered form: items of a decimal length, one optional space, exactly that
// many bytes, one optional space. Every length must begin with a digit, so a
// sign (a negative length) makes the argument invalid.
bool scan_numbered_headers(const char *args, size_t total, std::vector<HeaderSpan> &spans)
{
    size_t pos = 0;
    while (pos < total) {
        if (!is_digit(args[pos]))
            return false;
        size_t len = 0;
        while (is_digit(args[pos])) {
            len = len * 10 + static_cast<size_t>(args[pos] - '0');
            if (len > total)
                return false;
            ++pos;
        }
        if (args[pos] == ' ')
            ++pos;
        if (len > total - pos)
            return false;
        spans.push_back({pos, len});
        pos += len;
        if (args[pos] == ' ')
            ++pos;
    }
    return true;
}

bool collect_header_spans(const char *args, size_t total, std::vector<HeaderSpan> &spans)
{
    if (is_digit(args[0]))
        return scan_numbered_headers(args, total, spans);
    if (total == 0)
        return false;
    spans.push_back({0, total});
    return true;
}

HdrData *build_headers(const char *args, size_t total, const std::vector<HeaderSpan> &spans)
{
    auto *hdr = static_cast<HdrData *>(std::calloc(1, sizeof(HdrData)));
    if (hdr == nullptr)
        return nullptr;
    size_t num = spans.size();
    hdr->text = copy_text(args);
    hdr->lines = static_cast<char **>(std::malloc((num + 1) * sizeof(char *)));
    hdr->len = static_cast<int *>(std::malloc((num > 0 ? num : 1) * sizeof(int)));
    if (hdr->text == nullptr || hdr->lines == nullptr || hdr->len == nullptr) {
        free_headers(hdr);
        return nullptr;
    }
    for (size_t i = 0; i < num; ++i) {
        char *line = hdr->text + spans[i].offset;
        hdr->lines[i] = line;
        hdr->len[i] = static_cast<int>(spans[i].len);
        if (line[spans[i].len] == ' ')
            line[spans[i].len] = '\0';
    }
    hdr->lines[num] = nullptr;
    hdr->num = static_cast<int>(num);
    hdr->size = static_cast<int>(total + (num + 1) * sizeof(char *) + 1);
    return hdr;
}

// A list number is a signed 64-bit decimal followed by a space or the end of
// the text. A missing argument, a text without a number and a number out of
// range are refused rather than read as list 0.
UrlAction parse_list(const char *args, void **data)
{
    if (args == nullptr)
        return UA_ERROR;
    errno = 0;
    char *end = nullptr;
    long long number = std::strtoll(args, &end, 10);
    if (end == args || errno == ERANGE || (*end != ' ' && *end != '\0'))
        return UA_ERROR;
    *data = reinterpret_cast<void *>(static_cast<intptr_t>(number));
    return UA_LIST;
}

UrlAction parse_by_action(UrlAction action, char second_letter, const char *args, void **data)
{
    switch (action) {
    case UA_NONE:
        // The argument text belongs to the caller's line buffer, which is gone
        // once the line is loaded: keep no pointer into it.
        return UA_NONE;
    case UA_DENY:
    case UA_ALLOW:
        return action;
    case UA_CATEGORY:
        return parse_categories(args, data);
    case UA_MODQUERY: {
        int options = second_letter == 'a' ? QMOD_ADD_ALWAYS : 0;
        return urllist_action_parse_query_modify(args, options, reinterpret_cast<QModData **>(data));
    }
    case UA_REPLACE:
        return parse_search_replace(args, data);
    case UA_REGREPLACE:
        return parse_regexp_replace(args, lower_letter(second_letter), data);
    case UA_TEXT:
        return parse_text(args, data);
    case UA_HEADER:
        return urllist_action_parse_headers(args, reinterpret_cast<HdrData **>(data));
    case UA_LIST:
        return parse_list(args, data);
    default:
        return UA_UNKNOWN;
    }
}

// ---- short form -----------------------------------------------------------

// snprintf into the rest of a buffer, remembering whether the text still fits.
class DumpWriter {
public:
    DumpWriter(char *buffer, size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }

    __attribute__((format(printf, 2, 3))) bool print(const char *format, ...)
    {
        va_list ap;
        va_start(ap, format);
        bool fitted = vprint(false, format, ap);
        va_end(ap);
        return fitted;
    }

    // Like print, but a piece that does not fit whole is taken back.
    __attribute__((format(printf, 2, 3))) bool print_whole(const char *format, ...)
    {
        va_list ap;
        va_start(ap, format);
        bool fitted = vprint(true, format, ap);
        va_end(ap);
        return fitted;
    }

    void drop_last(char c)
    {
        if (pos_ > 0 && buffer_[pos_ - 1] == c)
            buffer_[--pos_] = '\0';
    }

private:
    bool vprint(bool whole, const char *format, va_list ap)
    {
        if (full_)
            return false;
        int n = std::vsnprintf(buffer_ + pos_, size_ - pos_, format, ap);
        if (n >= 0 && static_cast<size_t>(n) < size_ - pos_) {
            pos_ += static_cast<size_t>(n);
            return true;
        }
        full_ = true;
        if (whole)
            buffer_[pos_] = '\0';
        else
            pos_ = size_ - 1;
        return false;
    }

    char *buffer_;
    size_t size_;
    size_t pos_ = 0;
    bool full_ = false;
};

void dump_categories(DumpWriter &out, const cat_t *cat)
{
    out.print("C ");
    if (cat == nullptr)
        return;
    bool printed = false;
    for (uint32_t i = 0; i < cat->num && out.print_whole("%u,", cat->catnums[i]); ++i)
        printed = true;
    if (printed)
        out.drop_last(',');
}

void dump_query_modify(DumpWriter &out, const QModData *qmod)
{
    if (qmod == nullptr) {
        out.print("Q");
        return;
    }
    out.print("Q%s", (qmod->options & QMOD_ADD_ALWAYS) != 0 ? "a" : "");
    const char *field = qmod->add_string;
    for (int i = 0; i < qmod->num && field != nullptr && out.print(" %s", field); ++i)
        field += std::strlen(field) + 1;
}

void dump_headers(DumpWriter &out, const HdrData *hdr)
{
    out.print("H");
    if (hdr == nullptr)
        return;
    // Header texts are printed by their length: a numbered header directly
    // followed by the next length has no terminator of its own.
    if (hdr->num == 1) {
        out.print(" %.*s", hdr->len[0], hdr->lines[0]);
        return;
    }
    for (int i = 0; i < hdr->num && out.print(" %d %.*s", hdr->len[i], hdr->len[i], hdr->lines[i]); ++i) {
    }
}

void dump_by_action(DumpWriter &out, const URLLIST_ITEM_DATA *d)
{
    const void *raw = d->action_data;
    switch (d->action) {
    case UA_NONE: out.print("N"); break;
    case UA_DENY: out.print("D"); break;
    case UA_ALLOW: out.print("A"); break;
    case UA_CATEGORY: dump_categories(out, static_cast<const cat_t *>(raw)); break;
    case UA_MODQUERY: dump_query_modify(out, static_cast<const QModData *>(raw)); break;
    case UA_REPLACE: {
        const auto *snr = static_cast<const SnRData *>(raw);
        if (snr != nullptr)
            out.print("S %s %s", snr->search, snr->replace != nullptr ? snr->replace : "");
        else
            out.print("S");
        break;
    }
    case UA_REGREPLACE: {
        const auto *regr = static_cast<const RegRData *>(raw);
        if (regr != nullptr)
            out.print("R %s %s", regr->regexp, regr->replace != nullptr ? regr->replace : "");
        else
            out.print("R");
        break;
    }
    case UA_TEXT: out.print("T %s", raw != nullptr ? static_cast<const char *>(raw) : ""); break;
    case UA_HEADER: dump_headers(out, static_cast<const HdrData *>(raw)); break;
    case UA_LIST: out.print("L %p", raw); break;
    case UA_UNKNOWN:
    case UA_ERROR: out.print("unknown"); break;
    default: break;
    }
}

constexpr const char *action_names[] = {"no_action",      "deny",           "allow", "category", "modify_query",
                                        "search_replace", "regexp_replace", "text",  "header",   "list"};

void add_numbers(cat_t *to, const cat_t *from)
{
    // A number the set cannot grow for is skipped; the others still go in.
    for (uint32_t i = 0; i < from->num; ++i)
        category_add_number(to, from->catnums[i]);
}

} // namespace

extern "C" {

UrlAction urllist_action_parse_action(const char *action_str, const char *args, void **data) noexcept
{
    if (data == nullptr)
        return UA_ERROR;
    *data = nullptr;
    if (action_str == nullptr || action_str[0] == '\0')
        return UA_UNKNOWN;
    try {
        UrlAction result = parse_by_action(action_of_letter(action_str[0]), action_str[1], args, data);
        if (result == UA_ERROR || result == UA_UNKNOWN)
            *data = nullptr;
        return result;
    } catch (const std::exception &) {
        *data = nullptr;
        return UA_ERROR;
    }
}

UrlAction urllist_action_parse_query_modify(const char *args, int options, QModData **data) noexcept
{
    if (args == nullptr || data == nullptr)
        return UA_ERROR;
    auto *qmod = static_cast<QModData *>(std::calloc(1, sizeof(QModData)));
    if (qmod == nullptr)
        return UA_ERROR;
    try {
        qmod->add_string = copy_text(args);
        qmod->search_string = copy_text(args);
        if (qmod->add_string == nullptr || qmod->search_string == nullptr) {
            free_query_modify(qmod);
            return UA_ERROR;
        }
        std::vector<char *> add_fields = split_at_spaces(qmod->add_string);
        std::vector<char *> search_fields = split_at_spaces(qmod->search_string);
        int count = static_cast<int>(add_fields.size());
        if (count > QMOD_MAX_ITEMS) {
            qxlog_send(QXLOG_ERROR, "urllist: too many query modifications (%d) in '%s', truncate to %d\n", count,
                       args, QMOD_MAX_ITEMS);
            count = QMOD_MAX_ITEMS;
        }
        qmod->items = static_cast<QModItem *>(std::calloc(static_cast<size_t>(count), sizeof(QModItem)));
        if (qmod->items == nullptr) {
            free_query_modify(qmod);
            return UA_ERROR;
        }
        for (int i = 0; i < count; ++i)
            parse_query_item(&qmod->items[i], add_fields[static_cast<size_t>(i)],
                             search_fields[static_cast<size_t>(i)]);
        mark_repeated_names(qmod->items, count);
        if (!any_active_item(qmod->items, count)) {
            free_query_modify(qmod);
            return UA_ERROR;
        }
        qmod->num = count;
        qmod->options = options;
        *data = qmod;
        return UA_MODQUERY;
    } catch (const std::exception &) {
        free_query_modify(qmod);
        return UA_ERROR;
    }
}

UrlAction urllist_action_parse_headers(const char *args, HdrData **data) noexcept
{
    if (args == nullptr || data == nullptr)
        return UA_ERROR;
    try {
        size_t total = std::strlen(args);
        std::vector<HeaderSpan> spans;
        if (total > INT32_MAX / 2 || !collect_header_spans(args, total, spans))
            return UA_ERROR;
        HdrData *hdr = build_headers(args, total, spans);
        if (hdr == nullptr)
            return UA_ERROR;
        *data = hdr;
        return UA_HEADER;
    } catch (const std::exception &) {
        return UA_ERROR;
    }
}

void urllist_action_dump_action(const URLLIST_ITEM_DATA *urllist_data, char *buffer, size_t size) noexcept
{
    if (buffer == nullptr || size == 0)
        return;
    DumpWriter out(buffer, size);
    if (urllist_data != nullptr)
        dump_by_action(out, urllist_data);
}

const char *urllist_action_name(const URLLIST_ITEM_DATA *urllist_data) noexcept
{
    if (urllist_data == nullptr || urllist_data->action < UA_NONE || urllist_data->action > UA_LIST)
        return "unknown";
    return action_names[urllist_data->action];
}

int urllist_action_expired(const URLLIST_ITEM_DATA *urllist_data) noexcept
{
    if (urllist_data == nullptr)
        return 0;
    auto ttl = static_cast<int32_t>(urllist_data->ttl);
    return (ttl > 0 && ttl < current_time) ? 1 : 0;
}

int urllist_action_get_category(const URLLIST_ITEM_DATA *urllist_data, cat_t *cat) noexcept
{
    if (urllist_data == nullptr || urllist_data->action != UA_CATEGORY)
        return 0;
    if (cat != nullptr && urllist_data->action_data != nullptr)
        add_numbers(cat, static_cast<const cat_t *>(urllist_data->action_data));
    return 1;
}

int urllist_action_append_action_data(URLLIST_ITEM_DATA *data1, URLLIST_ITEM_DATA *data2) noexcept
{
    if (data1 == nullptr || data2 == nullptr || data1 == data2 || data1->action != UA_REGREPLACE ||
        data2->action != UA_REGREPLACE)
        return 0;
    auto *appended = static_cast<RegRData *>(data2->action_data);
    auto *chain = static_cast<RegRData *>(data1->action_data);
    if (chain == nullptr) {
        data1->action_data = appended;
    } else {
        while (chain->next != nullptr)
            chain = chain->next;
        chain->next = appended;
    }
    data2->action_data = nullptr;
    return 1;
}

void *urllist_action_get_raw_data(const URLLIST_ITEM_DATA *urllist_data) noexcept
{
    return urllist_data != nullptr ? urllist_data->action_data : nullptr;
}

void urllist_action_set_raw_data(URLLIST_ITEM_DATA *urllist_data, void *data) noexcept
{
    if (urllist_data != nullptr)
        urllist_data->action_data = data;
}

void urllist_action_data_free(URLLIST_ITEM_DATA *urllist_data) noexcept
{
    if (urllist_data == nullptr || urllist_data->action_data == nullptr)
        return;
    void *raw = urllist_data->action_data;
    switch (urllist_data->action) {
    case UA_CATEGORY: category_free(static_cast<cat_t *>(raw)); break;
    case UA_MODQUERY: free_query_modify(static_cast<QModData *>(raw)); break;
    case UA_HEADER: free_headers(static_cast<HdrData *>(raw)); break;
    case UA_REPLACE: free_search_replace(static_cast<SnRData *>(raw)); break;
    case UA_REGREPLACE: free_regexp_chain(static_cast<RegRData *>(raw)); break;
    case UA_TEXT: std::free(raw); break;
    default: break; // borrowed pointers (UA_NONE) and list numbers own nothing
    }
}

} // extern "C"
