// CityHash64 as released in 1.0.3. The 1.1 series mixes texts of up to 64
// bytes differently and the first 1.0 releases mixed longer texts
// differently; stored hashes require exactly this variant.
#include "internal/cityhash.h"

#include <bit>
#include <cstring>
#include <utility>

namespace velmora {
namespace {

constexpr uint64_t k0 = 0xc3a5c85c97cb3127ULL;
constexpr uint64_t k1 = 0xb492b66fbe98f273ULL;
constexpr uint64_t k2 = 0x9ae16a3b2f90404fULL;
constexpr uint64_t k3 = 0xc949d7c7509e6557ULL;

using HashPair = std::pair<uint64_t, uint64_t>;

// The hash is defined over little-endian loads.
template <typename Word>
Word fetch(const char *p)
{
    Word value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        Word swapped = 0;
        for (size_t i = 0; i < sizeof(Word); i++)
            swapped = static_cast<Word>(swapped << 8 | ((value >> (8 * i)) & 0xffu));
        value = swapped;
    }
    return value;
}

uint64_t fetch64(const char *p)
{
    return fetch<uint64_t>(p);
}

uint32_t fetch32(const char *p)
{
    return fetch<uint32_t>(p);
}

uint64_t rotate(uint64_t value, int shift)
{
    return shift == 0 ? value : std::rotr(value, shift);
}

uint64_t shift_mix(uint64_t value)
{
    return value ^ (value >> 47);
}

uint64_t hash128_to_64(uint64_t low, uint64_t high)
{
    constexpr uint64_t mul = 0x9ddfea08eb382d69ULL;
    uint64_t a = (low ^ high) * mul;
    a ^= (a >> 47);
    uint64_t b = (high ^ a) * mul;
    b ^= (b >> 47);
    return b * mul;
}

uint64_t hash_len16(uint64_t u, uint64_t v)
{
    return hash128_to_64(u, v);
}

uint64_t hash_len0to16(const char *s, size_t len)
{
    if (len > 8) {
        uint64_t a = fetch64(s);
        uint64_t b = fetch64(s + len - 8);
        return hash_len16(a, std::rotr(b + len, static_cast<int>(len))) ^ b;
    }
    if (len >= 4) {
        uint64_t a = fetch32(s);
        return hash_len16(len + (a << 3), fetch32(s + len - 4));
    }
    if (len > 0) {
        uint8_t a = static_cast<uint8_t>(s[0]);
        uint8_t b = static_cast<uint8_t>(s[len >> 1]);
        uint8_t c = static_cast<uint8_t>(s[len - 1]);
        uint32_t y = static_cast<uint32_t>(a) + (static_cast<uint32_t>(b) << 8);
        uint32_t z = static_cast<uint32_t>(len) + (static_cast<uint32_t>(c) << 2);
        return shift_mix(y * k2 ^ z * k3) * k2;
    }
    return k2;
}

uint64_t hash_len17to32(const char *s, size_t len)
{
    uint64_t a = fetch64(s) * k1;
    uint64_t b = fetch64(s + 8);
    uint64_t c = fetch64(s + len - 8) * k2;
    uint64_t d = fetch64(s + len - 16) * k0;
    return hash_len16(rotate(a - b, 43) + rotate(c, 30) + d, a + rotate(b ^ k3, 20) - c + len);
}

HashPair weak_hash_len32_with_seeds(uint64_t w, uint64_t x, uint64_t y, uint64_t z, uint64_t a, uint64_t b)
{
    a += w;
    b = rotate(b + a + z, 21);
    uint64_t c = a;
    a += x;
    a += y;
    b += rotate(a, 44);
    return {a + z, b + c};
}

HashPair weak_hash_len32_with_seeds(const char *s, uint64_t a, uint64_t b)
{
    return weak_hash_len32_with_seeds(fetch64(s), fetch64(s + 8), fetch64(s + 16), fetch64(s + 24), a, b);
}

uint64_t hash_len33to64(const char *s, size_t len)
{
    uint64_t z = fetch64(s + 24);
    uint64_t a = fetch64(s) + (len + fetch64(s + len - 16)) * k0;
    uint64_t b = rotate(a + z, 52);
    uint64_t c = rotate(a, 37);
    a += fetch64(s + 8);
    c += rotate(a, 7);
    a += fetch64(s + 16);
    uint64_t vf = a + z;
    uint64_t vs = b + rotate(a, 31) + c;
    a = fetch64(s + 16) + fetch64(s + len - 32);
    z = fetch64(s + len - 8);
    b = rotate(a + z, 52);
    c = rotate(a, 37);
    a += fetch64(s + len - 24);
    c += rotate(a, 7);
    a += fetch64(s + len - 16);
    uint64_t wf = a + z;
    uint64_t ws = b + rotate(a, 31) + c;
    uint64_t r = shift_mix((vf + ws) * k2 + (wf + vs) * k0);
    return shift_mix(r * k0 + vs) * k2;
}

// Over 64 bytes: the tail is hashed first, then 64-byte chunks from the
// start, keeping 56 bytes of state (v, w, x, y, z).
uint64_t hash_long(const char *s, size_t len)
{
    uint64_t x = fetch64(s + len - 40);
    uint64_t y = fetch64(s + len - 16) + fetch64(s + len - 56);
    uint64_t z = hash_len16(fetch64(s + len - 48) + len, fetch64(s + len - 24));
    HashPair v = weak_hash_len32_with_seeds(s + len - 64, len, z);
    HashPair w = weak_hash_len32_with_seeds(s + len - 32, y + k1, x);
    x = x * k1 + fetch64(s);

    len = (len - 1) & ~static_cast<size_t>(63);
    do {
        x = rotate(x + y + v.first + fetch64(s + 8), 37) * k1;
        y = rotate(y + v.second + fetch64(s + 48), 42) * k1;
        x ^= w.second;
        y += v.first + fetch64(s + 40);
        z = rotate(z + w.first, 33) * k1;
        v = weak_hash_len32_with_seeds(s, v.second * k1, x + w.first);
        w = weak_hash_len32_with_seeds(s + 32, z + w.second, y + fetch64(s + 16));
        std::swap(z, x);
        s += 64;
        len -= 64;
    } while (len != 0);
    return hash_len16(hash_len16(v.first, w.first) + shift_mix(y) * k1 + z, hash_len16(v.second, w.second) + x);
}

} // namespace

uint64_t city_hash64(const char *data, size_t len) noexcept
{
    if (len <= 16)
        return hash_len0to16(data, len);
    if (len <= 32)
        return hash_len17to32(data, len);
    if (len <= 64)
        return hash_len33to64(data, len);
    return hash_long(data, len);
}

} // namespace velmora
