// The list dump: every result of the host tree printed on standard output,
// with hash strings in place of the token texts, host labels in their usual
// order.
#include <cstdio>
#include <cstring>

#include "internal/urllist_store.h"

namespace {

// The dump's state is process-wide by design (one dump at a time). It is kept
// private to this file: it is no interface, and a global called "stack"
// would clash with callers' names.
stack_node dump_stack[URLLIST_DUMP_STACK_SIZE];
int dump_stack_idx = 0;
char dump_buffer[URLLIST_DUMP_BUFFER_SIZE];
int dump_idx = 0;

constexpr size_t action_text_size = 1024;
constexpr int hash_string_size = 17;

const char *part_format(UrlPart type)
{
    switch (type) {
    case UP_PROTO:
        return "%s://";
    case UP_HOST:
        return "%s.";
    case UP_PORT:
        return ":%s";
    case UP_PATH:
        return "/%s";
    case UP_QUERY:
        return "?%s";
    default:
        return nullptr;
    }
}

// Appends the hash string in the part's format; the text stays inside the
// buffer (a cut text advances the position only by what was written).
void append_part(const char *format, const myhash_t &hash)
{
    char hashstr[hash_string_size];
    urllist_hash2str(&hash, hashstr, sizeof hashstr);
    size_t room = sizeof dump_buffer - static_cast<size_t>(dump_idx);
    int written = std::snprintf(dump_buffer + dump_idx, room, format, hashstr);
    if (written < 0)
        return;
    dump_idx += static_cast<int>(static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room - 1);
}

void print_action(const URLLIST_ITEM_DATA *data, const char *format)
{
    char text[action_text_size];
    urllist_action_dump_action(data, text, sizeof text);
    std::printf(format, text);
}

void print_pattern_lines(const URLLIST_QUERY_TREE *tree, const char *format)
{
    if (tree == nullptr)
        return;
    // List order: the newest pattern first.
    for (auto it = tree->items.rbegin(); it != tree->items.rend(); ++it) {
        const URLLIST_QUERY_ITEM *q = *it;
        if (q->data == nullptr)
            continue;
        urllist_dump_dump_buffer();
        for (size_t k = 0; k < q->queryelements; k++) {
            char hashstr[hash_string_size];
            urllist_hash2str(&q->hash[k], hashstr, sizeof hashstr);
            std::printf("?%s", hashstr);
        }
        print_action(q->data, format);
    }
}

// Prints host labels written top-level label first, each followed by '.',
// in their usual order.
void print_reversed_labels(const char *host, size_t len)
{
    bool first = true;
    size_t end = len;
    while (end > 0 && host[end - 1] == '.')
        end--;
    while (end > 0) {
        size_t start = end;
        while (start > 0 && host[start - 1] != '.')
            start--;
        std::printf("%s%.*s", first ? "" : ".", static_cast<int>(end - start), host + start);
        first = false;
        end = start > 0 ? start - 1 : 0;
    }
}

} // namespace

extern "C" {

stack_node *urllist_dump_push(URLLIST_ITEM *item) noexcept
{
    if (dump_stack_idx >= URLLIST_DUMP_STACK_SIZE)
        return nullptr;
    stack_node *node = &dump_stack[dump_stack_idx++];
    node->idx = dump_idx;
    node->item = item;
    return node;
}

URLLIST_ITEM *urllist_dump_pop(void) noexcept
{
    if (dump_stack_idx == 0)
        return nullptr;
    stack_node *node = &dump_stack[--dump_stack_idx];
    dump_idx = node->idx;
    dump_buffer[dump_idx] = '\0';
    return node->item;
}

void urllist_dump_dump_buffer(void) noexcept
{
    const char *text = dump_buffer;
    const char *scheme_end = std::strstr(text, "://");
    if (scheme_end == nullptr) {
        std::fputs(text, stdout);
        return;
    }
    const char *host = scheme_end + 3;
    size_t host_len = std::strcspn(host, "/:");
    std::printf("%.*s://", static_cast<int>(scheme_end - text), text);
    print_reversed_labels(host, host_len);
    std::fputs(host + host_len, stdout);
}

void urllist_dump_node(const URLLIST_ITEM *item) noexcept
{
    if (item == nullptr)
        return;
    const char *format = part_format(item->itemtype);
    if (format == nullptr)
        return;
    append_part(format, item->hash);
    if (item->data != nullptr) {
        urllist_dump_dump_buffer();
        print_action(item->data, " Uh %s\n");
    }
    print_pattern_lines(item->queryhead, " Uh %s\n");
    print_pattern_lines(item->queryhead_nocase, " Uch %s\n");
}

void urllist_dump(const URLLIST *l) noexcept
{
    dump_stack_idx = 0;
    dump_idx = 0;
    dump_buffer[0] = '\0';
    if (l == nullptr || l->root.child == nullptr)
        return;
    urllist_dump_push(l->root.child);
    while (URLLIST_ITEM *x = urllist_dump_pop()) {
        if (x->low != nullptr)
            urllist_dump_push(x->low);
        if (x->high != nullptr)
            urllist_dump_push(x->high);
        urllist_dump_node(x);
        if (x->child != nullptr)
            urllist_dump_push(x->child);
        if (x->nocase_child != nullptr)
            urllist_dump_push(x->nocase_child);
    }
    std::fflush(stdout);
}

} // extern "C"
