/* URL lists. Token hashing: hashes of token texts and their 16-digit hash
 * strings. */
#ifndef VELMORA_URLLIST_H
#define VELMORA_URLLIST_H

#include "velmora/defs.h"
#include "velmora/urllist_explode.h"

#ifdef __cplusplus
extern "C" {
#endif

/* hash = CityHash64 of the len bytes at token (no terminator, no case
 * change): 0, or -1 (nothing read) for a NULL hash, a negative len or a NULL
 * token with len above 0. */
int urllist_hash(const char *token, int len, myhash_t *hash) VELMORA_NOEXCEPT;
/* Reads a hash string of exactly 16 characters, two per byte in the value's
 * memory order (least significant byte first): 0, or -1 when len is not 16
 * (hash set to 0) or a character lies outside '0'..'f' (earlier bytes stay
 * written). */
int urllist_str2hash(const char *hashstr, int len, myhash_t *h) VELMORA_NOEXCEPT;
/* Writes the hash string of h (16 lower-case digits and a NUL) into hashstr:
 * 0, or -1 with nothing written when len is below 17. */
int urllist_hash2str(const myhash_t *h, char *hashstr, int len) VELMORA_NOEXCEPT;
/* qsort/bsearch order of two myhash_t values: signed comparison of city,
 * -1, 0 or 1. */
int urllist_hash_compare(const void *a, const void *b) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
