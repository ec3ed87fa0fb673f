#include "velmora/urldecode.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// Escape digits are not validated: a non-digit counts as tolower of it
// minus 87, which gives 10 to 15 for a-f and A-F and some value for others.
int escape_digit_value(char c)
{
    auto byte = static_cast<unsigned char>(c);
    if (std::isdigit(byte))
        return byte - '0';
    return std::tolower(byte) - 87;
}

} // namespace

extern "C" {

char *qxurldecode(const char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    std::size_t len = std::strlen(str);
    auto *decoded = static_cast<char *>(std::malloc(len + 1));
    if (decoded == nullptr)
        return nullptr;
    char *out = decoded;
    for (std::size_t i = 0; i < len;) {
        char c = str[i];
        if (c == '+') {
            *out++ = ' ';
            i++;
        } else if (c != '%') {
            *out++ = c;
            i++;
        } else if (i + 2 < len) {
            int value = escape_digit_value(str[i + 1]) * 16 | escape_digit_value(str[i + 2]);
            *out++ = static_cast<char>(value & 0xFF);
            i += 3;
        } else {
            // A '%' too near the end for an escape is dropped; what follows it
            // is read as ordinary text.
            i++;
        }
    }
    *out = '\0';
    return decoded;
}

} // extern "C"
