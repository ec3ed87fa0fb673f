#include "velmora/rwlock.h"

#include <benchmark/benchmark.h>

#include <pthread.h>

namespace {

rwlock_t shared_lock;

// Read lock and unlock, the pair a locking URL list takes around each lookup;
// run with several threads to see the cost under reader contention.
void BM_ReadLockUnlock(benchmark::State &state)
{
    if (state.thread_index() == 0)
        rwl_init_internal(&shared_lock, nullptr, -1);
    for (auto _ : state) {
        rwl_readlock(&shared_lock);
        rwl_readunlock(&shared_lock);
    }
    if (state.thread_index() == 0)
        rwl_destroy(&shared_lock);
}
BENCHMARK(BM_ReadLockUnlock)->Threads(1)->Threads(2)->UseRealTime();

// The C library's reader-writer lock under the same load, for comparison.
pthread_rwlock_t shared_pthread_lock = PTHREAD_RWLOCK_INITIALIZER;

void BM_PthreadReadLockUnlock(benchmark::State &state)
{
    for (auto _ : state) {
        pthread_rwlock_rdlock(&shared_pthread_lock);
        pthread_rwlock_unlock(&shared_pthread_lock);
    }
}
BENCHMARK(BM_PthreadReadLockUnlock)->Threads(1)->Threads(2)->UseRealTime();

void BM_WriteLockUnlock(benchmark::State &state)
{
    rwlock_t lock;
    rwl_init_internal(&lock, nullptr, -1);
    for (auto _ : state) {
        rwl_writelock(&lock);
        rwl_writeunlock(&lock);
    }
    rwl_destroy(&lock);
}
BENCHMARK(BM_WriteLockUnlock);

} // namespace
