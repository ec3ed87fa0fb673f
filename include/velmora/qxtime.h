/* Time service: the current time published once a second, and scheduled
 * tasks run by a cron thread on each tick. */
#ifndef VELMORA_QXTIME_H
#define VELMORA_QXTIME_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The work of a scheduled task; its result is ignored. */
typedef void *(*crontask_proc_t)(void *data);

typedef struct _crontask {
    time_t last_run_time;   /* when the task last ran; current_time when added */
    int32_t interval;       /* seconds; 0 runs it on every tick */
    crontask_proc_t proc;
    void *data;             /* passed to proc; not owned */
    struct _crontask *next;
} _crontask, *CronTaskPtr;

/* Published time. current_time is read without a lock (one aligned word, one
 * writer); the two texts are read under current_time_str_lock. Before the
 * first start current_time is 0 and the texts are empty. */
extern time_t current_time;
extern char current_time_str[20];     /* "%Y-%m-%d %H:%M:%S" local time */
extern int32_t current_time_len;      /* always 19 */
extern char current_time_rfc822[32];  /* "%a, %d %b %Y %H:%M:%S %Z" local time */
extern pthread_mutex_t current_time_str_lock;
/* 1 from a backwards clock step until the end of the next scheduler pass. */
extern volatile int32_t qxtime_reset_time;
extern time_t qxdstartuptime;
/* TZ when the service started (NULL if unset); not owned. */
extern const char *system_timezone;
/* Created at start, destroyed at terminate; for programs that change TZ.
 * Declared where the C library shows pthread_rwlock_t (not in strict ISO C
 * without POSIX feature macros). */
#if !defined(__GLIBC__) || defined(__USE_XOPEN2K) || defined(__USE_UNIX98)
extern pthread_rwlock_t timezone_env_lock;
#endif
/* Stack size of the service's threads; change it before starting. */
extern volatile size_t qxtime_thread_stacksize;

/* Starts the clock and cron threads: 0, or 1 when already running or a
 * thread cannot start. */
int qxtime_initialize(void) VELMORA_NOEXCEPT;
/* Starts simulated mode at starttime: no clock thread, the caller sets time. */
int qxtime_sim_initialize(time_t starttime) VELMORA_NOEXCEPT;
/* Simulated mode only: publish the time (set or advanced), then one tick. */
void qxtime_sim_settime(time_t current_time) VELMORA_NOEXCEPT;
void qxtime_sim_inctime(time_t inc_time) VELMORA_NOEXCEPT;
/* Stops the threads, frees every task; the service can be started again. */
void qxtime_terminate(void) VELMORA_NOEXCEPT;

/* Appends a task; NULL when memory is short or proc is NULL. A task's proc must not add or
 * delete tasks (it runs under the task list lock). */
CronTaskPtr add_cron_task(int32_t interval, crontask_proc_t proc, void *data) VELMORA_NOEXCEPT;
/* Unlinks and frees task if it is in the list; anything else is ignored. */
void del_cron_task(CronTaskPtr task) VELMORA_NOEXCEPT;

void set_qxdstartuptime(void) VELMORA_NOEXCEPT;
/* Writes reg_time as "%a, %d %b %Y %H:%M:%S %z" local time into str_time (at
 * least 99 bytes); 0 or an unconvertible time gives "Time not defined". */
void calendar_time(char *str_time, time_t reg_time) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
