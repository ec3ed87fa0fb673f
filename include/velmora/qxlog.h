/* Log channels: message, remoteadmin, debug and error. */
#ifndef VELMORA_QXLOG_H
#define VELMORA_QXLOG_H

#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>

#include "velmora/defs.h"
#include "velmora/qxtime.h"

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

/* ---- Log files and rotation ------------------------------------------ */

/* Set to have every channel's file rotated at the next maintenance tick;
 * cleared by that rotation. */
extern volatile int32_t qxlog_force_rotate;
/* The once-a-second maintenance task, NULL when none is registered. */
extern CronTaskPtr qxlog_maintenance_task;

/* With onStartup non-zero, creates the four channels from the configuration
 * and registers the maintenance task: 0, or 1 on failure. With onStartup 0
 * nothing happens (0). policy and db are not used. */
int qxlog_config_initialize(int onStartup, void *config, void *policy, void *db) VELMORA_NOEXCEPT;
/* With onShutdown non-zero, flushes and closes every channel and removes the
 * maintenance task; messages go to standard error again afterwards. */
void qxlog_config_terminate(int onShutdown, void *policy) VELMORA_NOEXCEPT;
/* Registers the maintenance task anew (after the time service restarted):
 * 0, or 1 when it cannot be registered. */
int qxlog_reinit(void) VELMORA_NOEXCEPT;
/* The effective log settings, one "key value" line each; the caller frees
 * the text. NULL when memory is short. */
char *qxlog_config_dump(void *config, void *policy) VELMORA_NOEXCEPT;

/* A channel on filename (opened for appending when enabled) with a locked
 * session set; max_size is kept within 100000..1000000000 and history at 0 or
 * more, each correction noted with a CAUTION message. NULL when filename is
 * NULL or memory is short. */
LOGFILE *qxlog_create(const char *filename, int64_t max_size, int32_t history, int32_t log_enabled) VELMORA_NOEXCEPT;
/* Flushes and frees a channel with its session set; NULL is ignored. */
void qxlog_destroy(LOGFILE *l) VELMORA_NOEXCEPT;
/* Renames the file to the newest generation ".0" (older ones move up, the
 * oldest is dropped; history 0 deletes it) and opens it anew; the caller
 * holds l->lock. */
void qxlog_rotate_file_unlocked(LOGFILE *l) VELMORA_NOEXCEPT;
/* The scheduled task: flushes every channel and expires idle sessions, or
 * rotates every file when forced or after the clock stepped back. */
void *qxlog_maintenance(void *data) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
