// Routines whose text argument callers must not pass as NULL still check it
// and then do nothing (returning NULL where they return the text): a caller's
// mistake costs nothing instead of a crash.
#include "velmora/qxstring.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/split.h"

namespace {

int lower(int byte)
{
    return std::tolower(static_cast<unsigned char>(byte));
}

bool is_space(char byte)
{
    return std::isspace(static_cast<unsigned char>(byte)) != 0;
}

// Value of an ASCII hexadecimal digit, or -1. Deliberately not isxdigit: the
// accepted digits must not depend on the locale.
int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char *copy_text(const char *str, std::size_t len)
{
    auto *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, str, len);
    copy[len] = '\0';
    return copy;
}

// Replaces the first max_hits non-overlapping occurrences of find, left to
// right, sizing the result exactly before copying.
char *replace_occurrences(const char *str, const char *find, const char *replace, std::size_t max_hits)
{
    if (str == nullptr || find == nullptr || replace == nullptr)
        return nullptr;
    std::size_t str_len = std::strlen(str);
    std::size_t find_len = std::strlen(find);
    if (find_len == 0)
        return copy_text(str, str_len);
    std::size_t hits = 0;
    for (const char *p = str; hits < max_hits && (p = std::strstr(p, find)) != nullptr; p += find_len)
        hits++;
    std::size_t replace_len = std::strlen(replace);
    auto *result = static_cast<char *>(std::malloc(str_len - hits * find_len + hits * replace_len + 1));
    if (result == nullptr)
        return nullptr;
    char *out = result;
    const char *rest = str;
    for (std::size_t i = 0; i < hits; i++) {
        const char *hit = std::strstr(rest, find);
        std::memcpy(out, rest, static_cast<std::size_t>(hit - rest));
        out += hit - rest;
        std::memcpy(out, replace, replace_len);
        out += replace_len;
        rest = hit + find_len;
    }
    std::strcpy(out, rest);
    return result;
}

char *join_texts(char *const *str, char delim, std::size_t count)
{
    std::size_t total = count;
    for (std::size_t i = 0; i < count; i++)
        total += std::strlen(str[i]);
    auto *result = static_cast<char *>(std::malloc(total + 1));
    if (result == nullptr)
        return nullptr;
    char *out = result;
    for (std::size_t i = 0; i < count; i++) {
        std::size_t len = std::strlen(str[i]);
        std::memcpy(out, str[i], len);
        out += len;
        *out++ = delim;
    }
    *out = '\0';
    return result;
}

} // namespace

