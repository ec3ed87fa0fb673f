/* Log sessions: named rings of recent log entries that clients register on a
 * log channel (optionally with regular-expression filters) and sample from
 * time to time; sets of sessions, one per channel, that take text entries or
 * binary records rendered per session. */
#ifndef VELMORA_LOGSESSION_H
#define VELMORA_LOGSESSION_H

#include <pthread.h>
#include <regex.h>
#include <stdint.h>
#include <time.h>

#include "velmora/defs.h"
#include "velmora/intarray.h"
#include "velmora/qxlog.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scratch space of a session for the text of one binary record. */
#define LOGSESSION_RECORD_BUFF_SIZE 1048576
/* Seconds a session may go unsampled before the maintenance removes it. */
#define LOGSESSION_STALE_SECONDS 60

/* Case-insensitive POSIX extended expressions: an entry passes when the match
 * expression (if any) matches it and the negate expression (if any) does not. */
typedef struct logsession_filter {
    char *regstr_match;    /* owned source, or NULL */
    regex_t regexp_match;  /* valid when regstr_match is set */
    char *regstr_negate;   /* owned source, or NULL */
    regex_t regexp_negate; /* valid when regstr_negate is set */
} logsession_filter;

typedef struct logsession_t logsession_t;

/* The functions a set's owner supplies for binary records. */
typedef void (*logsession_free_func_t)(void *query_data);
/* 0: the record meets the session's criteria. */
typedef int (*logsession_match_func_t)(void *query_data, void *record);
/* Renders record as one NUL-terminated line of at most out_size - 1 bytes. */
typedef void (*logsession_text_func_t)(char *out, int out_size, void *record, void *query_data);
/* 0: sessions with query data a and b render records identically. */
typedef int (*logsession_cmp_output_func_t)(void *query_a, void *query_b, logsession_t *session_b);

struct logsession_t {
    logsession_set_t *set;       /* the owning set */
    char *name;                  /* owned; unique within the set */
    logsession_filter *filter;   /* owned; NULL lets every entry pass */
    void *query_binary_data;     /* freed through the set's free function */
    int32_t max_entries;         /* ring capacity, at least 1 */
    int32_t buffer_size;         /* longest entry text kept, at least 4 */
    uint32_t overflow;           /* entries dropped since the last sample */
    int32_t pointer;             /* ring slot of the next entry */
    int32_t count;               /* entries held, at most max_entries */
    time_t last_time;            /* creation or last sample time */
    int32_t locked_session;      /* non-zero: lock guards the ring */
    pthread_mutex_t lock;
    char record_buff[LOGSESSION_RECORD_BUFF_SIZE]; /* last binary record rendered */
    char **entries;              /* max_entries owned texts, NULL when empty */
};

/* Sessions by name, in the order they were added; internal. */
typedef struct logsession_index logsession_index;

struct logsession_set_t {
    logsession_free_func_t query_binary_data_free_func;           /* may be NULL */
    logsession_match_func_t query_binary_data_match_func;         /* may be NULL */
    logsession_text_func_t query_binary_data2text_func;           /* NULL: binary records are not taken */
    logsession_cmp_output_func_t query_binary_data_cmp_output_func; /* may be NULL */
    logsession_index *sessions;
    int32_t size;       /* number of sessions */
    int32_t locked_set; /* non-zero: lock guards the set and its sessions' rings */
    pthread_mutex_t lock;
};

/* What a sample hands over: size texts, oldest first, and the number of
 * entries lost before it. */
typedef struct logsession_sample_t {
    uint32_t size;
    uint32_t overflow;
    char **entries;
} logsession_sample_t;

/* ---- Filters ----------------------------------------------------------- */

/* A filter from the words of query that start with token ("filter=" for
 * sessions): "filter=a" adds a match alternative, "filter=!b" a negate one.
 * NULL (everything passes) for NULL arguments, no usable word, or an
 * expression that does not compile (reported on the error channel). */
logsession_filter *logsession_filter_create(const char *query, const char *token) VELMORA_NOEXCEPT;
/* 0 when buffer passes, non-zero when it is filtered out; a NULL filter or
 * buffer passes. */
int logsession_filter_run(const logsession_filter *filter, const char *buffer) VELMORA_NOEXCEPT;
void logsession_filter_free(logsession_filter *filter) VELMORA_NOEXCEPT;
/* New text joining with delim the rest of every word of query that starts
 * with token and is longer than it; NULL if there is none. */
