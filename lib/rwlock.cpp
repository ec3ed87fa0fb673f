// Reader-writer lock: writers go before new readers, upgraders before plain
// writers. Every count is changed with the mutex held; the mutex is never held
// between calls.
#include "velmora/rwlock.h"

#include <cerrno>

namespace {

using CleanupHandler = void (*)(void *);

// The counts are volatile fields of a public C record; C++20 forbids ++/-- on
// them. They are only changed with the mutex held.
void add(volatile int &count, int delta)
{
    count = count + delta;
}

bool usable(const rwlock_t *rwl)
{
    return rwl != nullptr && rwl->valid == RWLOCK_VALID;
}

bool reader_may_enter(const rwlock_t *rwl)
{
    return rwl->w_active == 0 && rwl->w_wait == 0;
}

bool writer_may_enter(const rwlock_t *rwl)
{
    return rwl->w_active == 0 && rwl->r_active <= 0 && rwl->u_wait <= 0;
}

// The upgrader has already given up its own read hold while it waits.
bool upgrader_may_enter(const rwlock_t *rwl)
{
    return rwl->w_active == 0 && rwl->r_active < 1;
}

// A single signal could wake a plain writer that may not enter while an
// upgrader waits, so waiting upgraders need a broadcast.
int wake_writers(rwlock_t *rwl)
{
    if (rwl->u_wait >= 1)
        return pthread_cond_broadcast(&rwl->write);
    return pthread_cond_signal(&rwl->write);
}

// After the write hold is given up: writers first, else all readers together.
int wake_after_write(rwlock_t *rwl)
{
    if (rwl->w_wait >= 1)
        return wake_writers(rwl);
    if (rwl->r_wait >= 1)
        return pthread_cond_broadcast(&rwl->read);
    return 0;
}

// One condition wait inside a cancellation cleanup frame; if the thread is
// cancelled here, cleanup undoes its waiting state and releases the mutex.
// Callers run the same cleanup themselves when the wait fails.
int wait_cancellable(rwlock_t *rwl, pthread_cond_t *cond, CleanupHandler cleanup)
{
    int status;
    pthread_cleanup_push(cleanup, rwl);
    status = pthread_cond_wait(cond, &rwl->mutex);
    pthread_cleanup_pop(0);
    return status;
}

// Waits on cond until may_enter holds. On a failed wait cleanup undoes the
// caller's waiting state and releases the mutex, and the error is returned.
template <typename Condition>
int wait_until(rwlock_t *rwl, pthread_cond_t *cond, Condition may_enter, CleanupHandler cleanup)
{
    while (!may_enter(rwl)) {
        int status = wait_cancellable(rwl, cond, cleanup);
        if (status != 0) {
            cleanup(rwl);
            return status;
        }
    }
    return 0;
}

// Releases the mutex; its error goes before the given one.
int unlock_with(rwlock_t *rwl, int status)
{
    int unlock_status = pthread_mutex_unlock(&rwl->mutex);
    return unlock_status != 0 ? unlock_status : status;
}

// Runs change under the lock's mutex for the calls that never wait: its
// result is returned unless unlocking fails.
template <typename Change>
int under_mutex(rwlock_t *rwl, Change change)
{
    if (!usable(rwl))
        return EINVAL;
    int status = pthread_mutex_lock(&rwl->mutex);
    if (status != 0)
        return status;
    return unlock_with(rwl, change());
}

int destroy_parts(rwlock_t *rwl)
{
    int mutex_status = pthread_mutex_destroy(&rwl->mutex);
    int read_status = pthread_cond_destroy(&rwl->read);
    int write_status = pthread_cond_destroy(&rwl->write);
    if (mutex_status != 0)
        return mutex_status;
    return read_status != 0 ? read_status : write_status;
}

rwlock_t *lock_of(void *arg)
{
    return static_cast<rwlock_t *>(arg);
}

// A writer or upgrader that stops waiting (cancelled, or a wait error) may
// have been the last thing keeping queued threads out; without a wake-up here
// they would wait forever.
void wake_after_abandoned_wait(rwlock_t *rwl)
{
    if (rwl->w_active != 0)
        return;
    if (rwl->w_wait >= 1) {
        if (rwl->r_active <= 0)
            wake_writers(rwl);
    } else if (rwl->r_wait >= 1) {
        pthread_cond_broadcast(&rwl->read);
    }
}

} // namespace

