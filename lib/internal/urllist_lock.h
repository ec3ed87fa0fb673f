// Scoped holds of a URL list's reader-writer lock. A list made without
// URLLIST_LOCKING has no lock: the guards then do nothing and report success.
#ifndef VELMORA_INTERNAL_URLLIST_LOCK_H
#define VELMORA_INTERNAL_URLLIST_LOCK_H

#include "velmora/rwlock.h"
#include "velmora/urllist.h"

namespace velmora {

enum class LockMode { read, write };

class ListLock {
public:
    ListLock(URLLIST *l, LockMode mode) noexcept
        : lock_((l->flags & URLLIST_LOCKING) ? &l->lock : nullptr), mode_(mode)
    {
        if (lock_ == nullptr)
            return;
        int rc = mode == LockMode::read ? rwl_readlock(lock_) : rwl_writelock(lock_);
        if (rc != 0)
            lock_ = nullptr, failed_ = true;
    }
    ~ListLock()
    {
        if (lock_ == nullptr)
            return;
        if (mode_ == LockMode::read)
            rwl_readunlock(lock_);
        else
            rwl_writeunlock(lock_);
    }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;

    // False when the list has a lock that could not be taken.
    bool held() const noexcept { return !failed_; }

private:
    rwlock_t *lock_;
    LockMode mode_;
    bool failed_ = false;
};

} // namespace velmora

#endif
