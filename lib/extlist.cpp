#include "velmora/extlist.h"

#include "velmora/category.h"
#include "velmora/file.h"
#include "velmora/qxstring.h"

#include "internal/malloc_ptr.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int hashed_bytes = 4;

unsigned char lower(char c) noexcept
{
    return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

std::size_t bucket_size(const EXTLIST_ITEM *bucket) noexcept
{
    std::size_t n = 0;
    while (bucket[n].item != nullptr)
        n++;
    return n;
}

// True when stored (lower-case) equals ext lower-cased: the same answer as
// lower-casing a copy of ext and comparing with strcmp, without the copy.
bool equals_lowered(const char *stored, const char *ext) noexcept
{
    while (*stored != '\0' && static_cast<unsigned char>(*stored) == lower(*ext)) {
        stored++;
        ext++;
    }
    return *stored == '\0' && *ext == '\0';
}

const EXTLIST_ITEM *find_item(const EXTLIST_TABLE *table, const char *ext) noexcept
{
    if (table == nullptr || ext == nullptr || ext[0] == '\0' || table->hash == nullptr)
        return nullptr;
    const EXTLIST_ITEM *item = table->hash[extlist_create_hash(table->hash_count, ext)];
    for (; item->item != nullptr; item++) {
        if (equals_lowered(item->item, ext))
            return item;
    }
    return nullptr;
}

char *lowered_copy(const char *text) noexcept
{
    char *copy = strdup(text);
    if (copy != nullptr) {
        for (char *p = copy; *p != '\0'; p++)
            *p = static_cast<char>(lower(*p));
    }
    return copy;
}

// Reads comma-separated decimal numbers into set. A piece that is not a
// number is passed over; numbers that are no category (negative, or beyond 32
// bits) are passed over too rather than wrapped into some other category.
// Returns how many numbers were read, or -1 when the set could not grow.
int read_categories(cat_t *set, const char *cats) noexcept
{
    int read = 0;
    const char *p = cats;
    for (;;) {
        char *end = nullptr;
        errno = 0;
        long number = std::strtol(p, &end, 10);
        if (end != p && errno == 0 && number >= 0 && static_cast<unsigned long>(number) <= UINT32_MAX) {
            if (category_add_number(set, static_cast<uint32_t>(number)) != 0)
                return -1;
            read++;
        }
        if (*end != ',')
            return read;
        p = end + 1;
    }
}

// A loaded line, split at spaces: the extension and, for category lines, its
// categories.
using LineAdder = int (*)(EXTLIST_TABLE *table, char **fields);

int add_present_line(EXTLIST_TABLE *table, char **fields) noexcept
{
    return extlist_add_item(table, fields[0], EXTLIST_PRESENT) == 0 ? 1 : 0;
}

int add_category_line(EXTLIST_TABLE *table, char **fields) noexcept
{
    if (fields[1] == nullptr)
        return 0;
    return extlist_add_category_item(table, fields[0], fields[1]) == 0 ? 1 : 0;
}

// 1 when the line added an item, else 0. The line is cut in place.
int load_line(EXTLIST_TABLE *table, char *line, LineAdder adder) noexcept
{
    char **fields = string_explode(line, ' ');
    if (fields == nullptr)
        return 0;
    int added = adder(table, fields);
    std::free(fields);
    return added;
}

// Feeds every line read_line delivers (a text it keeps owning, or nullptr at
// the end) to adder; the number of items added.
template <class ReadLine>
int load_lines(EXTLIST_TABLE *table, LineAdder adder, ReadLine read_line) noexcept
{
    if (table == nullptr || table->hash == nullptr)
        return 0;
    int added = 0;
    while (char *line = read_line())
        added += load_line(table, line, adder);
    return added;
}

int load_stream(EXTLIST_TABLE *table, FILE *f, LineAdder adder) noexcept
{
    if (f == nullptr)
        return 0;
    velmora::MallocPtr<char> line;
    return load_lines(table, adder, [&] {
        line.reset(file_read_string(f));
        return line.get();
    });
}

int load_buffer(EXTLIST_TABLE *table, file_buffer *buffer, LineAdder adder) noexcept
{
    if (buffer == nullptr)
        return 0;
    return load_lines(table, adder, [&] { return file_buffer_read_string(buffer) == 0 ? buffer->line : nullptr; });
}

} // namespace

