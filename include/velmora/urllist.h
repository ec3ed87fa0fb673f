/* URL lists: the store of list entries (a tree of hashed tokens with shared
 * result records), query patterns, URL digests, the list dump and token
 * hashing. */
#ifndef VELMORA_URLLIST_H
#define VELMORA_URLLIST_H

#include <regex.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "velmora/defs.h"
#include "velmora/extlist.h"
#include "velmora/iplist.h"
#include "velmora/keywordlist.h"
#include "velmora/rwlock.h"
#include "velmora/urllist_action.h"
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

/* ---- The store ---- */

/* URLLIST.flags */
#define URLLIST_LOCKING 1    /* the list has a lock; adds and lookups take it */
#define URLLIST_NO_DEFAULT 2 /* lookups never answer with default_data */

/* Slots of the event-type table (policy event numbers 0..8). */
#define URLLIST_EVENT_TYPES 9

/* Which subtree of a node is one level taller. */
typedef enum UL_DISBALANCE {
    ULD_LOW = 0,
    ULD_NONE = 1,
    ULD_HIGH = 2
} UL_DISBALANCE;

/* Query index of one node and one case mode; its layout is private to the
 * library. */
typedef struct URLLIST_QUERY_TREE URLLIST_QUERY_TREE;

/* One node of the token tree. Siblings (the tokens that may follow one
 * node) form a height-balanced tree linked through parent/high/low. */
typedef struct URLLIST_ITEM {
    myhash_t hash;                  /* token hash; 0 for IP-address nodes */
    struct URLLIST_ITEM *parent;    /* within the sibling tree; NULL at its top */
    struct URLLIST_ITEM *high;      /* smaller hashes */
    struct URLLIST_ITEM *low;       /* greater hashes; links the ipitems chain */
    struct URLLIST_ITEM *child;     /* sibling tree of the next token */
    struct URLLIST_ITEM *nocase_child; /* first case-insensitive path segment */
    struct URLLIST_ITEM *wildcard_child; /* matches any next token */
    URLLIST_ITEM_DATA *data;        /* result of the entry that ends here */
    URLLIST_QUERY_TREE *queryhead;  /* case-sensitive query patterns */
    URLLIST_QUERY_TREE *queryhead_nocase;
    UL_DISBALANCE disbalance;
    UrlPart itemtype;
    int16_t nocase;                 /* made for a case-insensitive entry */
    uint16_t port_lower, port_upper; /* UP_PORT nodes only */
    char item[1]; /* token text of port and IP-address nodes (allocated to
                   * fit), empty otherwise */
} URLLIST_ITEM;

/* One regular-expression entry (malloc'ed; the list frees it). */
typedef struct URLLIST_RE_ITEM {
    struct URLLIST_RE_ITEM *next;
    URLLIST_ITEM_DATA *data; /* owned alone, refcount not used */
    regex_t exp;
    int nocase;
    char *strexp; /* owned (malloc) copy of the expression as compiled */
} URLLIST_RE_ITEM;

/* The digest entries; layout private to the library. */
typedef struct urllist_digest_tree urllist_digest_tree;
/* The per-scheme IP lists keyed by hash string; layout private. */
typedef struct urllist_iplist_map urllist_iplist_map;

typedef void (*urllist_addcallback_fn)(void *func_data, URLLIST_EXPLODED_URL *urlinfo);
typedef int (*urllist_add_action_callback_fn)(void *func_data, URLLIST_ITEM_DATA *data);
typedef void (*urllist_delete_data_fn)(void *data);

