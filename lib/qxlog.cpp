// Provisional log channels: until the channel files exist every message goes
// to standard error (debug messages are dropped), unless silent mode is on.
#include "velmora/qxlog.h"

#include <cstdio>

extern "C" {

volatile int qxlog_silent_mode = 0;
volatile int qxlog_syslog_enabled = 0;

void qxlog_send_va(int log_type, const char *msg, va_list ap) noexcept
{
    if (log_type < QXLOG_MESSAGE || log_type > QXLOG_ERROR || log_type == QXLOG_DEBUG)
        return;
    if (qxlog_silent_mode == 0)
        std::vfprintf(stderr, msg, ap);
}

void qxlog_send(int log_type, const char *msg, ...) noexcept
{
    va_list ap;
    va_start(ap, msg);
    qxlog_send_va(log_type, msg, ap);
    va_end(ap);
}

int qxlog_debug_enabled(void) noexcept
{
    return 0;
}

void qxlog_memory_error__(const char *file, int lineno) noexcept
{
    qxlog_send(QXLOG_ERROR, "Failed to allocate memory in file %s line %d\n", file, lineno);
}

} // extern "C"
