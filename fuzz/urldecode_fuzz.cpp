// URL form decoding and URL lower-casing: neither ever lengthens the text,
// and the lower-cased form holds no upper-case letter, no space and no NUL
// cut (an escaped NUL stays the text "%00").
#include <cctype>
#include <cstring>

#include "fuzz_input.h"
#include "velmora/qxstring.h"
#include "velmora/urldecode.h"

namespace {

void check_form_decoding(const std::string &text) {
    char *decoded = qxurldecode(text.c_str());
    FUZZ_CHECK(decoded != nullptr);
    FUZZ_CHECK(std::strlen(decoded) <= text.size());
    std::free(decoded);
}

void check_lowercase_url(const std::string &text) {
    char *copy = velmora_fuzz::exact_copy(text);
    string_lowercase_url(copy);
    const size_t len = std::strlen(copy);
    FUZZ_CHECK(len <= text.size());
    // Every escape shrinks three bytes to one: nothing else shortens the text.
    FUZZ_CHECK(len * 3 >= text.size());
    for (size_t i = 0; i < len; ++i) {
        FUZZ_CHECK(!std::isupper(static_cast<unsigned char>(copy[i])));
        FUZZ_CHECK(copy[i] != ' ');
    }
    std::free(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    const std::string text = in.rest_text();
    check_form_decoding(text);
    check_lowercase_url(text);
    return 0;
}