char *logsession_filter_string(const char *query, const char *token, const char *delim) VELMORA_NOEXCEPT;

/* ---- Sessions ---------------------------------------------------------- */

/* A new empty session, not yet in set; NULL for a NULL set or name, or when
 * memory is short. */
logsession_t *logsession_create(logsession_set_t *set, const char *name, const char *query, void *data,
                                int max_entries, int buffer_size, int locked) VELMORA_NOEXCEPT;
/* Stores a copy of entry (up to bytes bytes, cut after the first line feed),
 * overwriting the oldest entry when the ring is full. */
void logsession_insert(logsession_t *session, const char *entry, int bytes) VELMORA_NOEXCEPT;
/* Hands over and removes every entry; NULL when memory is short (the entries
 * then stay). Release with logsession_sample_destroy. */
logsession_sample_t *logsession_sample(logsession_t *session) VELMORA_NOEXCEPT;
void logsession_sample_destroy(logsession_sample_t *sample) VELMORA_NOEXCEPT;
void logsession_destroy(logsession_t *session) VELMORA_NOEXCEPT;

/* ---- Sets -------------------------------------------------------------- */

/* Every set call holds the set's lock for its duration when the set is
 * locked, except the two matches calls, whose caller holds it. */
logsession_set_t *logsession_set_create(int locked, logsession_free_func_t free_func,
                                        logsession_match_func_t match_func, logsession_text_func_t text_func,
                                        logsession_cmp_output_func_t cmp_output_func) VELMORA_NOEXCEPT;
/* Adds a new session: 0, or -1 for a NULL set, an existing name or short
 * memory (data then stays the caller's). */
int logsession_set_add(logsession_set_t *set, const char *name, const char *query, void *data, int max_entries,
                       int buffer_size) VELMORA_NOEXCEPT;
logsession_t *logsession_set_find(logsession_set_t *set, const char *name) VELMORA_NOEXCEPT;
int logsession_set_get_count(logsession_set_t *set) VELMORA_NOEXCEPT;
/* Removes and destroys a session: 0, or -1 when there is none. */
int logsession_set_remove(logsession_set_t *set, const char *name) VELMORA_NOEXCEPT;
logsession_sample_t *logsession_set_sample(logsession_set_t *set, const char *name) VELMORA_NOEXCEPT;
/* Offers a text entry of bytes bytes to every session whose filter passes it;
 * sessions keep at most buffer_size bytes ("..." marks a cut entry). */
void logsession_set_insert(logsession_set_t *set, const char *entry, int bytes) VELMORA_NOEXCEPT;
/* Offers a binary record, rendered per session by the set's text function. */
void logsession_set_insert_binary(logsession_set_t *set, void *data) VELMORA_NOEXCEPT;
/* The sessions taking the entry at indexes 0, 1, ... in the set's order, or
 * NULL when none does. The caller holds the set lock and destroys the array. */
intarray *logsession_set_matches(logsession_set_t *set, const char *entry) VELMORA_NOEXCEPT;
/* As logsession_set_matches for a binary record; each session taking it holds
 * its text in record_buff. */
intarray *logsession_set_matches_binary(logsession_set_t *set, void *data) VELMORA_NOEXCEPT;
/* Removes the sessions not sampled for more than 60 seconds. */
void logsession_set_flush(logsession_set_t *set) VELMORA_NOEXCEPT;
void logsession_set_destroy(logsession_set_t *set) VELMORA_NOEXCEPT;
/* The hash of a session name (a NUL-terminated text). */
unsigned long logsession_hash_fn(const void *name) VELMORA_NOEXCEPT;

/* ---- Sessions on the log channels ("qxd_message", "qxd_remoteadmin",
 * "qxd_debug", "qxd_error") ------------------------------------------------ */

/* Adds a session with no query data to the channel's set: the result of
 * logsession_set_add, or -1 for an unknown, missing or disabled channel. */
int qxlog_logsession_create(const char *log_name, const char *session_name, const char *query, int max_entries,
                            int buffer_size) VELMORA_NOEXCEPT;
/* NULL for an unknown name or missing channel. */
logsession_sample_t *qxlog_logsession_sample(const char *log_name, const char *session_name) VELMORA_NOEXCEPT;
/* 0 whether or not the session existed; 1 for an unknown name or missing
 * channel. */
int qxlog_logsession_destroy(const char *log_name, const char *session_name) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
