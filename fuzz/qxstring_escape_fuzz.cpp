// Backslash unescaping, quote extraction and quote-aware splitting. Splitting
// only cuts at spaces, so the pieces joined by spaces give the text back.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/qxstring.h"

namespace {

void check_unescape(const std::string &text) {
    char *copy = velmora_fuzz::exact_copy(text);
    string_unescape_string(copy);
    FUZZ_CHECK(std::strlen(copy) <= text.size());
    std::free(copy);

    char *extracted = string_extract_from_quotes(text.c_str());
    FUZZ_CHECK(extracted != nullptr);
    FUZZ_CHECK(std::strlen(extracted) <= text.size());
    std::free(extracted);
}

void check_explode_quotes(const std::string &text) {
    char *copy = velmora_fuzz::exact_copy(text);
    char **pieces = string_explode_quotes(copy);
    FUZZ_CHECK(pieces != nullptr && pieces[0] != nullptr);
    std::string joined;
    for (char **piece = pieces; *piece != nullptr; ++piece) {
        FUZZ_CHECK(*piece >= copy && *piece <= copy + text.size());
        if (piece != pieces) joined += ' ';
        joined += *piece;
    }
    FUZZ_CHECK(joined == text);
    std::free(pieces);
    std::free(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    const std::string text = in.rest_text();
    check_unescape(text);
    check_explode_quotes(text);
    return 0;
}
