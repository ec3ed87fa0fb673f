/* Keyword lists: keywords, whole-word keywords and phrases of several words,
 * found inside a lower-cased, decoded text such as a URL. */
#ifndef VELMORA_KEYWORDLIST_H
#define VELMORA_KEYWORDLIST_H

#include <stddef.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KEYWORDLIST_TRIE_COUNT 256

/* Kinds of a phrase word reference. */
#define KWL_WORD_REQUIRED 0  /* must occur for the phrase to match */
#define KWL_WORD_CANCEL 1    /* written "!word": its occurrence cancels the phrase */
#define KWL_WORD_EXCEPTION 2 /* written "^word": required words inside it do not count */

/* Values of KEYWORDLIST_WORD.restricted. */
#define KWL_FREE 0
#define KWL_RESTRICTED 1
#define KWL_MIXED 2

typedef void (*keywordlist_free_fn)(void *data);

/* Words sharing one first byte; opaque. */
typedef struct KEYWORDLIST_TRIE KEYWORDLIST_TRIE;
/* The phrases of a table in the order they were added; opaque. */
typedef struct KEYWORDLIST_PHRASE_LIST KEYWORDLIST_PHRASE_LIST;

typedef struct KEYWORDLIST_TABLE {
    KEYWORDLIST_TRIE *keywords[KEYWORDLIST_TRIE_COUNT]; /* by first byte; NULL until used */
    int count;                                          /* distinct words stored */
    char *prefixes;                                     /* owned copies of the boundary lists, or NULL */
    char *postfixes;
    char **prefix_list;   /* owned NULL-terminated arrays of pointers into the copies */
    char **postfix_list;
    int *prefix_list_len; /* owned: length of each element */
    int *postfix_list_len;
    keywordlist_free_fn free_func;    /* releases data at teardown; may be NULL */
    KEYWORDLIST_PHRASE_LIST *phrases; /* NULL until a phrase is added */
} KEYWORDLIST_TABLE;

struct KEYWORDLIST_PHRASE;

typedef struct KWL_PHRASE_WORD {
    char type;   /* KWL_WORD_REQUIRED, KWL_WORD_CANCEL or KWL_WORD_EXCEPTION */
    int offset;  /* position among the phrase's words, from 0 */
    struct KEYWORDLIST_PHRASE *phrase;
} KWL_PHRASE_WORD;

typedef struct KEYWORDLIST_WORD {
    char *item;                 /* owned lower-case word */
    void *data;                 /* the keyword's data; NULL for a word only used by phrases */
    KEYWORDLIST_TABLE *table;
    size_t length;              /* strlen(item) */
    short restricted;           /* KWL_FREE, KWL_RESTRICTED or KWL_MIXED */
    int phrases_num;
    KWL_PHRASE_WORD *phrases;   /* owned; grown 4 entries at a time */
} KEYWORDLIST_WORD;

typedef struct KEYWORDLIST_PHRASE {
    char *item;        /* owned lower-cased phrase text as given, "+" and prefixes included */
    void *data;
    KEYWORDLIST_TABLE *table;
    char restricted;   /* 0 or 1 */
    char cancelable;   /* the phrase has a cancelling word */
    int size;          /* bytes of the record including found_words */
    int length;        /* number of required words */
    struct KEYWORDLIST_PHRASE *phrase; /* the stored phrase (itself, or the original of a working copy) */
    struct KEYWORDLIST_PHRASE *next;   /* next completed phrase of a lookup */
    int done;          /* required words still missing */
    char canceled;
    const char *skipto; /* words of this phrase starting before this text position are ignored */
    char found_words[]; /* one flag per word of the phrase */
} KEYWORDLIST_PHRASE;

/* A lookup result: a KEYWORDLIST_WORD or KEYWORDLIST_PHRASE, both of which
 * begin with these two fields. */
typedef struct KEYWORDLIST_RESULT {
    char *item;
    void *data;
} KEYWORDLIST_RESULT;

/* Returns non-zero to accept a found keyword or phrase. */
typedef int (*keywordlist_data_check_fn)(void *args, void *data, KEYWORDLIST_RESULT *result);

/* A new empty table, or NULL when memory is short. prefixes and postfixes are
 * space-separated boundary words for restricted keywords, or NULL to bound
 * restricted keywords by punctuation. */
KEYWORDLIST_TABLE *keywordlist_initialize(const char *prefixes, const char *postfixes,
                                          keywordlist_free_fn free_func) VELMORA_NOEXCEPT;
/* Adds a keyword (or, with multi set and "+" in the text, a phrase): 0 added
 * or merged, -1 out of memory (the caller keeps data), -2 the keyword already
 * has data, -3 bad input (NULL table, keyword or data, or no word). */
int keywordlist_add_keyword(KEYWORDLIST_TABLE *table, const char *keyword, void *data, int restricted,
                            int multi) VELMORA_NOEXCEPT;
/* The keyword or phrase found in url (already lower-cased and decoded), or
 * NULL. check_func may be NULL (every candidate is accepted). */
KEYWORDLIST_RESULT *keywordlist_lookup(const KEYWORDLIST_TABLE *table, const char *url,
                                       keywordlist_data_check_fn check_func, void *args) VELMORA_NOEXCEPT;
/* Destroys the table, calling free_func once for each stored data pointer.
 * NULL is ignored. */
void keywordlist_terminate(KEYWORDLIST_TABLE *t) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
