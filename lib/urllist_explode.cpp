// URL decomposition: one private copy of the URL is cut in place into scheme,
// host labels, port, path segments and query, and each piece becomes a hashed
// token.
#include "velmora/urllist_explode.h"

#include <arpa/inet.h>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <idna.h>
#include <stringprep.h>

#include "internal/exploded_url_caches.h"
#include "velmora/urllist.h"

extern "C" {
const char wildcard[] = "*";
const myhash_t wildcard_hash = {0x33585596d7f9915bLL};
}

namespace {

constexpr myhash_t http_hash = {static_cast<int64_t>(0x95d6bc6a71fa4d44ULL)};
constexpr myhash_t https_hash = {static_cast<int64_t>(0x0c3f1153d4a46546ULL)};

constexpr int max_domain_segments = 1000;
constexpr int max_path_segments = 5000;

constexpr char any_port_text[] = "0-65535";
constexpr int any_port = -1;
constexpr int http_port = 80;
constexpr int https_port = 443;

// qxnet_ntohost needs 47 bytes for the longest IPv6 text, 2 for its brackets.
constexpr uint32_t address_host_room = 49;

// An IPv4 address a.b.c.d as it lies in memory in network byte order.
constexpr uint32_t network_order(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    if constexpr (std::endian::native == std::endian::little)
        return uint32_t{a} | uint32_t{b} << 8 | uint32_t{c} << 16 | uint32_t{d} << 24;
    else
        return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | uint32_t{d};
}

constexpr urllist_privateips privateIP[] = {
    {network_order(192, 168, 0, 0), network_order(255, 255, 0, 0)},
    {network_order(10, 0, 0, 0), network_order(255, 0, 0, 0)},
    {network_order(172, 16, 0, 0), network_order(255, 240, 0, 0)},
    {network_order(169, 254, 0, 0), network_order(255, 255, 0, 0)},
    {network_order(127, 0, 0, 0), network_order(255, 0, 0, 0)},
};

constexpr unsigned ip6_sitelocal = 0xfe80;
constexpr unsigned ip6_uniquelocal = 0xfc;
constexpr unsigned char ip6_ipv4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr unsigned char ip6_loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

bool is_private_ipv4(uint32_t address)
{
    for (const urllist_privateips &row : privateIP)
        if ((address & row.subnet) == row.ip)
            return true;
    return false;
}

// Bit tests, not prefix lengths: every address whose first byte is 0xfc or
// above counts as local.
bool is_private_ipv6(const unsigned char *bytes)
{
    if (std::memcmp(bytes, ip6_loopback, sizeof ip6_loopback) == 0)
        return true;
    unsigned first16 = static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
    if ((first16 & ip6_sitelocal) == ip6_sitelocal)
        return true;
    if ((bytes[0] & ip6_uniquelocal) == ip6_uniquelocal)
        return true;
    if (std::memcmp(bytes, ip6_ipv4, sizeof ip6_ipv4) == 0) {
        uint32_t mapped;
        std::memcpy(&mapped, bytes + sizeof ip6_ipv4, sizeof mapped);
        return is_private_ipv4(mapped);
    }
    return false;
}

// The C library's tolower for the calling thread's locale, looked up once per
// text instead of once per character.
class LowerCase {
public:
    char operator()(char c) const
    {
#ifdef __GLIBC__
        return static_cast<char>(table_[static_cast<unsigned char>(c)]);
#else
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    }

private:
#ifdef __GLIBC__
    const int32_t *table_ = *__ctype_tolower_loc();
#endif
};

void lowercase_in_place(char *text)
{
    LowerCase lower;
    for (; *text != '\0'; text++)
        *text = lower(*text);
}

void mark_category(cat_t *cats, uint32_t number)
{
    if (cats == nullptr)
        return;
    category_clear(cats);
    category_add_number(cats, number);
}

// Pieces of text cut in place: `count` NUL-separated pieces starting at
// `first`; `filled` of them are non-empty. The last piece ends at a NUL too.
struct CutText {
    char *first = nullptr;
    int count = 0;
    int filled = 0;
};

// Everything learnt while scanning; the record itself receives the fields
// callers see.
struct Decomposition {
    Decomposition(URLLIST_EXPLODED_URL *record, bool list, int explode_flags)
        : rec(record), list_mode(list), flags(explode_flags)
    {
    }

