#include "velmora/rwlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Counts {
    int r_active, w_active, r_wait, w_wait, u_wait;
};

// Reads the counts the way the lock itself does: under its mutex.
Counts counts_of(rwlock_t *rwl)
{
    pthread_mutex_lock(&rwl->mutex);
    Counts c{rwl->r_active, rwl->w_active, rwl->r_wait, rwl->w_wait, rwl->u_wait};
    pthread_mutex_unlock(&rwl->mutex);
    return c;
}

// Polls until pred holds on the counts; false after a generous timeout.
bool wait_for_counts(rwlock_t *rwl, const std::function<bool(const Counts &)> &pred)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred(counts_of(rwl)))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Ordered record of what the threads of one test did.
class EventLog {
public:
    void add(const std::string &event)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
    }
    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

class RwLock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rwl_init_internal(&lock, nullptr, -1), 0); }
    void TearDown() override { EXPECT_EQ(rwl_destroy(&lock), 0) << "lock left busy"; }

    // Thread that takes the lock with take, logs "<name> in", releases it.
    std::thread holder(const char *name, int (*take)(rwlock_t *), int (*release)(rwlock_t *))
    {
        return std::thread([this, name, take, release] {
            EXPECT_EQ(take(&lock), 0);
            log.add(std::string(name) + " in");
            EXPECT_EQ(release(&lock), 0);
        });
    }

    rwlock_t lock;
    EventLog log;
};

struct NamedOperation {
    const char *name;
    int (*call)(rwlock_t *);
};

const NamedOperation all_operations[] = {
    {"destroy", rwl_destroy},         {"readlock", rwl_readlock},
    {"readtrylock", rwl_readtrylock}, {"readunlock", rwl_readunlock},
    {"writelock", rwl_writelock},     {"writetrylock", rwl_writetrylock},
    {"writeunlock", rwl_writeunlock}, {"upgrade", rwl_upgrade},
    {"downgrade", rwl_downgrade},
};

TEST(RwLockValidity, EveryOperationRefusesUnusableLocks)
{
    rwlock_t never_initialised;
    std::memset(&never_initialised, 0, sizeof never_initialised);
    never_initialised.valid = 0xFACADF;
    rwlock_t destroyed;
    ASSERT_EQ(rwl_init_internal(&destroyed, __FILE__, __LINE__), 0);
    ASSERT_EQ(rwl_destroy(&destroyed), 0);
    EXPECT_EQ(destroyed.valid, 0);

    for (const NamedOperation &op : all_operations) {
        EXPECT_EQ(op.call(&never_initialised), EINVAL) << op.name;
        EXPECT_EQ(op.call(&destroyed), EINVAL) << op.name;
        EXPECT_EQ(op.call(nullptr), EINVAL) << op.name;
    }
    EXPECT_EQ(never_initialised.r_active + never_initialised.w_active, 0);
    EXPECT_EQ(rwl_init_internal(nullptr, nullptr, -1), EINVAL);
}

TEST_F(RwLock, DestroyOfHeldLockIsBusyAndLeavesItUsable)
{
    const NamedOperation holds[][2] = {
        {{"readlock", rwl_readlock}, {"readunlock", rwl_readunlock}},
        {{"writelock", rwl_writelock}, {"writeunlock", rwl_writeunlock}},
    };
    for (const auto &hold : holds) {
        ASSERT_EQ(hold[0].call(&lock), 0) << hold[0].name;
        EXPECT_EQ(rwl_destroy(&lock), EBUSY) << hold[0].name;
        EXPECT_EQ(lock.valid, RWLOCK_VALID);
        EXPECT_EQ(hold[1].call(&lock), 0) << hold[1].name;
    }
}