extern "C" {

char **string_explode(char *str, char delim) noexcept
{
    return string_explode_limit(str, delim, INT_MAX, nullptr);
}

char **string_explode_limit(char *str, char delim, int limit, int *num) noexcept
{
    if (str == nullptr)
        return nullptr;
    std::size_t max_splits = limit > 1 ? static_cast<std::size_t>(limit) - 1 : 0;
    // strchr would also find the terminating NUL when delim is NUL.
    auto find_delim = [delim](char *piece) { return delim == '\0' ? nullptr : std::strchr(piece, delim); };
    return velmora::split_in_place(str, max_splits, find_delim, num);
}

int string_tolower(char *ptr) noexcept
{
    if (ptr != nullptr)
        string_lcase(ptr);
    return 0;
}

char *string_lcase(char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    for (char *p = str; *p != '\0'; p++)
        *p = static_cast<char>(lower(*p));
    return str;
}

void string_lowercase_url(char *str) noexcept
{
    if (str == nullptr)
        return;
    const char *read = str;
    char *write = str;
    while (*read != '\0') {
        int high = *read == '%' ? hex_digit_value(read[1]) : -1;
        int low = high >= 0 ? hex_digit_value(read[2]) : -1;
        if (low < 0) {
            *write++ = *read == ' ' ? '+' : static_cast<char>(lower(*read));
            read++;
            continue;
        }
        int byte = high * 16 + low;
        if (byte == 0) {
            // A decoded NUL would hide the rest of the URL from every later
            // matcher, so the escape stays as it was written.
            std::memmove(write, read, 3);
            write += 3;
        } else {
            *write++ = byte == ' ' ? '+' : static_cast<char>(lower(byte));
        }
        read += 3;
    }
    *write = '\0';
}

char *string_replace(char *ptr, char toreplace, char replacement) noexcept
{
    if (ptr == nullptr)
        return nullptr;
    for (char *p = ptr; *p != '\0'; p++)
        if (*p == toreplace)
            *p = replacement;
    return ptr;
}

char *string_replace_string(const char *str, const char *find, const char *replace) noexcept
{
    return replace_occurrences(str, find, replace, 1);
}

char *string_replace_string_global(const char *str, const char *find, const char *replace) noexcept
{
    return replace_occurrences(str, find, replace, SIZE_MAX);
}

int string_count_string_occurences_l(const char *str, const char *find, int fl) noexcept
{
    // A negative step would walk backwards for ever; it counts nothing.
    if (str == nullptr || find == nullptr || fl <= 0)
        return 0;
    std::size_t len = std::strlen(str);
    std::size_t step = static_cast<std::size_t>(fl);
    int count = 0;
    std::size_t offset = 0;
    while (offset <= len) {
        const char *hit = std::strstr(str + offset, find);
        if (hit == nullptr)
            break;
        count++;
        // A step longer than the rest of the text must not resume beyond it.
        offset = static_cast<std::size_t>(hit - str) + step;
    }
    return count;
}

int string_count_string_occurences(const char *str, const char *find) noexcept
{
    if (find == nullptr)
        return 0;
    return string_count_string_occurences_l(str, find, static_cast<int>(std::strlen(find)));
}

int string_hex_to_bin(const char *str, unsigned char *binstr, int size) noexcept
{
    if (str == nullptr || binstr == nullptr || size == 0)
        return 1;
    int done = 0;
    bool high = true;
    for (const char *p = str; *p != '\0' && done < size; p++) {
        int value = hex_digit_value(*p);
        if (value < 0)
            return 1;
        if (high) {
            binstr[done] = static_cast<unsigned char>(value << 4);
        } else {
            binstr[done] = static_cast<unsigned char>(binstr[done] | value);
            done++;
        }
        high = !high;
    }
    return 0;
}

char *string_append(char *str, const char *more, int len) noexcept
{
    if (str == nullptr || len < 0 || (len > 0 && more == nullptr))
        return nullptr;
    std::size_t old_len = std::strlen(str);
    auto *grown = static_cast<char *>(std::realloc(str, old_len + static_cast<std::size_t>(len) + 1));
    if (grown == nullptr)
        return nullptr;
    if (len > 0)
        std::memcpy(grown + old_len, more, static_cast<std::size_t>(len));
    grown[old_len + static_cast<std::size_t>(len)] = '\0';
    return grown;
}

char *string_add(char *base, const char *add) noexcept
{
    if (add == nullptr)
        return nullptr;
    std::size_t len = std::strlen(add);
    if (len > INT_MAX)
        return nullptr;
    return string_append(base, add, static_cast<int>(len));
}

STRING *str_new(void) noexcept
{
    auto *str = static_cast<STRING *>(std::malloc(sizeof(STRING)));
    if (str == nullptr)
        return nullptr;
    str->data = static_cast<char *>(std::malloc(STRING_INITIAL_SIZE));
    if (str->data == nullptr) {
        std::free(str);
        return nullptr;
    }
    str->data[0] = '\0';
    str->length = 0;
    str->allocated = STRING_INITIAL_SIZE;
    return str;
}

int str_add(STRING *str, const char *format, ...) noexcept
{
    if (str == nullptr || format == nullptr)
        return 0;
    va_list ap;
    va_start(ap, format);
    int measured = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (measured < 0)
        return 0;
    long long n = measured;
    if (str->length + n + 1 > str->allocated) {
        long long wanted = n + str->allocated + 3000;
        // The sizes are 32-bit fields: a text that cannot be counted there fails.
        if (wanted > INT_MAX)
            return 0;
        auto *grown = static_cast<char *>(std::realloc(str->data, static_cast<std::size_t>(wanted)));
        if (grown == nullptr)
            return 0;
        str->data = grown;
        str->allocated = static_cast<int32_t>(wanted);
    }
    va_start(ap, format);
    std::vsnprintf(str->data + str->length, static_cast<std::size_t>(n) + 1, format, ap);
    va_end(ap);
    str->length += static_cast<int32_t>(n);
    return -1;
}

char *string_rtrim(char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    std::size_t len = std::strlen(str);
    while (len > 0 && is_space(str[len - 1]))
        len--;
    str[len] = '\0';
    return str;
}

char *string_ltrim(const char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    while (*str != '\0' && is_space(*str))
        str++;
    return const_cast<char *>(str);
}

char *string_truncate_withdots(const char *str, int shortsize) noexcept
{
    // Below 4 bytes there is no room for the dots and their NUL.
    if (str == nullptr || shortsize < 4)
        return nullptr;
    std::size_t len = std::strlen(str);
    std::size_t size = static_cast<std::size_t>(shortsize);
    if (len < size)
        return copy_text(str, len);
    auto *result = static_cast<char *>(std::malloc(size));
    if (result == nullptr)
        return nullptr;
    std::memcpy(result, str, size - 4);
    std::memcpy(result + size - 4, "...", 4);
    return result;
}

char *string_implode(char *const *str, char delim) noexcept
{
    if (str == nullptr)
        return nullptr;
    std::size_t count = 0;
    while (str[count] != nullptr)
        count++;
    return join_texts(str, delim, count);
}

char *string_nimplode(char *const *str, char delim, int num) noexcept
{
    if (num <= 0)
        return copy_text("", 0);
    if (str == nullptr)
        return nullptr;
    return join_texts(str, delim, static_cast<std::size_t>(num));
}

} // extern "C"
