/* Extension lists: file-name extensions mapped to data pointers, without
 * regard to letter case, in a fixed number of hash buckets. */
#ifndef VELMORA_EXTLIST_H
#define VELMORA_EXTLIST_H

#include <stdio.h>

#include "velmora/defs.h"
#include "velmora/file.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*extlist_free_fn)(void *data);

typedef struct EXTLIST_ITEM {
    char *item; /* owned lower-case extension */
    void *data; /* never NULL */
} EXTLIST_ITEM;

typedef struct EXTLIST_TABLE {
    int hash_count;           /* number of buckets, fixed at creation */
    extlist_free_fn free_func; /* releases an item's data at teardown; may be NULL */
    EXTLIST_ITEM **hash;      /* hash_count buckets, each ended by an item whose item is NULL;
                                 NULL when hash_count is 0 */
} EXTLIST_TABLE;

/* The data the plain file loaders store for each extension: a presence mark,
 * not a pointer to anything (so such a table needs no free function). */
#define EXTLIST_PRESENT ((void *)1)

/* A new table of hash_count buckets (a negative count is taken as 0: a table
 * that holds nothing), or NULL when memory is short. */
EXTLIST_TABLE *extlist_initialize(int hash_count, extlist_free_fn free_func) VELMORA_NOEXCEPT;
/* The bucket of str: its first bytes (at most 4, at most hash_count),
 * lower-cased, as a little-endian number modulo hash_count; 0 for an empty
 * text or no buckets. */
int extlist_create_hash(int hash_count, const char *str) VELMORA_NOEXCEPT;
/* Appends ext (lower-cased) with data: 0, or -1 for a NULL or empty ext, NULL
 * data, a NULL table or one without buckets, or lack of memory. An extension
 * added twice keeps the first data. */
int extlist_add_item(EXTLIST_TABLE *table, const char *ext, void *data) VELMORA_NOEXCEPT;
/* The data of ext (any case), or NULL. */
void *extlist_lookup(const EXTLIST_TABLE *table, const char *ext) VELMORA_NOEXCEPT;
/* As extlist_lookup; on a match *item (when item is not NULL) receives a new
 * copy of the stored extension, which the caller frees. */
void *extlist_lookup_diag(const EXTLIST_TABLE *table, const char *ext, char **item) VELMORA_NOEXCEPT;
/* Add the first space-separated field of every line with EXTLIST_PRESENT;
 * the number of extensions added. */
int extlist_add_file(EXTLIST_TABLE *table, FILE *f) VELMORA_NOEXCEPT;
int extlist_add_file_buffer(EXTLIST_TABLE *table, file_buffer *buffer) VELMORA_NOEXCEPT;
/* Adds ext with a new category set (cat_t, category.h) read from cats, a
 * comma-separated list of decimal numbers: 0, or -1 when no number was read
 * or the item could not be added. */
int extlist_add_category_item(EXTLIST_TABLE *table, const char *ext, const char *cats) VELMORA_NOEXCEPT;
/* Lines of "extension categories": the number of lines added. */
int extlist_add_category_file(EXTLIST_TABLE *table, FILE *f) VELMORA_NOEXCEPT;
int extlist_add_category_file_buffer(EXTLIST_TABLE *table, file_buffer *buffer) VELMORA_NOEXCEPT;
/* Releases the table and, through free_func, every item's data. NULL is
 * ignored. */
void extlist_terminate(EXTLIST_TABLE *table) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