TEST_F(RwLock, TrylocksReportBusy)
{
    ASSERT_EQ(rwl_writelock(&lock), 0);
    EXPECT_EQ(rwl_readtrylock(&lock), EBUSY);
    EXPECT_EQ(rwl_writetrylock(&lock), EBUSY);
    ASSERT_EQ(rwl_writeunlock(&lock), 0);

    ASSERT_EQ(rwl_readtrylock(&lock), 0);
    EXPECT_EQ(rwl_readtrylock(&lock), 0);
    EXPECT_EQ(rwl_writetrylock(&lock), EBUSY);
    EXPECT_EQ(counts_of(&lock).r_active, 2);
    ASSERT_EQ(rwl_readunlock(&lock), 0);
    ASSERT_EQ(rwl_readunlock(&lock), 0);

    ASSERT_EQ(rwl_writetrylock(&lock), 0);
    EXPECT_EQ(counts_of(&lock).w_active, 1);
    ASSERT_EQ(rwl_writeunlock(&lock), 0);
}

TEST_F(RwLock, ReadTrylockSucceedsWhileWriterOnlyWaits)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    std::thread writer = holder("writer", rwl_writelock, rwl_writeunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 1; }));
    EXPECT_EQ(rwl_readtrylock(&lock), 0);
    EXPECT_EQ(counts_of(&lock).r_active, 2);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
    writer.join();
    EXPECT_EQ(log.events(), std::vector<std::string>{"writer in"});
}

TEST_F(RwLock, NewReaderQueuesBehindWaitingWriter)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    std::thread writer = holder("writer", rwl_writelock, rwl_writeunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 1; }));
    std::thread reader = holder("reader", rwl_readlock, rwl_readunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 1; }));
    EXPECT_TRUE(log.events().empty());
    ASSERT_EQ(rwl_readunlock(&lock), 0);
    writer.join();
    reader.join();
    EXPECT_EQ(log.events(), (std::vector<std::string>{"writer in", "reader in"}));
}

TEST_F(RwLock, WriteUnlockLetsAllWaitingReadersInTogether)
{
    ASSERT_EQ(rwl_writelock(&lock), 0);
    std::atomic<int> inside{0};
    std::atomic<bool> leave{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; i++)
        readers.emplace_back([&] {
            EXPECT_EQ(rwl_readlock(&lock), 0);
            inside++;
            while (!leave)
                std::this_thread::yield();
            EXPECT_EQ(rwl_readunlock(&lock), 0);
        });
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 3; }));
    ASSERT_EQ(rwl_writeunlock(&lock), 0);
    // All three hold the lock at once: each counts itself in only after its
    // readlock returned, and none leaves before all are in.
    ASSERT_TRUE(wait_for_counts(&lock, [&](const Counts &c) { return c.r_active == 3 && inside.load() == 3; }));
    leave = true;
    for (auto &t : readers)
        t.join();
}

TEST_F(RwLock, SoleReaderUpgradesBeforeWaitingWriter)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    std::thread writer = holder("writer", rwl_writelock, rwl_writeunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 1; }));
    ASSERT_EQ(rwl_upgrade(&lock), 0);
    Counts c = counts_of(&lock);
    EXPECT_EQ(c.w_active, 1);
    EXPECT_EQ(c.r_active, 0);
    log.add("upgraded");
    ASSERT_EQ(rwl_writeunlock(&lock), 0);
    writer.join();
    EXPECT_EQ(log.events(), (std::vector<std::string>{"upgraded", "writer in"}));
}

TEST_F(RwLock, TwoUpgradingReadersGetWriteHoldInTurn)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    std::thread first([this] {
        EXPECT_EQ(rwl_readlock(&lock), 0);
        EXPECT_EQ(rwl_upgrade(&lock), 0);
        log.add("first writes");
        EXPECT_EQ(rwl_writeunlock(&lock), 0);
    });
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.u_wait == 1; }));
    Counts waiting = counts_of(&lock);
    EXPECT_EQ(waiting.w_wait, 1);
    EXPECT_EQ(waiting.r_active, 1);

    // Now the only reader, this thread takes the write hold at once.
    ASSERT_EQ(rwl_upgrade(&lock), 0);
    log.add("second writes");
    ASSERT_EQ(rwl_writeunlock(&lock), 0);
    first.join();
    EXPECT_EQ(log.events(), (std::vector<std::string>{"second writes", "first writes"}));
}