extern "C" {

EXTLIST_TABLE *extlist_initialize(int hash_count, extlist_free_fn free_func) noexcept
{
    auto *table = static_cast<EXTLIST_TABLE *>(std::calloc(1, sizeof(EXTLIST_TABLE)));
    if (table == nullptr)
        return nullptr;
    table->free_func = free_func;
    if (hash_count <= 0)
        return table;
    table->hash = static_cast<EXTLIST_ITEM **>(std::calloc(static_cast<std::size_t>(hash_count), sizeof(EXTLIST_ITEM *)));
    if (table->hash == nullptr) {
        std::free(table);
        return nullptr;
    }
    // hash_count tells teardown how many buckets to visit; unmade ones are NULL.
    table->hash_count = hash_count;
    for (int i = 0; i < hash_count; i++) {
        table->hash[i] = static_cast<EXTLIST_ITEM *>(std::calloc(1, sizeof(EXTLIST_ITEM)));
        if (table->hash[i] == nullptr) {
            extlist_terminate(table);
            return nullptr;
        }
    }
    return table;
}

int extlist_create_hash(int hash_count, const char *str) noexcept
{
    if (hash_count <= 0 || str == nullptr || str[0] == '\0')
        return 0;
    uint32_t value = 0;
    for (int i = 0; i < hashed_bytes && i < hash_count && str[i] != '\0'; i++)
        value |= static_cast<uint32_t>(lower(str[i])) << (8 * i);
    return static_cast<int>(value % static_cast<uint32_t>(hash_count));
}

int extlist_add_item(EXTLIST_TABLE *table, const char *ext, void *data) noexcept
{
    if (table == nullptr || table->hash == nullptr || ext == nullptr || ext[0] == '\0' || data == nullptr)
        return -1;
    // The copy is made before the bucket grows, so a failure leaves the bucket
    // exactly as it was.
    char *copy = lowered_copy(ext);
    if (copy == nullptr)
        return -1;
    EXTLIST_ITEM *&bucket = table->hash[extlist_create_hash(table->hash_count, ext)];
    std::size_t n = bucket_size(bucket);
    auto *grown = static_cast<EXTLIST_ITEM *>(std::realloc(bucket, (n + 2) * sizeof(EXTLIST_ITEM)));
    if (grown == nullptr) {
        std::free(copy);
        return -1;
    }
    grown[n] = EXTLIST_ITEM{copy, data};
    grown[n + 1] = EXTLIST_ITEM{nullptr, nullptr};
    bucket = grown;
    return 0;
}

void *extlist_lookup(const EXTLIST_TABLE *table, const char *ext) noexcept
{
    const EXTLIST_ITEM *item = find_item(table, ext);
    return item != nullptr ? item->data : nullptr;
}

void *extlist_lookup_diag(const EXTLIST_TABLE *table, const char *ext, char **item) noexcept
{
    const EXTLIST_ITEM *found = find_item(table, ext);
    if (found == nullptr)
        return nullptr;
    if (item != nullptr) {
        *item = strdup(found->item);
        if (*item == nullptr)
            return nullptr;
    }
    return found->data;
}

int extlist_add_file(EXTLIST_TABLE *table, FILE *f) noexcept
{
    return load_stream(table, f, add_present_line);
}

int extlist_add_file_buffer(EXTLIST_TABLE *table, file_buffer *buffer) noexcept
{
    return load_buffer(table, buffer, add_present_line);
}

int extlist_add_category_item(EXTLIST_TABLE *table, const char *ext, const char *cats) noexcept
{
    if (cats == nullptr)
        return -1;
    cat_t *set = category_new();
    if (set == nullptr)
        return -1;
    if (read_categories(set, cats) <= 0 || extlist_add_item(table, ext, set) != 0) {
        category_free(set);
        return -1;
    }
    return 0;
}

int extlist_add_category_file(EXTLIST_TABLE *table, FILE *f) noexcept
{
    return load_stream(table, f, add_category_line);
}

int extlist_add_category_file_buffer(EXTLIST_TABLE *table, file_buffer *buffer) noexcept
{
    return load_buffer(table, buffer, add_category_line);
}

void extlist_terminate(EXTLIST_TABLE *table) noexcept
{
    if (table == nullptr)
        return;
    for (int i = 0; table->hash != nullptr && i < table->hash_count; i++) {
        EXTLIST_ITEM *bucket = table->hash[i];
        if (bucket == nullptr)
            continue;
        for (EXTLIST_ITEM *item = bucket; item->item != nullptr; item++) {
            if (table->free_func != nullptr)
                table->free_func(item->data);
            std::free(item->item);
        }
        std::free(bucket);
    }
    std::free(table->hash);
    std::free(table);
}

} // extern "C"