extern "C" {

int rwl_init_internal(rwlock_t *rwl, const char * /*file*/, int /*line*/) noexcept
{
    if (rwl == nullptr)
        return EINVAL;
    rwl->r_active = 0;
    rwl->w_active = 0;
    rwl->r_wait = 0;
    rwl->w_wait = 0;
    rwl->u_wait = 0;
    int status = pthread_mutex_init(&rwl->mutex, nullptr);
    if (status != 0)
        return status;
    status = pthread_cond_init(&rwl->read, nullptr);
    if (status != 0) {
        pthread_mutex_destroy(&rwl->mutex);
        return status;
    }
    status = pthread_cond_init(&rwl->write, nullptr);
    if (status != 0) {
        pthread_cond_destroy(&rwl->read);
        pthread_mutex_destroy(&rwl->mutex);
        return status;
    }
    rwl->valid = RWLOCK_VALID;
    return 0;
}

int rwl_destroy(rwlock_t *rwl) noexcept
{
    if (!usable(rwl))
        return EINVAL;
    int status = pthread_mutex_lock(&rwl->mutex);
    if (status != 0)
        return status;
    if (rwl->r_active > 0 || rwl->w_active != 0 || rwl->r_wait != 0 || rwl->w_wait != 0) {
        pthread_mutex_unlock(&rwl->mutex);
        return EBUSY;
    }
    rwl->valid = 0;
    status = pthread_mutex_unlock(&rwl->mutex);
    int parts_status = destroy_parts(rwl);
    return status != 0 ? status : parts_status;
}

int rwl_readlock(rwlock_t *rwl)
{
    if (!usable(rwl))
        return EINVAL;
    int status = pthread_mutex_lock(&rwl->mutex);
    if (status != 0)
        return status;
    if (!reader_may_enter(rwl)) {
        add(rwl->r_wait, 1);
        status = wait_until(rwl, &rwl->read, reader_may_enter, rwl_readcleanup);
        if (status != 0)
            return status;
        add(rwl->r_wait, -1);
    }
    add(rwl->r_active, 1);
    return pthread_mutex_unlock(&rwl->mutex);
}

int rwl_readtrylock(rwlock_t *rwl) noexcept
{
    return under_mutex(rwl, [rwl] {
        if (rwl->w_active != 0)
            return EBUSY;
        add(rwl->r_active, 1);
        return 0;
    });
}

int rwl_readunlock(rwlock_t *rwl) noexcept
{
    return under_mutex(rwl, [rwl] {
        add(rwl->r_active, -1);
        return rwl->r_active == 0 && rwl->w_wait >= 1 ? wake_writers(rwl) : 0;
    });
}

int rwl_writelock(rwlock_t *rwl)
{
    if (!usable(rwl))
        return EINVAL;
    int status = pthread_mutex_lock(&rwl->mutex);
    if (status != 0)
        return status;
    if (!writer_may_enter(rwl)) {
        add(rwl->w_wait, 1);
        status = wait_until(rwl, &rwl->write, writer_may_enter, rwl_writecleanup);
        if (status != 0)
            return status;
        add(rwl->w_wait, -1);
    }
    rwl->w_active = 1;
    return pthread_mutex_unlock(&rwl->mutex);
}

int rwl_writetrylock(rwlock_t *rwl) noexcept
{
    return under_mutex(rwl, [rwl] {
        if (rwl->w_active != 0 || rwl->r_active > 0)
            return EBUSY;
        rwl->w_active = 1;
        return 0;
    });
}

int rwl_writeunlock(rwlock_t *rwl) noexcept
{
    return under_mutex(rwl, [rwl] {
        rwl->w_active = 0;
        return wake_after_write(rwl);
    });
}

int rwl_upgrade(rwlock_t *rwl)
{
    if (!usable(rwl))
        return EINVAL;
    int status = pthread_mutex_lock(&rwl->mutex);
    if (status != 0)
        return status;
    if (rwl->w_active == 0 && rwl->r_active < 2) {
        rwl->w_active = 1;
        add(rwl->r_active, -1);
        return pthread_mutex_unlock(&rwl->mutex);
    }
    add(rwl->w_wait, 1);
    add(rwl->u_wait, 1);
    add(rwl->r_active, -1);
    status = wait_until(rwl, &rwl->write, upgrader_may_enter, rwl_upgradecleanup);
    if (status != 0)
        return status;
    add(rwl->w_wait, -1);
    add(rwl->u_wait, -1);
    rwl->w_active = 1;
    return pthread_mutex_unlock(&rwl->mutex);
}

int rwl_downgrade(rwlock_t *rwl) noexcept
{
    return under_mutex(rwl, [rwl] {
        rwl->w_active = 0;
        add(rwl->r_active, 1);
        return wake_after_write(rwl);
    });
}

void rwl_readcleanup(void *arg) noexcept
{
    rwlock_t *rwl = lock_of(arg);
    add(rwl->r_wait, -1);
    pthread_mutex_unlock(&rwl->mutex);
}

void rwl_writecleanup(void *arg) noexcept
{
    rwlock_t *rwl = lock_of(arg);
    add(rwl->w_wait, -1);
    wake_after_abandoned_wait(rwl);
    pthread_mutex_unlock(&rwl->mutex);
}

void rwl_upgradecleanup(void *arg) noexcept
{
    rwlock_t *rwl = lock_of(arg);
    add(rwl->w_wait, -1);
    add(rwl->u_wait, -1);
    add(rwl->r_active, 1);
    wake_after_abandoned_wait(rwl);
    pthread_mutex_unlock(&rwl->mutex);
}

void rwl_print(void) noexcept {}

} // extern "C"