TEST_F(RwLock, WaitingUpgraderGoesBeforeWaitingWriter)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    std::thread upgrader([this] {
        EXPECT_EQ(rwl_readlock(&lock), 0);
        EXPECT_EQ(rwl_upgrade(&lock), 0);
        log.add("upgrader in");
        EXPECT_EQ(rwl_writeunlock(&lock), 0);
    });
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.u_wait == 1; }));
    std::thread writer = holder("writer", rwl_writelock, rwl_writeunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 2; }));
    ASSERT_EQ(rwl_readunlock(&lock), 0);
    upgrader.join();
    writer.join();
    EXPECT_EQ(log.events(), (std::vector<std::string>{"upgrader in", "writer in"}));
}

TEST_F(RwLock, DowngradeKeepsReadHoldAndAdmitsReaders)
{
    ASSERT_EQ(rwl_writelock(&lock), 0);
    std::thread reader = holder("reader", rwl_readlock, rwl_readunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 1; }));
    ASSERT_EQ(rwl_downgrade(&lock), 0);
    reader.join();
    Counts c = counts_of(&lock);
    EXPECT_EQ(c.w_active, 0);
    EXPECT_EQ(c.r_active, 1);
    EXPECT_EQ(rwl_writetrylock(&lock), EBUSY);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
    EXPECT_EQ(log.events(), std::vector<std::string>{"reader in"});
}

TEST_F(RwLock, DowngradeWithWaitingWriterKeepsReadersQueued)
{
    ASSERT_EQ(rwl_writelock(&lock), 0);
    std::thread writer = holder("writer", rwl_writelock, rwl_writeunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 1; }));
    std::thread reader = holder("reader", rwl_readlock, rwl_readunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 1; }));
    ASSERT_EQ(rwl_downgrade(&lock), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Counts c = counts_of(&lock);
    EXPECT_EQ(c.w_wait, 1);
    EXPECT_EQ(c.r_wait, 1);
    ASSERT_EQ(rwl_readunlock(&lock), 0);
    writer.join();
    reader.join();
    EXPECT_EQ(log.events(), (std::vector<std::string>{"writer in", "reader in"}));
}

// Cancellation: waiting threads are plain pthreads so that cancellation
// unwinding meets nothing but the lock's own frames.
struct CancelTarget {
    rwlock_t *lock;
    int (*take)(rwlock_t *);
};

void *take_and_never_return(void *arg)
{
    auto *target = static_cast<CancelTarget *>(arg);
    target->take(target->lock);
    return nullptr; // only reached if the wait was not cancelled
}

void cancel_waiter(pthread_t thread)
{
    ASSERT_EQ(pthread_cancel(thread), 0);
    void *result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
}

TEST_F(RwLock, CancelledReaderStopsWaiting)
{
    ASSERT_EQ(rwl_writelock(&lock), 0);
    CancelTarget target{&lock, rwl_readlock};
    pthread_t reader;
    ASSERT_EQ(pthread_create(&reader, nullptr, take_and_never_return, &target), 0);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 1; }));
    cancel_waiter(reader);
    EXPECT_EQ(counts_of(&lock).r_wait, 0);
    EXPECT_EQ(rwl_writeunlock(&lock), 0);
}

TEST_F(RwLock, CancelledWriterLetsQueuedReadersIn)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    CancelTarget target{&lock, rwl_writelock};
    pthread_t writer;
    ASSERT_EQ(pthread_create(&writer, nullptr, take_and_never_return, &target), 0);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.w_wait == 1; }));
    std::thread reader = holder("reader", rwl_readlock, rwl_readunlock);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.r_wait == 1; }));

    cancel_waiter(writer);
    reader.join(); // would hang if nobody woke the queued reader
    EXPECT_EQ(counts_of(&lock).w_wait, 0);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
    EXPECT_EQ(log.events(), std::vector<std::string>{"reader in"});
}

