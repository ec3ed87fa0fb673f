// Secret sealing: '@' + (secret XOR 0x01) + '@', Base64-encoded, '+' written as
// '!' so that URL form decoding leaves the token intact.
#include "velmora/varniksecret.h"

#include "velmora/base64.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char kMarker = '@';
constexpr unsigned char kMask = 0x01;
constexpr int kMaxFramed = VARNIKSECRET_MAX_SECRET + 2;

constexpr int token_length(int framed_length)
{
    return 4 * ((framed_length + 2) / 3);
}
static_assert(token_length(kMaxFramed) == VARNIKSECRET_MAX_TOKEN);

// The Base64 encoder only begins a group while 5 bytes remain beyond what it
// has written, and the decoder only goes on while its output plus 4 stays
// below the size: both work buffers leave that margin above the longest
// token and the longest decoded payload (padding decodes to zero bytes).
constexpr int kMaxDecoded = VARNIKSECRET_MAX_TOKEN / 4 * 3;
constexpr int kTokenBufferSize = VARNIKSECRET_MAX_TOKEN + 5;
constexpr int kDecodeBufferSize = kMaxDecoded + 5;

// Clears output (when there is one) and tells whether there is anything to
// work on: a writable output and a non-empty input.
bool start_output(const char *input, char *output, int output_size)
{
    if (output == nullptr || output_size < 1)
        return false;
    output[0] = '\0';
    return input != nullptr && input[0] != '\0';
}

int frame_secret(const char *secret, unsigned char *framed)
{
    int length = 0;
    framed[length++] = kMarker;
    for (int i = 0; i < VARNIKSECRET_MAX_SECRET && secret[i] != '\0'; ++i)
        framed[length++] = static_cast<unsigned char>(secret[i]) ^ kMask;
    framed[length++] = kMarker;
    return length;
}

void replace_char(char *text, char from, char to)
{
    std::replace(text, text + std::strlen(text), from, to);
}

bool is_framed(const unsigned char *decoded, int length)
{
    return length >= 2 && decoded[0] == kMarker && decoded[length - 1] == kMarker;
}

} // namespace

extern "C" {

int varniksecret_encrypt(const char *input, char *output, int outputSize) noexcept
{
    if (!start_output(input, output, outputSize))
        return 0;

    unsigned char framed[kMaxFramed];
    const int framed_length = frame_secret(input, framed);

    char token[kTokenBufferSize];
    const int written = base64_encode_bin(framed, framed_length, token, kTokenBufferSize);
    // A cut token would not unseal: hand out the whole token or nothing.
    if (written != token_length(framed_length) || written >= outputSize)
        return 0;
    replace_char(token, '+', '!');
    std::memcpy(output, token, static_cast<size_t>(written) + 1);
    return framed_length;
}

int varniksecret_decrypt(const char *input, char *output, int outputSize) noexcept
{
    if (!start_output(input, output, outputSize))
        return 0;

    char token[VARNIKSECRET_MAX_TOKEN + 1];
    const size_t token_chars = strnlen(input, VARNIKSECRET_MAX_TOKEN);
    std::memcpy(token, input, token_chars);
    token[token_chars] = '\0';
    replace_char(token, '!', '+');

    unsigned char decoded[kDecodeBufferSize];
    const int length = base64_decode(token, decoded, kDecodeBufferSize);
    // A lone marker ("@") is not a frame: it unseals to nothing, like "@@".
    if (!is_framed(decoded, length) || length - 2 >= outputSize)
        return 0;

    const int secret_length = length - 2;
    for (int i = 0; i < secret_length; ++i)
        output[i] = static_cast<char>(decoded[i + 1] ^ kMask);
    output[secret_length] = '\0';
    return secret_length;
}

} // extern "C"
