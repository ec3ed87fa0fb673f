// Token hashes and their hash-string form.
#include "velmora/urllist.h"

#include "internal/cityhash.h"

namespace {

constexpr int hash_string_digits = 16;
constexpr unsigned hash_bytes = 8;
constexpr char hex_digits[] = "0123456789abcdef";

// Characters between '9' and 'A' and between 'F' and 'a' are accepted as
// digits too (callers never write them): they take the value of their
// distance from '0' or from 'A', which gives some byte without failing.
unsigned hex_value(char c)
{
    if (c >= 'a')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A')
        return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - '0');
}

bool is_hash_char(char c)
{
    return c >= '0' && c <= 'f';
}

} // namespace

extern "C" {

int urllist_hash(const char *token, int len, myhash_t *hash) noexcept
{
    if (hash == nullptr || len < 0 || (token == nullptr && len > 0))
        return -1;
    hash->city = static_cast<int64_t>(velmora::city_hash64(token, static_cast<size_t>(len)));
    return 0;
}

int urllist_str2hash(const char *hashstr, int len, myhash_t *h) noexcept
{
    if (h == nullptr)
        return -1;
    if (hashstr == nullptr || len != hash_string_digits) {
        h->city = 0;
        return -1;
    }
    // Pair i is byte i of the value counted from its least significant end
    // (its memory order on the little-endian machines the lists come from).
    uint64_t value = static_cast<uint64_t>(h->city);
    int rc = 0;
    for (unsigned i = 0; i < hash_bytes; i++) {
        // The second character is read only after the first proved not to
        // be a terminator.
        char high = hashstr[2 * i];
        if (!is_hash_char(high) || !is_hash_char(hashstr[2 * i + 1])) {
            rc = -1;
            break;
        }
        char low = hashstr[2 * i + 1];
        uint64_t byte = (16 * hex_value(high) + hex_value(low)) & 0xffu;
        value = (value & ~(uint64_t{0xff} << (8 * i))) | (byte << (8 * i));
    }
    h->city = static_cast<int64_t>(value);
    return rc;
}

int urllist_hash2str(const myhash_t *h, char *hashstr, int len) noexcept
{
    if (h == nullptr || hashstr == nullptr || len < hash_string_digits + 1)
        return -1;
    uint64_t value = static_cast<uint64_t>(h->city);
    for (unsigned i = 0; i < hash_bytes; i++) {
        unsigned byte = (value >> (8 * i)) & 0xffu;
        hashstr[2 * i] = hex_digits[byte >> 4];
        hashstr[2 * i + 1] = hex_digits[byte & 0x0fu];
    }
    hashstr[hash_string_digits] = '\0';
    return 0;
}

int urllist_hash_compare(const void *a, const void *b) noexcept
{
    int64_t x = static_cast<const myhash_t *>(a)->city;
    int64_t y = static_cast<const myhash_t *>(b)->city;
    return x < y ? -1 : (x > y ? 1 : 0);
}

} // extern "C"