TEST_F(RwLock, CancelledUpgraderKeepsItsReadHold)
{
    ASSERT_EQ(rwl_readlock(&lock), 0);
    ASSERT_EQ(rwl_readlock(&lock), 0); // the upgrader's read hold, taken for it
    CancelTarget target{&lock, rwl_upgrade};
    pthread_t upgrader;
    ASSERT_EQ(pthread_create(&upgrader, nullptr, take_and_never_return, &target), 0);
    ASSERT_TRUE(wait_for_counts(&lock, [](const Counts &c) { return c.u_wait == 1; }));
    cancel_waiter(upgrader);
    Counts c = counts_of(&lock);
    EXPECT_EQ(c.r_active, 2);
    EXPECT_EQ(c.w_wait, 0);
    EXPECT_EQ(c.u_wait, 0);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
    EXPECT_EQ(rwl_readunlock(&lock), 0);
}

// Many threads mixing every operation; exclusion is checked by counters that
// are only consistent if the lock excludes correctly.
TEST_F(RwLock, StressKeepsReadersAndWritersApart)
{
    constexpr int threads = 6;
    constexpr int rounds = 20000;
    std::atomic<int> readers_inside{0};
    std::atomic<int> writers_inside{0};
    std::atomic<int> violations{0};
    long long shared_total = 0; // guarded by the lock under test
    std::atomic<long long> writes{0};

    auto check_reading = [&] {
        readers_inside++;
        if (writers_inside.load() != 0)
            violations++;
        readers_inside--;
    };
    auto write_once = [&] {
        if (writers_inside.fetch_add(1) != 0 || readers_inside.load() != 0)
            violations++;
        shared_total++;
        writes++;
        writers_inside--;
    };

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++)
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1u);
            for (int i = 0; i < rounds; i++) {
                switch (random() % 6) {
                case 0:
                    ASSERT_EQ(rwl_readlock(&lock), 0);
                    check_reading();
                    ASSERT_EQ(rwl_readunlock(&lock), 0);
                    break;
                case 1:
                    ASSERT_EQ(rwl_writelock(&lock), 0);
                    write_once();
                    ASSERT_EQ(rwl_writeunlock(&lock), 0);
                    break;
                case 2:
                    ASSERT_EQ(rwl_readlock(&lock), 0);
                    check_reading();
                    ASSERT_EQ(rwl_upgrade(&lock), 0);
                    write_once();
                    ASSERT_EQ(rwl_writeunlock(&lock), 0);
                    break;
                case 3:
                    ASSERT_EQ(rwl_writelock(&lock), 0);
                    write_once();
                    ASSERT_EQ(rwl_downgrade(&lock), 0);
                    check_reading();
                    ASSERT_EQ(rwl_readunlock(&lock), 0);
                    break;
                case 4:
                    if (rwl_readtrylock(&lock) == 0) {
                        check_reading();
                        ASSERT_EQ(rwl_readunlock(&lock), 0);
                    }
                    break;
                default:
                    if (rwl_writetrylock(&lock) == 0) {
                        write_once();
                        ASSERT_EQ(rwl_writeunlock(&lock), 0);
                    }
                    break;
                }
            }
        });
    for (auto &w : workers)
        w.join();

    EXPECT_EQ(violations.load(), 0);
    ASSERT_EQ(rwl_readlock(&lock), 0);
    EXPECT_EQ(shared_total, writes.load());
    ASSERT_EQ(rwl_readunlock(&lock), 0);
    Counts c = counts_of(&lock);
    EXPECT_EQ(c.r_active + c.w_active + c.r_wait + c.w_wait + c.u_wait, 0);
}

} // namespace
