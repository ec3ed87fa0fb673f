/* Log channels: message, remoteadmin, debug and error. */
#ifndef VELMORA_QXLOG_H
#define VELMORA_QXLOG_H

#include <stdarg.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QXLOG_MESSAGE 1
#define QXLOG_REMOTEADMIN 2
#define QXLOG_DEBUG 3
#define QXLOG_ERROR 4

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

extern volatile int qxlog_silent_mode;
extern volatile int qxlog_syslog_enabled;

#ifdef __cplusplus
}
#endif

#endif
