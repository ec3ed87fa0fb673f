// The text routines of qxstring that prepare text for other consumers (HTML,
// the shell) and pull values out of text.
#include "velmora/qxstring.h"

#include <cstdlib>
#include <cstring>

#include "internal/split.h"

namespace {

// Collects output bytes; without a buffer it only counts them, so one writer
// function both sizes a result exactly and then fills it.
class TextSink {
public:
    explicit TextSink(char *buffer) : buffer_(buffer) {}

    void put(char byte)
    {
        if (buffer_ != nullptr)
            buffer_[size_] = byte;
        size_++;
    }

    void put(const char *text)
    {
        while (*text != '\0')
            put(*text++);
    }

    std::size_t size() const { return size_; }

private:
    char *buffer_;
    std::size_t size_ = 0;
};

template <typename Writer>
char *build_exactly(Writer write)
{
    TextSink counter(nullptr);
    write(counter);
    auto *result = static_cast<char *>(std::malloc(counter.size() + 1));
    if (result == nullptr)
        return nullptr;
    TextSink sink(result);
    write(sink);
    result[sink.size()] = '\0';
    return result;
}

// HTML 4 character entity names of ISO 8859-1, bytes 0xA0 to 0xFE.
constexpr unsigned char kFirstLatin1Entity = 0xA0;
constexpr const char *kLatin1Entities[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
    "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
    "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn"};
constexpr std::size_t kLatin1EntityCount = sizeof(kLatin1Entities) / sizeof(kLatin1Entities[0]);
static_assert(kLatin1EntityCount == 0xFF - kFirstLatin1Entity, "0xA0 to 0xFE");

// Entity name of byte without '&' and ';', or nullptr when it is copied as is.
const char *entity_name(unsigned char byte)
{
    switch (byte) {
    case '"':
        return "quot";
    case '&':
        return "amp";
    case '<':
        return "lt";
    case '>':
        return "gt";
    default:
        break;
    }
    if (byte < kFirstLatin1Entity)
        return nullptr;
    std::size_t index = byte - kFirstLatin1Entity;
    if (index < kLatin1EntityCount)
        return kLatin1Entities[index];
    return nullptr;
}

bool is_octal(char c)
{
    return c >= '0' && c <= '7';
}

// A \x digit is taken without checking: a decimal digit is its value, any
// other character (code AND 31) + 9, which gives 10 to 15 for a-f and A-F.
int unchecked_hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return (static_cast<unsigned char>(c) & 31) + 9;
}

// The byte a one-letter escape stands for; other letters stand for themselves.
char simple_escape(char letter)
{
    switch (letter) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return letter;
    }
}

// The byte a backslash escape in quoted text stands for, or NUL when the
// backslash is to be kept.
char quoted_escape(char letter)
{
    switch (letter) {
    case '"':
    case '\'':
    case '\\':
        return letter;
    case 'a':
        return '\a';
    case 'v':
        return '\v';
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        return simple_escape(letter);
    default:
        return '\0';
    }
}

// The space that ends the piece starting at piece, outside double quotes.
// Every piece starts outside quotes, since pieces are cut only there.
char *next_unquoted_space(char *piece)
{
    bool quoted = false;
    for (char *p = piece; *p != '\0'; p++) {
        if (quoted) {
            if (*p == '\\' && p[1] != '\0')
                p++;
            else if (*p == '"')
                quoted = false;
        } else if (*p == '"') {
            quoted = true;
        } else if (*p == ' ') {
            return p;
        }
    }
    return nullptr;
}

template <typename T>
T *new_value(T value)
{
    auto *block = static_cast<T *>(std::malloc(sizeof(T)));
    if (block != nullptr)
        *block = value;
    return block;
}

} // namespace

