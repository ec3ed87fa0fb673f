// Base64 encoders and decoders with output buffers of every size (each one a
// heap block of exactly the stated size, so a byte written past it is
// reported), and the round trip: a complete encoding decodes to the input.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/base64.h"

namespace {

struct Buffer {
    explicit Buffer(int size) : data(static_cast<char *>(std::malloc(size > 0 ? size : 1))), size(size) {
        FUZZ_CHECK(data != nullptr);
    }
    ~Buffer() { std::free(data); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    char *data;
    int size;
};

int full_encoding_length(size_t len) { return static_cast<int>((len + 2) / 3 * 4); }

// Encoding into a buffer of result_size bytes writes whole groups only,
// NUL-terminated, and the text encoder agrees with the byte encoder.
void check_bounded_encoding(const std::string &bytes, int result_size) {
    Buffer out(result_size);
    int n = base64_encode_bin(bytes.data(), static_cast<int>(bytes.size()), out.data, out.size);
    FUZZ_CHECK(n >= 0 && n <= full_encoding_length(bytes.size()));
    if (result_size > 0) FUZZ_CHECK(n < result_size && static_cast<int>(std::strlen(out.data)) == n);

    const std::string text = bytes.substr(0, bytes.find('\0'));
    Buffer text_out(result_size);
    int m = base64_encode(text.c_str(), text_out.data, text_out.size);
    if (text == bytes) FUZZ_CHECK(m == n && std::memcmp(out.data, text_out.data, n) == 0);
}

void check_round_trip(const std::string &bytes) {
    const int encoded_len = full_encoding_length(bytes.size());
    Buffer encoded(encoded_len + 5);
    FUZZ_CHECK(base64_encode_bin(bytes.data(), static_cast<int>(bytes.size()), encoded.data, encoded.size) ==
               encoded_len);
    FUZZ_CHECK(base64_isEncoded(encoded.data, encoded_len) == 0);
    Buffer decoded(encoded_len + 5);
    int n = base64_decode_bin(encoded.data, decoded.data, decoded.size);
    FUZZ_CHECK(n == encoded_len / 4 * 3);
    FUZZ_CHECK(std::memcmp(decoded.data, bytes.data(), bytes.size()) == 0);
    for (int i = static_cast<int>(bytes.size()); i < n; ++i) FUZZ_CHECK(decoded.data[i] == 0);
}

void check_decoding(const std::string &text, int result_size) {
    Buffer out(result_size);
    int n = base64_decode_bin(text.c_str(), out.data, out.size);
    FUZZ_CHECK(n >= 0 && n % 3 == 0);
    if (result_size > 0) FUZZ_CHECK(n < result_size);
    Buffer trimmed(result_size);
    int t = base64_decode(text.c_str(), trimmed.data, trimmed.size);
    FUZZ_CHECK(t >= 0 && t <= n);
    int check = base64_isEncoded(text.c_str(), static_cast<int>(text.size()));
    FUZZ_CHECK(check == 0 || check == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    // Sizes from -8 to 247 reach the small-buffer paths and whole groups.
    const int result_size = static_cast<int>(in.byte()) - 8;
    const std::string bytes = in.rest();
    check_bounded_encoding(bytes, result_size);
    check_round_trip(bytes);
    check_decoding(bytes.substr(0, bytes.find('\0')), result_size);
    return 0;
}
