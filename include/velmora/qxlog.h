/* Log channels: message, remoteadmin, debug and error. */
#ifndef VELMORA_QXLOG_H
#define VELMORA_QXLOG_H

#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QXLOG_MESSAGE 1
#define QXLOG_REMOTEADMIN 2
#define QXLOG_DEBUG 3
#define QXLOG_ERROR 4

/* Bytes a channel gathers before it writes them to its file. */
#define QXLOG_BUFFER_SIZE 32768

/* The log sessions of a channel; the log session module defines
 * struct logsession_set_t. */
typedef struct logsession_set_t logsession_set_t;

/* One log channel. lock guards every field. */
typedef struct LOG_LOGFILE {
    char *name;                  /* path of the channel's file, owned */
    volatile int32_t fd;         /* -1 when the file is not open */
    volatile int32_t buff_size;  /* bytes waiting in buff */
    char buff[QXLOG_BUFFER_SIZE]; /* whole lines only */
    pthread_mutex_t lock;
    volatile int64_t size;       /* file size when opened plus every byte handed to write since */
    int64_t max_size;            /* size at which the file is rotated */
    int32_t history;             /* rotated files kept */
    int32_t enabled;             /* 0: every message is dropped */
    logsession_set_t *sessions;
} LOG_LOGFILE, LOGFILE;

/* The four channels; NULL while the logs are not configured, and then
 * messages go to standard error (debug messages nowhere). */
extern LOGFILE *qxlog_message;
extern LOGFILE *qxlog_remoteadmin;
extern LOGFILE *qxlog_debug;
extern LOGFILE *qxlog_error;

/* Non-zero: nothing is ever written to standard error. */
extern volatile int qxlog_silent_mode;
/* Non-zero: every buffered message is also sent to syslog. */
extern volatile int qxlog_syslog_enabled;
/* Set once the process was signalled to terminate after a log write failure,
 * and while the logs shut down; a set flag keeps further failures from
 * signalling again. */
extern volatile int terminating;

/* Formats one message (which carries its own "\n") and sends it to the
 * channel of log_type; unknown types are ignored. */
void qxlog_send(int log_type, const char *msg, ...) VELMORA_NOEXCEPT
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void qxlog_send_va(int log_type, const char *msg, va_list ap) VELMORA_NOEXCEPT;
/* 1 when the debug channel exists and is enabled, else 0. */
int qxlog_debug_enabled(void) VELMORA_NOEXCEPT;
/* Reports an allocation failure at a source position, at most once a minute. */
void qxlog_memory_error__(const char *file, int lineno) VELMORA_NOEXCEPT;

#define qxlog_memory_error() qxlog_memory_error__(__FILE__, __LINE__)

/* When syslog copies are enabled, sends line to syslog at syslog_type as
 * literal text (every % doubled). */
void qxlog_syslog(int syslog_type, const char *line) VELMORA_NOEXCEPT;
/* Writes the channel's buffer to its file; the caller holds l->lock. */
void qxlog_flush_unlocked(LOGFILE *l) VELMORA_NOEXCEPT;
/* The channel of a log type, NULL for an unknown type or a missing channel. */
LOGFILE *qxlog_get_by_type(int log_type) VELMORA_NOEXCEPT;
/* The log type of a channel name ("qxd_message", "qxd_remoteadmin",
 * "qxd_debug", "qxd_error"; exact match), 0 for any other name. */
int qxlog_get_type(const char *name) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