extern "C" {

char *string_html_entities(const char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    return build_exactly([str](TextSink &out) {
        for (const char *p = str; *p != '\0'; p++) {
            const char *name = entity_name(static_cast<unsigned char>(*p));
            if (name == nullptr) {
                out.put(*p);
                continue;
            }
            out.put('&');
            out.put(name);
            out.put(';');
        }
    });
}

char *string_escapeshellarg(const char *str) noexcept
{
    if (str == nullptr)
        return build_exactly([](TextSink &) {});
    return build_exactly([str](TextSink &out) {
        out.put('\'');
        for (const char *p = str; *p != '\0'; p++) {
            if (*p == '\'')
                out.put("'\\''");
            else
                out.put(*p);
        }
        out.put('\'');
    });
}

void string_unescape_string(char *string) noexcept
{
    if (string == nullptr)
        return;
    const char *read = string;
    char *write = string;
    while (*read != '\0') {
        if (*read != '\\') {
            *write++ = *read++;
            continue;
        }
        char letter = read[1];
        if (letter == '\0')
            break;
        if (is_octal(letter)) {
            read++;
            unsigned value = 0;
            for (int digits = 0; digits < 3 && is_octal(*read); digits++)
                value = value * 8 + static_cast<unsigned>(*read++ - '0');
            *write++ = static_cast<char>(value & 0xFF);
        } else if (letter == 'x') {
            if (read[2] == '\0' || read[3] == '\0')
                break;
            *write++ = static_cast<char>((unchecked_hex_value(read[2]) * 16 + unchecked_hex_value(read[3])) & 0xFF);
            read += 4;
        } else {
            *write++ = simple_escape(letter);
            read += 2;
        }
    }
    *write = '\0';
}

char *string_extract_from_quotes(const char *data) noexcept
{
    if (data == nullptr)
        return nullptr;
    return build_exactly([data](TextSink &out) {
        for (const char *p = data; *p != '\0'; p++) {
            if (*p == '"')
                continue;
            char escaped = *p == '\\' ? quoted_escape(p[1]) : '\0';
            if (escaped != '\0') {
                out.put(escaped);
                p++;
            } else {
                out.put(*p);
            }
        }
    });
}

char **string_explode_quotes(char *str) noexcept
{
    if (str == nullptr)
        return nullptr;
    return velmora::split_in_place(str, SIZE_MAX, next_unquoted_space, nullptr);
}

char *string_security_key(void) noexcept
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
    constexpr int kKeyLength = 20;
    auto *key = static_cast<char *>(std::malloc(kKeyLength + 1));
    if (key == nullptr)
        return nullptr;
    for (int i = 0; i < kKeyLength; i++)
        key[i] = kAlphabet[random() % (sizeof(kAlphabet) - 1)];
    key[kKeyLength] = '\0';
    return key;
}

// The signed value is stored in 64 bits, so every value strtol reads on this
// platform fits. A NULL text reads as no digits.
int64_t *string_extract_number_signed(const char *data) noexcept
{
    return new_value<int64_t>(data != nullptr ? std::strtoll(data, nullptr, 10) : 0);
}

uint64_t *string_extract_long_number(const char *data) noexcept
{
    return new_value<uint64_t>(data != nullptr ? std::strtoull(data, nullptr, 10) : 0);
}

uint64_t *string_extract_number(const char *data) noexcept
{
    return string_extract_long_number(data);
}

uint32_t *string_extract_ip(char *data) noexcept
{
    char **parts = string_explode(data, '.');
    if (parts == nullptr)
        return nullptr;
    uint32_t address = 0;
    int count = 0;
    bool valid = true;
    for (; parts[count] != nullptr && valid; count++) {
        long part = std::strtol(parts[count], nullptr, 10);
        valid = count < 4 && part >= 0 && part <= 255;
        address = (address << 8) | static_cast<uint32_t>(part & 0xFF);
    }
    std::free(parts);
    if (!valid || count != 4)
        return nullptr;
    return new_value<uint32_t>(address);
}

} // extern "C"
