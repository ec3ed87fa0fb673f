/* Reader-writer lock with writer preference, upgrade and downgrade, built on
 * one mutex and two condition variables. Results are 0 or an errno-style code:
 * 22 (EINVAL) for a lock that is not initialised or was destroyed, 16 (EBUSY)
 * where a trylock or destroy cannot proceed, else the platform's error. */
#ifndef VELMORA_RWLOCK_H
#define VELMORA_RWLOCK_H

#include <pthread.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Value of valid while the lock is usable. */
#define RWLOCK_VALID 0xFACADE

typedef struct rwlock_tag {
    pthread_mutex_t mutex; /* guards the fields below, only inside the rwl_ calls */
    pthread_cond_t read;   /* readers wait here */
    pthread_cond_t write;  /* writers and upgraders wait here */
    volatile int valid;    /* RWLOCK_VALID while usable, 0 after destroy */
    volatile int r_active; /* threads holding a read lock */
    volatile int w_active; /* 1 while a thread holds the write lock */
    volatile int r_wait;   /* readers waiting */
    volatile int w_wait;   /* threads waiting for the write lock, upgraders included */
    volatile int u_wait;   /* upgraders waiting (each also counted in w_wait) */
} rwlock_t;

/* file and line name the calling place for diagnostics; they are not used. */
int rwl_init_internal(rwlock_t *rwl, const char *file, int line) VELMORA_NOEXCEPT;
#define rwl_init(rwl) rwl_init_internal((rwl), __FILE__, __LINE__)

/* 16 while any reader or writer is active or waiting; the lock stays usable. */
int rwl_destroy(rwlock_t *rwl) VELMORA_NOEXCEPT;

/* The three calls that wait on a condition are cancellation points. They throw
 * nothing, but are deliberately not noexcept: a cancelled thread unwinds
 * through them (running the cleanup handlers below), and a noexcept frame would
 * turn that unwinding into process termination. */
int rwl_readlock(rwlock_t *rwl);
int rwl_writelock(rwlock_t *rwl);
/* The caller holds a read lock; on success it holds the write lock instead.
 * While it waits its read hold is given up, so others may write in between.
 * On a wait error the caller holds its read lock again. */
int rwl_upgrade(rwlock_t *rwl);

/* Succeeds while writers wait, as long as none is active. */
int rwl_readtrylock(rwlock_t *rwl) VELMORA_NOEXCEPT;
int rwl_readunlock(rwlock_t *rwl) VELMORA_NOEXCEPT;
/* 16 while a writer or any reader is active. */
int rwl_writetrylock(rwlock_t *rwl) VELMORA_NOEXCEPT;
int rwl_writeunlock(rwlock_t *rwl) VELMORA_NOEXCEPT;
/* The caller holds the write lock; on return it holds a read lock instead. */
int rwl_downgrade(rwlock_t *rwl) VELMORA_NOEXCEPT;

/* Cancellation handlers (argument: the lock) run when a thread is cancelled
 * while waiting: they undo its waiting state and release the mutex. A cancelled
 * upgrader is left holding its read lock. */
void rwl_readcleanup(void *arg) VELMORA_NOEXCEPT;
void rwl_writecleanup(void *arg) VELMORA_NOEXCEPT;
void rwl_upgradecleanup(void *arg) VELMORA_NOEXCEPT;

/* Does nothing. */
void rwl_print(void) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