typedef struct URLLIST {
    URLLIST_ITEM root;       /* host tree */
    URLLIST_ITEM path_root;  /* path-only entries */
    URLLIST_ITEM query_root; /* query-only entries */
    URLLIST_RE_ITEM *regexp, *regexp_tail; /* in load order */
    EXTLIST_TABLE *ext_list;
    KEYWORDLIST_TABLE *keyword_list;
    urllist_digest_tree *digest_list;
    URLLIST_ITEM_DATA *default_data;
    URLLIST_ITEM_DATA **event_types_data; /* URLLIST_EVENT_TYPES slots */
    int flags;
    int loaded_count, total_count;
    int loaded_url_count, total_url_count;
    int loaded_scheme_count, total_scheme_count;
    int loaded_path_count, total_path_count;
    int loaded_query_count, total_query_count;
    int loaded_regexp_count, total_regexp_count;
    int loaded_ext_count, total_ext_count;
    int loaded_keyword_count, total_keyword_count;
    int loaded_multi_keyword_count, total_multi_keyword_count;
    int loaded_word_count, total_word_count;
    int loaded_multi_word_count, total_multi_word_count;
    int loaded_digest_count, total_digest_count;
    int loaded_eventtype_count, total_eventtype_count;
    urllist_iplist_map *iplists;
    iphead *wildcard_iplist;
    URLLIST_ITEM *ipitems; /* every IP-address node, chained through low */
    rwlock_t lock;         /* initialised only with URLLIST_LOCKING */
    urllist_addcallback_fn addcallback;
    void *addcallback_data;
    urllist_add_action_callback_fn add_action_callback;
    void *add_action_callback_data;
    urllist_delete_data_fn delete_data; /* kept for the caller, never called */
    CHARSET *charset_data;
} URLLIST;

/* Creation: NULL when out of memory. A list is made only by these calls and
 * released only by urllist_terminate (the library keeps private state beside
 * the structure). */
URLLIST *urllist_initialize(int flags) VELMORA_NOEXCEPT;
URLLIST *urllist_with_extra_initialize(int flags, urllist_delete_data_fn delete_data,
                                       const char *charset) VELMORA_NOEXCEPT;
URLLIST *urllist_with_data_initialize(int flags, urllist_delete_data_fn delete_data) VELMORA_NOEXCEPT;
URLLIST *urllist_with_charset_initialize(int flags, const char *charset) VELMORA_NOEXCEPT;
/* Releases the list and everything it holds; NULL is accepted. */
void urllist_terminate(URLLIST *l) VELMORA_NOEXCEPT;

void urllist_set_addcallback(URLLIST *l, urllist_addcallback_fn func, void *func_data) VELMORA_NOEXCEPT;
void urllist_set_add_action_callback(URLLIST *l, urllist_add_action_callback_fn func,
                                     void *func_data) VELMORA_NOEXCEPT;
URLLIST_ITEM_DATA *urllist_get_default_data(const URLLIST *l) VELMORA_NOEXCEPT;

/* A result record with refcount 0 (malloc); NULL when out of memory. */
URLLIST_ITEM_DATA *urllist_new_urllist_item_data(int32_t ttl, UrlAction action, void *action_data) VELMORA_NOEXCEPT;
/* Releases action data and record regardless of refcount (records owned by
 * one holder outside the trees); NULL is accepted. */
void urllist_destroy_item_data(URLLIST_ITEM_DATA *data) VELMORA_NOEXCEPT;

/* A node for a token (flags: URLLIST_EXPLODE_NOCASE, URLLIST_EXPLODE_HASHED);
 * NULL for a NULL token or when out of memory. */
URLLIST_ITEM *urllist_new_urllist_item(const char *token, UrlPart type, int flags) VELMORA_NOEXCEPT;
/* A node for an IP entry: text kept, hash 0. */
URLLIST_ITEM *urllist_new_urllist_nohashed_item(const char *token, UrlPart type, int flags) VELMORA_NOEXCEPT;
/* Releases the node, its siblings below it, its subtrees, their patterns and
 * their result references. NULL is accepted. */
void urllist_terminate_urllist_item(URLLIST_ITEM *i) VELMORA_NOEXCEPT;
/* Releases only the node's query indexes and result reference. */
void urllist_terminate_urllist_item_data(URLLIST_ITEM *i) VELMORA_NOEXCEPT;
/* The IP-list trie's value destructor (iplist_terminate). */
void urllist_iplist_terminate(void *iplist) VELMORA_NOEXCEPT;

/* Lays the tokens of urlinfo from index a below node i and attaches data
 * where they end (see the loader for overwrite and cloned). 0, or 1 when a
 * node cannot be made, the sequence is empty or an argument is NULL.
 * Lists keep a private hash index of their large sibling trees, which the
 * loader maintains; as this call does not know the list i belongs to, it
 * switches off the index of every list that exists (their lookups then
 * search the trees, with the same answers, more slowly). */
int urllist_add_to_tree(URLLIST_ITEM *i, URLLIST_EXPLODED_URL *urlinfo, int a, URLLIST_ITEM_DATA *data,
                        int overwrite, int cloned, int flags) VELMORA_NOEXCEPT;
