/* URL decomposition: a URL taken apart into scheme, host labels, port, path
 * segments and query, each a token with its 64-bit hash. */
#ifndef VELMORA_URLLIST_EXPLODE_H
#define VELMORA_URLLIST_EXPLODE_H

#include <stddef.h>
#include <stdint.h>

#include "velmora/category.h"
#include "velmora/common.h"
#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The hash of a token: CityHash64 of its text, or the value read from a hash
 * string. Equal when city is equal; ordered by signed comparison of city. */
typedef struct myhash_t {
    int64_t city;
} myhash_t;

typedef enum UrlPart {
    UP_PROTO = 0, /* scheme */
    UP_HOST = 1,  /* one host label, or a whole IP address */
    UP_PORT = 2,
    UP_PATH = 3,  /* one path segment */
    UP_QUERY = 4, /* the query string */
    UP_NULL = 5   /* end of the token array */
} UrlPart;

typedef struct URLLIST_TOKEN {
    myhash_t hash;        /* hash of item as computed by the decomposition */
    myhash_t nocase_hash; /* filled on demand by the lookup */
    UrlPart type;
    const char *item;     /* NUL-terminated text; NULL ends the array */
} URLLIST_TOKEN;

/* Explode flags (the flags argument); bits may be combined. */
#define URLLIST_EXPLODE_NOCASE 1      /* lower-case the whole URL first */
#define URLLIST_EXPLODE_HASHED 2      /* token texts are hash strings */
#define URLLIST_EXPLODE_HASHED_HOST 4 /* only host labels are hash strings */
#define URLLIST_EXPLODE_ANY_PORT 8    /* a missing port means every port */

/* Character-set record of a URL list. */
#define CHARSET_IDN 1     /* convert international host names to ASCII */
#define CHARSET_CONVERT 2 /* convert the host from charset to UTF-8 first */

typedef struct CHARSET {
    int flags;
    char *charset; /* owned copy of the character-set name */
} CHARSET;

/* One row of the private IPv4 networks, both values in network byte order. */
typedef struct urllist_privateips {
    uint32_t ip;
    uint32_t subnet;
} urllist_privateips;

/* Working structures of the query lookup; defined by the lookup, released
 * with the record. */
struct urllist_query_element_set;
struct urllist_query_foundlist;

typedef struct URLLIST_EXPLODED_URL {
    uint8_t isIP;
    uint8_t isPrivateIP;
    uint8_t isRootURL;
    uint8_t hostHasBrackets;
    qx_ipaddr ip;
    char *fileExtension;
    char *topLevelDomain;
    char *anchor;
    const char *scheme; /* the shared constant wildcard when the URL has none */
    myhash_t scheme_hash;
    char *userinfo;
    int32_t num_port;
    const char *url; /* the caller's text itself, not a copy */
    int32_t length;
    const char *host; /* not NUL-terminated: use host_length */
    int32_t host_length;
    int32_t host_url_length;
    int32_t domains_num;
    int32_t paths_num;
    URLLIST_TOKEN *tokens;
    URLLIST_TOKEN *query;
    URLLIST_TOKEN *path;
    struct urllist_query_element_set *query_tree;
    struct urllist_query_element_set *query_tree_nocase;
    struct urllist_query_foundlist *query_foundlist;
    char **query_list;
    char **query_list_nocase;
    myhash_t *query_hash_list;
    myhash_t *query_hash_list_nocase;
    myhash_t *query_name_hash_list;
    myhash_t *query_name_hash_list_nocase;
    size_t queryelements;
    char portstr[8];
    char *nocaseURL;
    char *nocaseMangledURL;
    unsigned char *digest;
    char *asciihost;
    char *mangled_asciihost;
    char mangledURL[]; /* private copy of the URL, split in place */
} URLLIST_EXPLODED_URL;

/* "*": the scheme of a URL written without one (recognised by the pointer). */
extern const char wildcard[];
/* CityHash64("*"). */
extern const myhash_t wildcard_hash;

/* Decomposes url in list mode (not_list_url 0) or check mode (non-zero).
 * url must outlive the record. Failures return NULL and, when cats is given,
 * mark URLLIST_CATEGORY_INVALID_URL there (not for lack of memory); an IP host
 * marks URLLIST_CATEGORY_IP_URL. Release with
 * urllist_free_urllist_exploded_url. */
URLLIST_EXPLODED_URL *urllist_explode_charset(const char *url, cat_t *cats, int not_list_url, int flags,
                                              const CHARSET *charset_data) VELMORA_NOEXCEPT;
/* urllist_explode_charset without host-name conversion. */
URLLIST_EXPLODED_URL *urllist_explode(const char *url, cat_t *cats, int not_list_url, int flags) VELMORA_NOEXCEPT;

/* A record for a bare address and scheme: scheme and host tokens only (the
 * host IPv6 text in brackets). NULL when out of memory or the family is
 * neither AF_INET nor AF_INET6. */
URLLIST_EXPLODED_URL *urllist_ip_to_exploded_url(const qx_ipaddr *ip, const char *scheme) VELMORA_NOEXCEPT;
/* A zeroed record holding a copy of url in mangledURL; url and host point at
 * the caller's text. NULL when out of memory or url is NULL. */
URLLIST_EXPLODED_URL *urllist_new_urllist_exploded_url(const char *url) VELMORA_NOEXCEPT;
/* Releases a record and everything it owns, never url. NULL is accepted. */
void urllist_free_urllist_exploded_url(URLLIST_EXPLODED_URL *urlinfo) VELMORA_NOEXCEPT;

/* 1 when the address is private or local, else 0. */
int urllist_isPrivateIP(const qx_ipaddr *ip) VELMORA_NOEXCEPT;

/* A character-set record for the name (copied): CHARSET_IDN, plus
 * CHARSET_CONVERT unless the name begins with "UTF-8". NULL for a NULL name
 * or when out of memory. */
CHARSET *urllist_init_charset(const char *charset) VELMORA_NOEXCEPT;
/* Releases a record of urllist_init_charset; NULL is ignored. */
void urllist_free_charset(CHARSET *charset_data) VELMORA_NOEXCEPT;
/* Sets asciihost and mangled_asciihost of urlinfo when the host has an ASCII
 * form different from its text; leaves them NULL on any failure. */
void urllist_idntoascii(const char *idn_host, URLLIST_EXPLODED_URL *urlinfo,
                        const CHARSET *charset_data) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