    URLLIST_EXPLODED_URL *rec;
    bool list_mode;
    int flags;
    bool has_scheme = false;
    char *cursor = nullptr;
    char *host = nullptr;
    char *port = nullptr;
    char *path = nullptr;
    char *query = nullptr;
    bool authority_ended_by_slash = false;
    CutText labels;
    CutText segments;
};

int32_t offset_in_copy(const Decomposition &d, const char *p)
{
    return static_cast<int32_t>(p - d.rec->mangledURL);
}

// A '?' or '#' at p: what follows (if anything) is the query, for '#' too.
// List entries also record the anchor: all of a fragment, or the '#' inside
// a query.
void take_query(Decomposition &d, char *p)
{
    char mark = *p;
    *p = '\0';
    if (p[1] != '\0')
        d.query = p + 1;
    if (!d.list_mode)
        return;
    if (mark == '#')
        d.rec->anchor = d.query;
    else
        d.rec->anchor = d.query != nullptr ? std::strchr(d.query, '#') : nullptr;
}

// The first "://". In a list entry a "://" after a '/' or '?' belongs to a
// URL inside the path or query, so the entry has no scheme.
char *find_scheme_separator(char *text, bool list_mode)
{
    for (char *p = text; *p != '\0'; p++) {
        if (*p == ':' && p[1] == '/' && p[2] == '/')
            return p;
        if (list_mode && (*p == '/' || *p == '?'))
            return nullptr;
    }
    return nullptr;
}

bool take_scheme(Decomposition &d)
{
    char *copy = d.rec->mangledURL;
    char *separator = find_scheme_separator(copy, d.list_mode);
    if (separator == nullptr) {
        if (!d.list_mode)
            return false;
        d.rec->scheme = wildcard;
        d.rec->scheme_hash = wildcard_hash;
        d.cursor = copy;
        return true;
    }
    *separator = '\0';
    if ((d.flags & URLLIST_EXPLODE_NOCASE) == 0)
        lowercase_in_place(copy);
    int scheme_len = static_cast<int>(separator - copy);
    if (d.flags & URLLIST_EXPLODE_HASHED)
        urllist_str2hash(copy, scheme_len, &d.rec->scheme_hash);
    else
        urllist_hash(copy, scheme_len, &d.rec->scheme_hash);
    d.rec->scheme = copy;
    d.has_scheme = true;
    d.cursor = separator + 3;
    return true;
}

// User information, host (bracketed or not) and port, up to the '/', '?' or
// '#' that ends the authority.
void scan_authority(Decomposition &d)
{
    URLLIST_EXPLODED_URL *rec = d.rec;
    d.host = d.cursor;
    for (char *p = d.cursor;; p++) {
        switch (*p) {
        case '\0':
            rec->host_url_length = offset_in_copy(d, p);
            return;
        case '@':
            rec->userinfo = d.host;
            *p = '\0';
            d.host = p + 1;
            d.port = nullptr;
            break;
        case '[': {
            d.host = p + 1;
            char *close = std::strchr(p + 1, ']');
            if (close == nullptr) {
                rec->host_url_length = offset_in_copy(d, p + 1 + std::strlen(p + 1));
                return;
            }
            *close = '\0';
            rec->hostHasBrackets = 1;
            p = close;
            break;
        }
        case ':':
            *p = '\0';
            d.port = p + 1;
            break;
        case '/':
            *p = '\0';
            d.path = p + 1;
            d.authority_ended_by_slash = true;
            rec->host_url_length = offset_in_copy(d, p);
            return;
        case '?':
        case '#':
            rec->host_url_length = offset_in_copy(d, p);
            take_query(d, p);
            return;
        default:
            break;
        }
    }
}

void classify_address(Decomposition &d, cat_t *cats)
{
    URLLIST_EXPLODED_URL *rec = d.rec;
    struct in_addr v4;
    if (inet_aton(d.host, &v4) != 0) {
        rec->ip.family = AF_INET;
        rec->ip.addr.ip = v4.s_addr;
    } else if (inet_pton(AF_INET6, d.host, &rec->ip.addr.ip6) == 1) {
        rec->ip.family = AF_INET6;
    } else {
        return;
    }
    mark_category(cats, URLLIST_CATEGORY_IP_URL);
    rec->isIP = 1;
    rec->isPrivateIP = static_cast<uint8_t>(urllist_isPrivateIP(&rec->ip));
}

// Splits a host name at its dots and lower-cases it, up to the label limit:
// the last allowed label keeps the rest of the name as it is. Returns where
// the splitting stopped.
char *split_labels(char *text, CutText &labels)
{
    labels.first = text;
    labels.count = 1;
    LowerCase lower;
    char *start = text;
    char *p = text;
    for (; *p != '\0'; p++) {
        if (*p != '.') {
            *p = lower(*p);
            continue;
        }
        *p = '\0';
        labels.filled += p > start;
        start = p + 1;
        if (++labels.count == max_domain_segments) {
            p = start;
            break;
        }
    }
    labels.filled += *start != '\0';
    return p;
}

// Splits the host into labels; false when the URL must be refused.
bool take_host_labels(Decomposition &d, const CHARSET *charset_data)
{
    URLLIST_EXPLODED_URL *rec = d.rec;
    char *host = d.host;
    int32_t host_offset = offset_in_copy(d, host);
    rec->host = rec->url + host_offset;
    if (*host == '\0') {
        rec->host_length = 0;
        // A list entry may leave the host out unless a scheme and a path
        // (even an empty one) surround the empty host.
        return d.list_mode && (!d.authority_ended_by_slash || !d.has_scheme);
    }
    if (rec->isIP) {
        d.labels = {host, 1, 1};
        rec->host_length = static_cast<int32_t>(std::strlen(host));
        return true;
    }
    if (charset_data != nullptr)
        urllist_idntoascii(host, rec, charset_data);
    if (rec->asciihost != nullptr) {
        split_labels(rec->mangled_asciihost, d.labels);
        rec->host = rec->asciihost;
        rec->host_length = static_cast<int32_t>(std::strlen(rec->asciihost));
    } else {
        char *stop = split_labels(host, d.labels);
        rec->host_length = static_cast<int32_t>(stop - host);
    }
    // A host made only of dots has no usable label.
    return d.labels.filled > 0;
}

// Splits the path at '/' up to the segment limit; a '?' or '#' ends it and
// starts the query. The last allowed segment keeps the rest of the text
// unless it begins with '?' or '#'.
void split_segments(Decomposition &d)
{
    CutText &segments = d.segments;
    segments.first = d.path;
    segments.count = 1;
    char *start = d.path;
    for (char *p = d.path; *p != '\0'; p++) {
        if (*p == '?' || *p == '#') {
            take_query(d, p);
            break;
        }
        if (*p != '/')
            continue;
        *p = '\0';
        segments.filled += p > start;
        start = p + 1;
        if (++segments.count == max_path_segments) {
            if (*start == '?' || *start == '#')
                take_query(d, start);
            break;
        }
    }
    segments.filled += *start != '\0';
}

// A query made only of '?' and '&' carries nothing.
void trim_query(Decomposition &d)
{
    if (d.query == nullptr)
        return;
    const char *p = d.query;
    while (*p == '?' || *p == '&')
        p++;
    if (*p == '\0')
        d.query = nullptr;
}

bool scheme_is(const Decomposition &d, const char *text, myhash_t hash)
{
    if (d.flags & URLLIST_EXPLODE_HASHED)
        return d.rec->scheme_hash.city == hash.city;
    return std::strcmp(d.rec->scheme, text) == 0;
}

// The port a URL without one stands for, written into portstr.
void choose_default_port(Decomposition &d)
{
    URLLIST_EXPLODED_URL *rec = d.rec;
    const char *text = "";
    if ((d.flags & URLLIST_EXPLODE_ANY_PORT) || scheme_is(d, wildcard, wildcard_hash)) {
        text = any_port_text;
        rec->num_port = any_port;
    } else if (scheme_is(d, "http", http_hash)) {
        text = "80";
        rec->num_port = http_port;
    } else if (scheme_is(d, "https", https_hash)) {
        text = "443";
        rec->num_port = https_port;
    }
    std::strcpy(rec->portstr, text);
}

// A list entry naming the default port of http or https without a path is
// the same entry as one naming no port.
bool names_default_port(const Decomposition &d)
{
    const char *scheme = d.rec->scheme;
    return (std::strcmp(scheme, "http") == 0 && std::strcmp(d.port, "80") == 0) ||
           (std::strcmp(scheme, "https") == 0 && std::strcmp(d.port, "443") == 0);
}

// The decimal value of a port text, held to the 32-bit range: a huge number
// must not wrap around to -1, which means every port.
int32_t port_number(const char *text)
{
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The text of the port token, or NULL when the URL gets none.
const char *port_token_text(Decomposition &d)
{
    if (d.port != nullptr) {
        if (d.list_mode && d.segments.filled == 0 && names_default_port(d))
            return nullptr;
        d.rec->num_port = port_number(d.port);
        return d.port;
    }
    if (d.list_mode && (d.segments.filled == 0 || d.labels.filled == 0))
        return nullptr;
    choose_default_port(d);
    return d.rec->portstr;
}

// Hashes one token by the flags; query tokens are left for the query lookup.
void hash_token(Decomposition &d, URLLIST_TOKEN &token, size_t len)
{
    int ilen = static_cast<int>(len);
    bool hashed = d.flags & URLLIST_EXPLODE_HASHED;
    bool hashed_host = (d.flags & URLLIST_EXPLODE_HASHED_HOST) && token.type == UP_HOST;
    if (!hashed && !hashed_host) {
        urllist_hash(token.item, ilen, &token.hash);
        return;
    }
    int rc = urllist_str2hash(token.item, ilen, &token.hash);
    if (hashed && token.type == UP_PORT) {
        // A port written as a hash string has no known number; a clear port
        // (or a default one) is hashed as text.
        if (rc == 0)
            d.rec->num_port = 0;
        else
            urllist_hash(token.item, ilen, &token.hash);
    }
}

// Token texts are short: a plain loop beats a library call here.
size_t piece_length(const char *piece)
{
    const char *end = piece;
    while (*end != '\0')
        end++;
    return static_cast<size_t>(end - piece);
}

URLLIST_TOKEN *emit(Decomposition &d, URLLIST_TOKEN *slot, UrlPart type, const char *text)
{
    slot->type = type;
    slot->item = text;
    hash_token(d, *slot, piece_length(text));
    return slot + 1;
}

// Host labels go top-level label first: the k-th non-empty label from the
// start lands k places before the end of their run.
URLLIST_TOKEN *emit_labels(Decomposition &d, URLLIST_TOKEN *out)
{
    const CutText &labels = d.labels;
    URLLIST_TOKEN *slot = out + labels.filled;
    char *piece = labels.first;
    for (int i = 0; i < labels.count; i++) {
        size_t len = piece_length(piece);
        if (len > 0) {
            --slot;
            slot->type = UP_HOST;
            slot->item = piece;
            hash_token(d, *slot, len);
            if (!d.rec->isIP)
                d.rec->topLevelDomain = piece;
        }
        piece += len + 1;
    }
    d.rec->domains_num = labels.filled;
    return out + labels.filled;
}

char *extension_of(char *segment)
{
    char *dot = std::strrchr(segment, '.');
    return dot != nullptr && dot[1] != '\0' ? dot + 1 : nullptr;
}

URLLIST_TOKEN *emit_segments(Decomposition &d, URLLIST_TOKEN *out)
{
    const CutText &segments = d.segments;
    char *piece = segments.first;
    char *last = nullptr;
    for (int i = 0; i < segments.count; i++) {
        size_t len = piece_length(piece);
        if (len > 0) {
            out->type = UP_PATH;
            out->item = piece;
            hash_token(d, *out, len);
            out++;
            last = piece;
        }
        piece += len + 1;
    }
    if (segments.filled > 0) {
        d.rec->path = out - segments.filled;
        d.rec->fileExtension = extension_of(last);
    }
    d.rec->paths_num = segments.filled;
    return out;
}

bool build_tokens(Decomposition &d)
{
    URLLIST_EXPLODED_URL *rec = d.rec;
    bool with_scheme = d.has_scheme || d.labels.filled > 0;
    const char *port = port_token_text(d);
    size_t count = static_cast<size_t>(with_scheme) + static_cast<size_t>(d.labels.filled) + (port != nullptr) +
                   static_cast<size_t>(d.segments.filled) + (d.query != nullptr) + 1;
    auto *tokens = static_cast<URLLIST_TOKEN *>(std::calloc(count, sizeof(URLLIST_TOKEN)));
    if (tokens == nullptr)
        return false;
    rec->tokens = tokens;
    URLLIST_TOKEN *out = tokens;
    if (with_scheme) {
        out = emit(d, out, UP_PROTO, rec->scheme);
        out = emit_labels(d, out);
    }
    if (port != nullptr)
        out = emit(d, out, UP_PORT, port);
    out = emit_segments(d, out);
    if (d.query != nullptr) {
        out->type = UP_QUERY;
        out->item = d.query;
        rec->query = out++;
    }
    out->type = UP_NULL;
    rec->isRootURL = rec->paths_num == 0 && rec->query == nullptr;
    return true;
}

// Most lazily filled members of a record are never made: skip the call.
void release(void *block)
{
    if (block != nullptr)
        std::free(block);
}

// One block: the zeroed fixed fields and the copy of the len bytes of url.
URLLIST_EXPLODED_URL *new_record(const char *url, size_t len)
{
    auto *rec = static_cast<URLLIST_EXPLODED_URL *>(std::malloc(sizeof(URLLIST_EXPLODED_URL) + len + 1));
    if (rec == nullptr)
        return nullptr;
    std::memset(rec, 0, sizeof(URLLIST_EXPLODED_URL));
    std::memcpy(rec->mangledURL, url, len + 1);
    rec->url = url;
    rec->host = url;
    rec->length = static_cast<int32_t>(len);
    return rec;
}

enum class Outcome { done, invalid, out_of_memory };

Outcome decompose(Decomposition &d, cat_t *cats, const CHARSET *charset_data)
{
    if (d.flags & URLLIST_EXPLODE_NOCASE)
        lowercase_in_place(d.rec->mangledURL);
    if (!take_scheme(d))
        return Outcome::invalid;
    scan_authority(d);
    classify_address(d, cats);
    if (!take_host_labels(d, charset_data))
        return Outcome::invalid;
    if (d.path != nullptr)
        split_segments(d);
    trim_query(d);
    return build_tokens(d) ? Outcome::done : Outcome::out_of_memory;
}

} // namespace

extern "C" {

// Record offsets and lengths are 32-bit: a longer URL is refused as invalid
// instead of overflowing them.
URLLIST_EXPLODED_URL *urllist_explode_charset(const char *url, cat_t *cats, int not_list_url, int flags,
                                              const CHARSET *charset_data) noexcept
{
    size_t len = url != nullptr ? std::strlen(url) : 0;
    if (len == 0 || len > INT32_MAX) {
        mark_category(cats, URLLIST_CATEGORY_INVALID_URL);
        return nullptr;
    }
    URLLIST_EXPLODED_URL *rec = new_record(url, len);
    if (rec == nullptr)
        return nullptr;
    Decomposition d(rec, not_list_url == 0, flags);
    Outcome outcome = decompose(d, cats, charset_data);
    if (outcome == Outcome::done)
        return rec;
    urllist_free_urllist_exploded_url(rec);
    if (outcome == Outcome::invalid)
        mark_category(cats, URLLIST_CATEGORY_INVALID_URL);
    return nullptr;
}

URLLIST_EXPLODED_URL *urllist_explode(const char *url, cat_t *cats, int not_list_url, int flags) noexcept
{
    return urllist_explode_charset(url, cats, not_list_url, flags, nullptr);
}

URLLIST_EXPLODED_URL *urllist_new_urllist_exploded_url(const char *url) noexcept
{
    if (url == nullptr)
        return nullptr;
    size_t len = std::strlen(url);
    return len <= INT32_MAX ? new_record(url, len) : nullptr;
}

void urllist_free_urllist_exploded_url(URLLIST_EXPLODED_URL *urlinfo) noexcept
{
    if (urlinfo == nullptr)
        return;
    release(urlinfo->tokens);
    release(urlinfo->query_list);
    release(urlinfo->query_list_nocase);
    delete urlinfo->query_foundlist;
    delete urlinfo->query_tree;
    delete urlinfo->query_tree_nocase;
    release(urlinfo->nocaseMangledURL);
    release(urlinfo->nocaseURL);
    release(urlinfo->digest);
    release(urlinfo->query_hash_list);
    release(urlinfo->query_hash_list_nocase);
    release(urlinfo->query_name_hash_list);
    release(urlinfo->query_name_hash_list_nocase);
    release(urlinfo->asciihost);
    release(urlinfo->mangled_asciihost);
    std::free(urlinfo);
}

// The terminator token is UP_NULL with a NULL item, as in decomposed URLs, so
// walks that stop at either see the end.
URLLIST_EXPLODED_URL *urllist_ip_to_exploded_url(const qx_ipaddr *ip, const char *scheme) noexcept
{
    if (ip == nullptr || scheme == nullptr || (ip->family != AF_INET && ip->family != AF_INET6))
        return nullptr;
    size_t scheme_len = std::strlen(scheme);
    if (scheme_len > INT32_MAX - address_host_room)
        return nullptr;
    // The host area always has the full room that qxnet_ntohost is told of.
    auto *rec =
        static_cast<URLLIST_EXPLODED_URL *>(std::calloc(1, sizeof(URLLIST_EXPLODED_URL) + scheme_len + 1 + address_host_room));
    auto *tokens = static_cast<URLLIST_TOKEN *>(std::calloc(3, sizeof(URLLIST_TOKEN)));
    if (rec == nullptr || tokens == nullptr) {
        std::free(rec);
        std::free(tokens);
        return nullptr;
    }
    rec->tokens = tokens;
    std::memcpy(rec->mangledURL, scheme, scheme_len + 1);
    char *host = rec->mangledURL + scheme_len + 1;
    if (qxnet_ntohost(ip, host, address_host_room) == nullptr) {
        urllist_free_urllist_exploded_url(rec);
        return nullptr;
    }
    size_t host_len = std::strlen(host);
    tokens[0].type = UP_PROTO;
    tokens[0].item = rec->mangledURL;
    urllist_hash(rec->mangledURL, static_cast<int>(scheme_len), &tokens[0].hash);
    tokens[1].type = UP_HOST;
    tokens[1].item = host;
    urllist_hash(host, static_cast<int>(host_len), &tokens[1].hash);
    tokens[2].type = UP_NULL;
    rec->scheme = tokens[0].item;
    rec->scheme_hash = tokens[0].hash;
    rec->host = host;
    rec->host_length = static_cast<int32_t>(host_len);
    rec->ip = *ip;
    rec->isIP = 1;
    rec->isPrivateIP = static_cast<uint8_t>(urllist_isPrivateIP(ip));
    rec->isRootURL = 1;
    rec->hostHasBrackets = ip->family == AF_INET6;
    rec->length = static_cast<int32_t>(scheme_len + host_len + 2);
    return rec;
}

int urllist_isPrivateIP(const qx_ipaddr *ip) noexcept
{
    if (ip == nullptr)
        return 0;
    if (ip->family == AF_INET)
        return is_private_ipv4(ip->addr.ip) ? 1 : 0;
    if (ip->family == AF_INET6)
        return is_private_ipv6(ip->addr.ip6.s6_addr) ? 1 : 0;
    return 0;
}

CHARSET *urllist_init_charset(const char *charset) noexcept
{
    if (charset == nullptr)
        return nullptr;
    auto *record = static_cast<CHARSET *>(std::malloc(sizeof(CHARSET)));
    char *name = strdup(charset);
    if (record == nullptr || name == nullptr) {
        std::free(record);
        std::free(name);
        return nullptr;
    }
    record->charset = name;
    record->flags = CHARSET_IDN;
    // A prefix test: any name beginning with "UTF-8" counts as UTF-8.
    if (std::strncmp(charset, "UTF-8", 5) != 0)
        record->flags |= CHARSET_CONVERT;
    return record;
}

void urllist_free_charset(CHARSET *charset_data) noexcept
{
    if (charset_data == nullptr)
        return;
    std::free(charset_data->charset);
    std::free(charset_data);
}

void urllist_idntoascii(const char *idn_host, URLLIST_EXPLODED_URL *urlinfo, const CHARSET *charset_data) noexcept
{
    if (idn_host == nullptr || urlinfo == nullptr || charset_data == nullptr ||
        (charset_data->flags & CHARSET_IDN) == 0)
        return;
    char *converted = nullptr;
    const char *utf8_host = idn_host;
    if ((charset_data->flags & CHARSET_CONVERT) && charset_data->charset != nullptr) {
        converted = stringprep_convert(idn_host, "UTF-8", charset_data->charset);
        if (converted == nullptr)
            return;
        utf8_host = converted;
    }
    char *ascii = nullptr;
    int rc = idna_to_ascii_8z(utf8_host, &ascii, 0);
    std::free(converted);
    // Only a form that differs from the host within the host's length is kept.
    if (rc != IDNA_SUCCESS || ascii == nullptr || std::strncmp(ascii, idn_host, std::strlen(idn_host)) == 0) {
        std::free(ascii);
        return;
    }
    char *mangled = strdup(ascii);
    if (mangled == nullptr) {
        std::free(ascii);
        return;
    }
    std::free(urlinfo->asciihost);
    std::free(urlinfo->mangled_asciihost);
    urlinfo->asciihost = ascii;
    urlinfo->mangled_asciihost = mangled;
}

} // extern "C"