/* Stores through up a copy of the subtree at i (NULL copies nothing): every
 * node reached through low, high, child, nocase_child and wildcard_child,
 * sharing the records and copying the query patterns. 0, or -1 when out of
 * memory (nothing is stored and nothing leaks). */
int urllist_clone_urllist_item(const URLLIST_ITEM *i, URLLIST_ITEM **up) VELMORA_NOEXCEPT;

/* ---- Query patterns ---- */

/* URLLIST_QUERY_ITEM.flags */
#define URLLIST_QUERY_DUPLICATES 1 /* an element text occurs more than once */
#define URLLIST_QUERY_NOCASE 2
#define URLLIST_QUERY_ANCHORED 4   /* the entry's query came from a '#' fragment */

typedef struct URLLIST_QUERY_ITEM {
    int flags;
    int names;                 /* elements that are a bare name */
    char **querydata;          /* element texts while building; NULL once stored */
    myhash_t *hash;            /* queryelements full-element hashes */
    myhash_t *name_hash;       /* queryelements name hashes */
    size_t queryelements;
    URLLIST_ITEM_DATA *data;
} URLLIST_QUERY_ITEM;

URLLIST_QUERY_TREE *urllist_new_urllist_query_tree(void) VELMORA_NOEXCEPT;
/* Releases the index and its items (with their result references). */
void urllist_terminate_query_tree(URLLIST_QUERY_TREE *t) VELMORA_NOEXCEPT;
/* A pattern from a query text (flags: 1 case-insensitive, 2 hash strings);
 * NULL when the text has no element or memory runs out. */
URLLIST_QUERY_ITEM *urllist_new_urllist_query_item(const char *querystring, int flags) VELMORA_NOEXCEPT;
/* Releases the item and drops its result reference. */
void urllist_terminate_query_item(URLLIST_QUERY_ITEM *q) VELMORA_NOEXCEPT;
/* Stores the pattern on node i (or finds the equal stored one). */
URLLIST_QUERY_ITEM *urllist_query_add(URLLIST_EXPLODED_URL *urlinfo, const char *querystring, URLLIST_ITEM *i,
                                      int flags) VELMORA_NOEXCEPT;
/* The first pattern of querytree that the URL's query elements satisfy, or
 * NULL. flags bit 1: use the case-insensitive element lists; exact_match:
 * full elements only. */
URLLIST_QUERY_ITEM *urllist_query_lookup(URLLIST_EXPLODED_URL *urlinfo, URLLIST_QUERY_TREE *querytree, int flags,
                                         int exact_match) VELMORA_NOEXCEPT;
/* Splits token in place at '&', '?' and '#': a malloc'ed NULL-terminated
 * array of the non-empty elements (at most 4999, the last keeping the rest),
 * their number through queryelements; NULL when there are none. */
char **urllist_query_parse(char *token, size_t *queryelements) VELMORA_NOEXCEPT;
/* The URL's query element lists (texts, full and name hashes), built once per
 * record; NULL when the URL has no query elements or memory runs out. */
char **urllist_get_query_list(URLLIST_EXPLODED_URL *urlinfo) VELMORA_NOEXCEPT;
/* The same, lower-cased, into the _nocase lists. */
char **urllist_get_nocase_query_list(URLLIST_EXPLODED_URL *urlinfo) VELMORA_NOEXCEPT;
/* Order of the per-element index: -1 when *a > *b, 0 equal, 1 otherwise. */
int urllist_query_cmp(const void *a, const void *b) VELMORA_NOEXCEPT;
/* Item lists keep insertion order: always 0. */
int urllist_query_item_compare(const void *a, const void *b) VELMORA_NOEXCEPT;
/* Copies item's patterns (sharing their records) onto newitem: 0 or -1. */
int urllist_clone_urllist_item_query(const URLLIST_ITEM *item, URLLIST_ITEM *newitem) VELMORA_NOEXCEPT;

/* ---- Digests ---- */

/* Length of a SHA-1 digest; a digest key is one length byte and the bytes. */
#define URLLIST_DIGEST_MAX 254

