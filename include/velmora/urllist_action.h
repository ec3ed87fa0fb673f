/* URL actions: what a caller does with a URL that matched a list entry.
 * Action words and their arguments are parsed into an action code and action
 * data, carried out on URLs, printed back in short form, tested for expiry and
 * released. */
#ifndef VELMORA_URLLIST_ACTION_H
#define VELMORA_URLLIST_ACTION_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "velmora/category.h"
#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum UrlAction {
    UA_NONE = 0,
    UA_DENY = 1,
    UA_ALLOW = 2,
    UA_CATEGORY = 3,
    UA_MODQUERY = 4,
    UA_REPLACE = 5,
    UA_REGREPLACE = 6,
    UA_TEXT = 7,
    UA_HEADER = 8,
    UA_LIST = 9,
    UA_UNKNOWN = 10, /* action word not recognised */
    UA_ERROR = 11    /* argument not valid */
} UrlAction;

/* Results of urllist_action_process_action. */
#define URLLIST_RESULT_NONE (-1)
#define URLLIST_RESULT_ALLOW 1
#define URLLIST_RESULT_DENY 2
#define URLLIST_RESULT_CATEGORY 3
#define URLLIST_RESULT_URL 4
#define URLLIST_RESULT_HEADER 5
#define URLLIST_RESULT_LIST 6

/* QModData.options */
#define QMOD_ADD_ALWAYS 1
/* QModItem.flags */
#define QMOD_REMOVE 1
#define QMOD_REMOVE_ANY 2
#define QMOD_SAME_NAME_FOLLOWS 4
/* Most items one query modification uses. */
#define QMOD_MAX_ITEMS 64

/* Shared, reference-counted result record of a list entry. */
typedef struct URLLIST_ITEM_DATA {
    uint32_t refcount; /* tree slots holding the record */
    time_t ttl;        /* expiry, seconds since the epoch; 0 or negative never */
    UrlAction action;
    void *action_data; /* owned; shape depends on action */
} URLLIST_ITEM_DATA;

typedef struct QModItem {
    int flags;        /* QMOD_REMOVE, QMOD_REMOVE_ANY, QMOD_SAME_NAME_FOLLOWS */
    int name_len;     /* 0: the item takes no part */
    int complete_len; /* length of the item's text without its +/- prefix */
    char *name;       /* into QModData.search_string */
    char *complete;   /* into QModData.add_string: name=value without prefix */
} QModItem;

typedef struct QModData {
    int num;             /* items, at most QMOD_MAX_ITEMS */
    int options;         /* QMOD_ADD_ALWAYS */
    char *search_string; /* owned: argument split at spaces, names cut at '=' */
    char *add_string;    /* owned: argument split at spaces */
    QModItem *items;     /* owned, num entries */
} QModData;

typedef struct SnRData {
    int search_len;
    int replace_len;
    char *search;  /* owned copy of the argument, cut at its first space */
    char *replace; /* into the same copy: the second field */
} SnRData;

typedef struct RegRData {
    char *regexp;  /* owned copy of the argument split at spaces; field 1 is the pattern */
    void *pattern; /* owned compiled pattern (a PCRE2 pcre2_code), opaque to callers */
    char *replace; /* into regexp: the replacement template */
    int postprocess; /* 0, or 'b' (Base64-decode the result), 'u' (URL-decode it), other: nothing */
    struct RegRData *next;
} RegRData;

typedef struct HdrData {
    int num;      /* headers */
    int size;     /* bytes of the block urllist_action_process_action hands out */
    char **lines; /* owned, num + 1 pointers into text, NULL-terminated */
    int *len;     /* owned, length of each header */
    char *text;   /* owned copy of the argument */
} HdrData;

/* Parses an action word (only its first letter, in either case, and for Q and
 * R its second letter) and its argument text. Stores the action data through
 * data and returns the action; UA_UNKNOWN and UA_ERROR store NULL. An N action
 * keeps no pointer to args: its data is NULL. */
UrlAction urllist_action_parse_action(const char *action_str, const char *args, void **data) VELMORA_NOEXCEPT;
/* Parsers of single argument forms, as used by urllist_action_parse_action. */
UrlAction urllist_action_parse_query_modify(const char *args, int options, QModData **data) VELMORA_NOEXCEPT;
UrlAction urllist_action_parse_headers(const char *args, HdrData **data) VELMORA_NOEXCEPT;

/* Carries the action out on url. A new text (malloc) goes to *ret_url, a
 * header block (one malloc block: NULL-terminated pointers followed by the
 * texts) to *ret_hdr; category numbers are added to cat. Returns a
 * URLLIST_RESULT_* value. */
int urllist_action_process_action(const URLLIST_ITEM_DATA *urllist_data, cat_t *cat, const char *url,
                                  char **ret_url, char ***ret_hdr) VELMORA_NOEXCEPT;
/* The single actions behind urllist_action_process_action. */
int urllist_action_query_modify(const QModData *qmod, const char *url, char **ret_url) VELMORA_NOEXCEPT;
int urllist_action_search_replace(const SnRData *snr, const char *url, char **ret_url) VELMORA_NOEXCEPT;
int urllist_action_regexp_replace(const RegRData *regr, const char *url, char **ret_url) VELMORA_NOEXCEPT;
int urllist_action_header(const HdrData *hdr, char ***ret_hdr) VELMORA_NOEXCEPT;

/* Prints the action's short form into buffer (size bytes, always terminated
 * when size is above 0; the text is cut to fit). */
void urllist_action_dump_action(const URLLIST_ITEM_DATA *urllist_data, char *buffer, size_t size) VELMORA_NOEXCEPT;
/* Constant name of the action ("deny", "allow", ...; "unknown" otherwise). */
const char *urllist_action_name(const URLLIST_ITEM_DATA *urllist_data) VELMORA_NOEXCEPT;
/* 1 when ttl (as a signed 32-bit value) is above 0 and below current_time. */
int urllist_action_expired(const URLLIST_ITEM_DATA *urllist_data) VELMORA_NOEXCEPT;
/* 0 when the action is not UA_CATEGORY; else 1, after adding its numbers to cat. */
int urllist_action_get_category(const URLLIST_ITEM_DATA *urllist_data, cat_t *cat) VELMORA_NOEXCEPT;
/* Appends data2's regular-expression chain to data1's when both are
 * UA_REGREPLACE (data2 then holds no action data): 1; otherwise 0. */
int urllist_action_append_action_data(URLLIST_ITEM_DATA *data1, URLLIST_ITEM_DATA *data2) VELMORA_NOEXCEPT;
void *urllist_action_get_raw_data(const URLLIST_ITEM_DATA *urllist_data) VELMORA_NOEXCEPT;
/* Replaces action_data without freeing the old value. */
void urllist_action_set_raw_data(URLLIST_ITEM_DATA *urllist_data, void *data) VELMORA_NOEXCEPT;
/* Releases action_data by action; neither clears the pointer nor frees the record. */
void urllist_action_data_free(URLLIST_ITEM_DATA *urllist_data) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
