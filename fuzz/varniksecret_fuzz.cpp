// Secret sealing: every sealed secret unseals to itself, sealing into a small
// buffer writes nothing past it, and unsealing arbitrary text stays within
// the output. Input: a control byte (output buffer sizes), then the secret.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/varniksecret.h"

namespace {

struct Buffer {
    explicit Buffer(int size) : data(static_cast<char *>(std::malloc(size > 0 ? size : 1))), size(size) {
        FUZZ_CHECK(data != nullptr);
        std::memset(data, 'x', size > 0 ? size : 1);
    }
    ~Buffer() { std::free(data); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    char *data;
    int size;
};

int sealed_length(const std::string &secret) {
    return static_cast<int>(std::min<size_t>(secret.size(), VARNIKSECRET_MAX_SECRET));
}

int token_length(int sealed) { return (sealed + 2 + 2) / 3 * 4; }

void check_round_trip(const std::string &secret) {
    const int sealed = sealed_length(secret);
    const int token_len = token_length(sealed);
    Buffer token(token_len + 1);
    int rc = varniksecret_encrypt(secret.c_str(), token.data, token.size);
    if (secret.empty()) {
        FUZZ_CHECK(rc == 0 && token.data[0] == '\0');
        return;
    }
    FUZZ_CHECK(rc == sealed + 2);
    FUZZ_CHECK(static_cast<int>(std::strlen(token.data)) == token_len);
    FUZZ_CHECK(std::strchr(token.data, '+') == nullptr);

    Buffer plain(sealed + 1);
    FUZZ_CHECK(varniksecret_decrypt(token.data, plain.data, plain.size) == sealed);
    FUZZ_CHECK(std::memcmp(plain.data, secret.data(), sealed) == 0 && plain.data[sealed] == '\0');

    // The secret and its NUL must fit: one byte less is refused.
    Buffer tight(sealed);
    if (sealed > 0) FUZZ_CHECK(varniksecret_decrypt(token.data, tight.data, tight.size) == 0);
}

void check_small_token_buffer(const std::string &secret, int size) {
    Buffer token(size);
    int rc = varniksecret_encrypt(secret.c_str(), token.data, token.size);
    const int sealed = sealed_length(secret);
    if (size > token_length(sealed)) return;
    FUZZ_CHECK(rc == 0);
    if (size > 0) FUZZ_CHECK(token.data[0] == '\0');
}

void check_unsealing_text(const std::string &text, int size) {
    Buffer plain(size);
    int rc = varniksecret_decrypt(text.c_str(), plain.data, plain.size);
    FUZZ_CHECK(rc >= 0);
    if (size > 0) FUZZ_CHECK(rc < size && plain.data[rc] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    const std::string secret = in.rest_text();
    check_round_trip(secret);
    check_small_token_buffer(secret, control % 64);
    check_unsealing_text(secret, static_cast<int>(control) - 4);
    return 0;
}