/* Order of digest keys (qsort style). */
int urllist_cmp_digest(const void *a, const void *b) VELMORA_NOEXCEPT;
/* The URL's digest key (computed once and kept in urlinfo->digest), or NULL. */
unsigned char *urllist_make_digest(URLLIST_EXPLODED_URL *urlinfo) VELMORA_NOEXCEPT;
/* The record stored for the URL's digest, or NULL. With listitem and a record
 * found, *listitem receives the digest as lower-case hexadecimal (malloc). */
URLLIST_ITEM_DATA *urllist_digest_lookup(const URLLIST *l, URLLIST_EXPLODED_URL *urlinfo,
                                         char **listitem) VELMORA_NOEXCEPT;

/* ---- List dump (standard output; one dump at a time) ---- */

#define URLLIST_DUMP_STACK_SIZE 8192
#define URLLIST_DUMP_BUFFER_SIZE 16384

typedef struct stack_node {
    int idx;            /* text position to return to */
    URLLIST_ITEM *item;
} stack_node;

/* Prints every result of the host tree with hash strings for the tokens. */
void urllist_dump(const URLLIST *l) VELMORA_NOEXCEPT;
/* The stack entry, or NULL when the stack is full. */
stack_node *urllist_dump_push(URLLIST_ITEM *item) VELMORA_NOEXCEPT;
/* The item (text position restored), or NULL when the stack is empty. */
URLLIST_ITEM *urllist_dump_pop(void) VELMORA_NOEXCEPT;
void urllist_dump_node(const URLLIST_ITEM *item) VELMORA_NOEXCEPT;
void urllist_dump_dump_buffer(void) VELMORA_NOEXCEPT;

/* ---- Loading entries ----
 * Adds return 0 (added, or a duplicate keyword, event type or digest that is
 * ignored), -1 a required argument is NULL, -2 out of memory or a failed
 * line, -3 an undecomposable pattern, a non-hexadecimal digest or an IP list
 * error, -4 the file cannot be opened, -5 a bad regular expression, -6 an
 * unknown entry type, -7 / -8 the extension / keyword list refused the entry,
 * -9 an unknown action, bad action argument or unknown event name.
 * hint (0..5) selects how lines without an explicit action are read. */

/* Loads every line of the file (empty and '#' lines skipped). */
int urllist_add_file(URLLIST *l, const char *file, int hint) VELMORA_NOEXCEPT;
/* Appends newbuf to the caller's malloc'ed *buffer (made when NULL; it always
 * holds at least *bufferSize + 1 bytes) and loads every complete line; the
 * unfinished rest is kept at the start of *buffer for the next call. */
int urllist_add_buffer(URLLIST *l, const char *newbuf, char **buffer, int *bufferSize, int hint) VELMORA_NOEXCEPT;
/* Loads one line of up to four space-separated fields; the line is cut in
 * place. A failing entry is reported and the line still yields 0. */
int urllist_add_line(URLLIST *l, char *line, int hint) VELMORA_NOEXCEPT;
/* One entry with an action word and its argument text (write lock held). */
int urllist_add(URLLIST *l, const char *url, const char *type, const char *act, const char *args,
                int32_t ttl) VELMORA_NOEXCEPT;
/* One entry whose result is the caller's pointer, kept as action_data with
 * UA_NONE (never freed by the list). */
int urllist_add_data(URLLIST *l, const char *url, const char *type, void *data, int32_t ttl) VELMORA_NOEXCEPT;
/* One entry with a copy of the category set (an empty set for NULL); the
 * last argument is not used. */
int urllist_add_category(URLLIST *l, const char *url, const char *type, const cat_t *cat, int32_t ttl,
                         void *data) VELMORA_NOEXCEPT;
/* One entry with the category list text of a list line. */
int urllist_add_category_string(URLLIST *l, const char *item, const char *categories) VELMORA_NOEXCEPT;
/* The common path of the adds (no locking): makes the result record, which
 * takes action_data over (released on failure), and dispatches by type. */
int urllist_add_internal(URLLIST *l, const char *item, const char *type, UrlAction action, void *action_data,
                         int32_t ttl) VELMORA_NOEXCEPT;
/* Per-kind adds, run under the caller's lock. urllist_add_url takes the
 * record over (released when no tree slot holds it); the others leave a
 * record they did not store to the caller. */
int urllist_add_url(URLLIST *l, const char *item, const char *type, URLLIST_ITEM_DATA *data,
                    int flags) VELMORA_NOEXCEPT;
