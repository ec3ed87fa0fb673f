#include "velmora/base64.h"

#include <cstddef>
#include <cstring>

extern "C" {

const char base64_code[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int32_t base64_value[256];
int base64_initialized = 0;

} // extern "C"

namespace {

// Smallest result_size that holds one group of four characters and its NUL.
constexpr int kSmallestResultSize = 5;

bool fill_decoding_table()
{
    for (int32_t &value : base64_value)
        value = -1;
    for (int32_t i = 0; i < 64; i++)
        base64_value[static_cast<unsigned char>(base64_code[i])] = i;
    base64_value[static_cast<unsigned char>('=')] = 0;
    base64_initialized = 1;
    return true;
}

// Built once, under the guard of a local static, so that threads decoding at
// the same time never see a half-built table.
void ensure_decoding_table()
{
    static const bool built = fill_decoding_table();
    (void)built;
}

// Built at load time as well, for readers of base64_value itself.
const bool table_at_load = (ensure_decoding_table(), true);

// Writes the four characters of one group of one to three bytes, padding
// with '=' for missing bytes.
void encode_group(const unsigned char *bytes, std::size_t count, char *out)
{
    uint32_t group = static_cast<uint32_t>(bytes[0]) << 16;
    if (count > 1)
        group |= static_cast<uint32_t>(bytes[1]) << 8;
    if (count > 2)
        group |= bytes[2];
    out[0] = base64_code[(group >> 18) & 63];
    out[1] = base64_code[(group >> 12) & 63];
    out[2] = count > 1 ? base64_code[(group >> 6) & 63] : '=';
    out[3] = count > 2 ? base64_code[group & 63] : '=';
}

int encode_bytes(const unsigned char *data, std::size_t len, char *result, int result_size)
{
    if (result == nullptr || result_size <= 0)
        return 0;
    // Too small for one group: an empty text, and nothing past the buffer.
    if (result_size < kSmallestResultSize) {
        result[0] = '\0';
        return 0;
    }
    const std::size_t room = static_cast<std::size_t>(result_size - kSmallestResultSize);
    std::size_t written = 0;
    for (std::size_t taken = 0; taken < len && written < room; taken += 3) {
        std::size_t count = len - taken < 3 ? len - taken : 3;
        encode_group(data + taken, count, result + written);
        written += 4;
    }
    result[written] = '\0';
    return static_cast<int>(written);
}

} // namespace

extern "C" {

int base64_encode(const char *decoded_str, char *result, int result_size) noexcept
{
    if (decoded_str == nullptr)
        return 0;
    ensure_decoding_table();
    return encode_bytes(reinterpret_cast<const unsigned char *>(decoded_str), std::strlen(decoded_str), result,
                        result_size);
}

int base64_encode_bin(const void *data, int len, char *result, int result_size) noexcept
{
    if (data == nullptr && len > 0)
        return 0;
    ensure_decoding_table();
    std::size_t count = len > 0 ? static_cast<std::size_t>(len) : 0;
    return encode_bytes(static_cast<const unsigned char *>(data), count, result, result_size);
}

int base64_decode_bin(const char *p, void *result, int result_size) noexcept
{
    if (p == nullptr || result == nullptr)
        return 0;
    ensure_decoding_table();
    auto *out = static_cast<unsigned char *>(result);
    if (*p == '\0' || result_size < kSmallestResultSize) {
        // A size of 0 or less has no first byte to terminate.
        if (result_size > 0)
            out[0] = '\0';
        return 0;
    }
    const auto *in = reinterpret_cast<const unsigned char *>(p);
    uint32_t accumulator = 0;
    int characters = 0;
    int written = 0;
    // The size test before every byte keeps room for a whole group and the NUL.
    do {
        int32_t value = base64_value[*in++];
        if (value < 0)
            continue;
        accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
        if (++characters == 4) {
            out[written++] = static_cast<unsigned char>(accumulator >> 16);
            out[written++] = static_cast<unsigned char>(accumulator >> 8);
            out[written++] = static_cast<unsigned char>(accumulator);
            accumulator = 0;
            characters = 0;
        }
    } while (*in != '\0' && written + 4 < result_size);
    out[written] = '\0';
    return written;
}

int base64_decode(const char *p, void *result, int result_size) noexcept
{
    int count = base64_decode_bin(p, result, result_size);
    const auto *bytes = static_cast<const unsigned char *>(result);
    while (count > 0 && bytes[count - 1] == 0)
        count--;
    return count;
}

int base64_isEncoded(const char *p, int size) noexcept
{
    if (p == nullptr || size <= 0)
        return 0;
    ensure_decoding_table();
    const auto *bytes = reinterpret_cast<const unsigned char *>(p);
    for (int i = 0; i < size; i++)
        if (bytes[i] != 0 && base64_value[bytes[i]] < 0)
            return 1;
    return 0;
}

} // extern "C"
