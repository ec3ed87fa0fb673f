// Helpers shared by the fuzz targets: a reader that takes control bytes off
// the front of the fuzzer's input, and a check that aborts (so libFuzzer
// records the input) when a property of the library does not hold.
#ifndef VELMORA_FUZZ_INPUT_H
#define VELMORA_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace velmora_fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    // The next byte, or 0 once the input is used up.
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

    // A little-endian value of up to four bytes.
    uint32_t u32(int bytes = 4) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
        return value;
    }

    // Everything not yet taken, as bytes (may hold NULs).
    std::string rest() {
        std::string out(reinterpret_cast<const char *>(data_ + pos_), size_ - pos_);
        pos_ = size_;
        return out;
    }

    // Everything not yet taken, cut at the first NUL: what a C caller would
    // pass as a text.
    std::string rest_text() {
        std::string out = rest();
        out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// The text cut into lines at '\n' (the line feeds dropped).
inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A heap copy of exactly the given bytes, so that AddressSanitizer reports
// any access one byte past them.
inline char *exact_copy(std::string_view bytes) {
    char *copy = static_cast<char *>(std::malloc(bytes.size() + 1));
    if (copy == nullptr) std::abort();
    std::copy(bytes.begin(), bytes.end(), copy);
    copy[bytes.size()] = '\0';
    return copy;
}

}  // namespace velmora_fuzz

#endif