int urllist_add_regexp(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data, int nocase) VELMORA_NOEXCEPT;
int urllist_add_ext(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) VELMORA_NOEXCEPT;
int urllist_add_keyword(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data, const char *type) VELMORA_NOEXCEPT;
int urllist_add_digest(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) VELMORA_NOEXCEPT;
int urllist_add_eventtype(URLLIST *l, const char *item, URLLIST_ITEM_DATA *data) VELMORA_NOEXCEPT;
/* A new IP list stored under the scheme's hash string, or NULL. */
iphead *urllist_add_iplist_for_scheme(URLLIST *l, const char *scheme) VELMORA_NOEXCEPT;

/* ---- Looking URLs up ----
 * Public lookups return 0 when an entry was found (its record stored through
 * ret_data when not NULL; it stays owned by the list) and 1 when nothing
 * matched or an argument is NULL. With URLLIST_LOCKING they hold the read
 * lock for their whole work. A diagnostic lookup that finds something stores
 * the matched entry's text (malloc) through listurl. */
int urllist_lookup_data(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data) VELMORA_NOEXCEPT;
/* As urllist_lookup_data without touching the lock (the caller holds it). */
int urllist_lookup_data_unlocked(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo,
                                 URLLIST_ITEM_DATA **ret_data) VELMORA_NOEXCEPT;
/* Host tree and IP lists only. */
int urllist_lookup_data_urlonly(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo,
                                URLLIST_ITEM_DATA **ret_data) VELMORA_NOEXCEPT;
int urllist_lookup_diag(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data,
                        char **listurl) VELMORA_NOEXCEPT;
int urllist_lookup_diag_urlonly(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, URLLIST_ITEM_DATA **ret_data,
                                char **listurl) VELMORA_NOEXCEPT;
/* 0 only when the entry found is a category entry; its numbers are merged
 * into cat_buff. */
int urllist_lookup_category(URLLIST *l, URLLIST_EXPLODED_URL *urlinfo, cat_t *cat_buff) VELMORA_NOEXCEPT;
/* Keywords, regular expressions and the default for a plain text. When
 * *nocase_str is a text it is the lower-cased subject; when nocase_str points
 * at NULL the lower-cased copy made here is handed over (the caller frees
 * it). */
int urllist_lookup_string_data(URLLIST *l, const char *str, char **nocase_str,
                               URLLIST_ITEM_DATA **ret_data) VELMORA_NOEXCEPT;
int urllist_lookup_string_diag(URLLIST *l, const char *str, char **nocase_str, URLLIST_ITEM_DATA **ret_data,
                               char **listurl) VELMORA_NOEXCEPT;
/* The event-type record of policy event index (0..8). */
int urllist_lookup_num_data(URLLIST *l, int index, URLLIST_ITEM_DATA **data) VELMORA_NOEXCEPT;
int urllist_lookup_num_diag(URLLIST *l, int index, URLLIST_ITEM_DATA **data, char **listurl) VELMORA_NOEXCEPT;

/* Building blocks of the lookups (no locking). */
/* The tree walk from root (NULL: the host tree with the IP lists) starting at
 * start_token (NULL: the URL's first token): the record or NULL. */
URLLIST_ITEM_DATA *urllist_url_lookup(const URLLIST *l, URLLIST_ITEM *root, URLLIST_EXPLODED_URL *urlinfo,
                                      URLLIST_TOKEN *start_token, char **listurl) VELMORA_NOEXCEPT;
/* The first live regular expression matching str (case-sensitive ones) or
 * nocase_str (case-insensitive ones), or NULL. */
URLLIST_ITEM_DATA *urllist_regexp_lookup(const URLLIST *l, const char *str, const char *nocase_str,
                                         char **listurl) VELMORA_NOEXCEPT;
/* The token's lower-cased text (sets its nocase_hash); scheme, host and port
 * tokens keep their own text and hash. */
const char *urllist_get_nocase_url(URLLIST_EXPLODED_URL *urlinfo, URLLIST_TOKEN *token) VELMORA_NOEXCEPT;
/* offset = index of the first path token (domains_num + 2), number =
 * paths_num: 1 when the URL has no path tokens, else 0. */
int urllist_parent_url_path_offset_number(const URLLIST_EXPLODED_URL *info, int *offset, int *number) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
