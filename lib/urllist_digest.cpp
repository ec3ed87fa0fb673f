// URL digests: SHA-1 of a URL with its scheme and host part lower-cased, the
// order of digest keys and the look-up of a URL's digest in a list.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>

#include "internal/urllist_store.h"

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

struct DigestContext {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    DigestContext() = default;
    DigestContext(const DigestContext &) = delete;
    DigestContext &operator=(const DigestContext &) = delete;
    ~DigestContext() { EVP_MD_CTX_free(ctx); }
};

// SHA-1 over the lower-cased prefix followed by the rest unchanged; the
// digest length (0 on failure).
unsigned int digest_url(const char *prefix, size_t prefix_len, const char *rest, size_t rest_len,
                        unsigned char *out)
{
    DigestContext digest;
    unsigned int len = 0;
    if (digest.ctx == nullptr || EVP_DigestInit_ex(digest.ctx, EVP_sha1(), nullptr) != 1 ||
        EVP_DigestUpdate(digest.ctx, prefix, prefix_len) != 1 ||
        EVP_DigestUpdate(digest.ctx, rest, rest_len) != 1 || EVP_DigestFinal_ex(digest.ctx, out, &len) != 1)
        return 0;
    return len;
}

// The key's bytes as lower-case hexadecimal (malloc), or NULL.
char *key_to_hex(const unsigned char *key)
{
    size_t n = key[0];
    auto *text = static_cast<char *>(std::malloc(2 * n + 1));
    if (text == nullptr)
        return nullptr;
    for (size_t k = 0; k < n; k++) {
        text[2 * k] = hex_digits[key[k + 1] >> 4];
        text[2 * k + 1] = hex_digits[key[k + 1] & 0x0f];
    }
    text[2 * n] = '\0';
    return text;
}

// The key (length byte, digest bytes) of the URL text, or NULL.
unsigned char *make_key(const char *url, size_t length, size_t host_part)
{
    char *prefix = static_cast<char *>(std::malloc(host_part + 1));
    if (prefix == nullptr)
        return nullptr;
    for (size_t k = 0; k < host_part; k++)
        prefix[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(url[k])));
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = digest_url(prefix, host_part, url + host_part, length - host_part, md);
    std::free(prefix);
    if (len == 0)
        return nullptr;
    if (len > URLLIST_DIGEST_MAX)
        len = URLLIST_DIGEST_MAX;
    auto *key = static_cast<unsigned char *>(std::malloc(len + 1));
    if (key == nullptr)
        return nullptr;
    key[0] = static_cast<unsigned char>(len);
    std::memcpy(key + 1, md, len);
    return key;
}

} // namespace

extern "C" {

int urllist_cmp_digest(const void *a, const void *b) noexcept
{
    const auto *x = static_cast<const unsigned char *>(a);
    const auto *y = static_cast<const unsigned char *>(b);
    if (x[0] != y[0])
        return x[0] - y[0];
    for (size_t k = 1; k <= x[0]; k++)
        if (x[k] != y[k])
            return x[k] - y[k];
    return 0;
}

unsigned char *urllist_make_digest(URLLIST_EXPLODED_URL *urlinfo) noexcept
{
    if (urlinfo == nullptr)
        return nullptr;
    if (urlinfo->digest != nullptr)
        return urlinfo->digest;
    if (urlinfo->url == nullptr || urlinfo->length < 0)
        return nullptr;
    size_t length = static_cast<size_t>(urlinfo->length);
    size_t host_part = urlinfo->host_url_length < 0 ? 0 : static_cast<size_t>(urlinfo->host_url_length);
    if (host_part > length)
        host_part = length;
    urlinfo->digest = make_key(urlinfo->url, length, host_part);
    return urlinfo->digest;
}

URLLIST_ITEM_DATA *urllist_digest_lookup(const URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, char **listitem) noexcept
{
    if (l == nullptr || l->digest_list == nullptr)
        return nullptr;
    unsigned char *key = urllist_make_digest(urlinfo);
    if (key == nullptr)
        return nullptr;
    const auto &entries = l->digest_list->entries;
    auto found = entries.find(key);
    if (found == entries.end())
        return nullptr;
    if (listitem != nullptr)
        *listitem = key_to_hex(found->first);
    return found->second;
}

} // extern "C"
