// Time service: a clock thread publishes the time once a second and signals a
// tick; a cron thread runs the scheduled tasks that are due on each tick.
#include "velmora/qxtime.h"

#include "internal/qxtime_sync.h"
#include "velmora/common.h"
#include "velmora/qxlog.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {

time_t current_time = 0;
char current_time_str[20] = "";
int32_t current_time_len = 19;
char current_time_rfc822[32] = "";
pthread_mutex_t current_time_str_lock = PTHREAD_MUTEX_INITIALIZER;
volatile int32_t qxtime_reset_time = 0;
time_t qxdstartuptime = 0;
const char *system_timezone = nullptr;
pthread_rwlock_t timezone_env_lock; // initialised by each start
volatile size_t qxtime_thread_stacksize = 2097152;

} // extern "C"

namespace {

// Task list in order of addition. crontab_lock is held for a whole scheduler
// pass, so adding and deleting wait while tasks run.
pthread_mutex_t crontab_lock = PTHREAD_MUTEX_INITIALIZER;
CronTaskPtr crontab = nullptr;

// The tick: ticks_signalled counts ticks given, ticks_served the ticks covered
// by finished passes. A pass covers every tick signalled before it started,
// so ticks that arrive during a pass cause one more pass, not one each.
pthread_mutex_t cron_cond_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t cron_cond = PTHREAD_COND_INITIALIZER;
pthread_cond_t pass_done_cond = PTHREAD_COND_INITIALIZER;
uint64_t ticks_signalled = 0;
uint64_t ticks_served = 0;

// The clock thread's one-second wait; terminate ends it early.
pthread_mutex_t qxtime_manager_cond_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t qxtime_manager_cond = PTHREAD_COND_INITIALIZER;

// Serialises start and stop of the service.
pthread_mutex_t service_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> qxtime_initialized{false};
std::atomic<bool> qxtime_simulated{false};
std::atomic<bool> qxtime_exit{false};

// Whether a service thread is inside its loop. The thread sets it on entry and
// clears it as the last thing it does, so start can wait for the thread to be
// running and terminate for it to have left. The records are static and never
// destroyed, so a thread that is just returning touches nothing that a new
// start reinitialises.
struct ThreadPresence {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    bool running;
};

ThreadPresence manager_presence = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, false};
ThreadPresence cron_presence = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, false};

void set_presence(ThreadPresence &presence, bool running)
{
    pthread_mutex_lock(&presence.lock);
    presence.running = running;
    pthread_cond_broadcast(&presence.changed);
    pthread_mutex_unlock(&presence.lock);
}

void wait_for_presence(ThreadPresence &presence, bool running)
{
    pthread_mutex_lock(&presence.lock);
    while (presence.running != running)
        pthread_cond_wait(&presence.changed, &presence.lock);
    pthread_mutex_unlock(&presence.lock);
}

time_t published_time() noexcept
{
    return __atomic_load_n(&current_time, __ATOMIC_ACQUIRE);
}

void set_reset_flag(int32_t value) noexcept
{
    __atomic_store_n(&qxtime_reset_time, value, __ATOMIC_RELEASE);
}

// Formats into a scratch buffer first: a text that does not fit leaves the
// published text empty rather than indeterminate.
void format_time_text(char *dest, size_t limit, const char *format, const struct tm &local)
{
    char scratch[64];
    size_t len = strftime(scratch, limit, format, &local);
    std::memcpy(dest, scratch, len);
    dest[len] = '\0';
}

void publish_time(time_t t) noexcept
{
    if (published_time() > t) {
        qxlog_send(QXLOG_MESSAGE, "Logger: Detected Clock Change! Rotating Log Files.\n");
        set_reset_flag(1);
    }
    __atomic_store_n(&current_time, t, __ATOMIC_RELEASE);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr)
        return;
    pthread_mutex_lock(&current_time_str_lock);
    format_time_text(current_time_str, 20, "%Y-%m-%d %H:%M:%S", local);
    format_time_text(current_time_rfc822, 30, "%a, %d %b %Y %H:%M:%S %Z", local);
    pthread_mutex_unlock(&current_time_str_lock);
}

void signal_tick()
{
    pthread_mutex_lock(&cron_cond_lock);
    ticks_signalled++;
    pthread_cond_signal(&cron_cond);
    pthread_mutex_unlock(&cron_cond_lock);
}

bool task_is_due(const _crontask &task, time_t now)
{
    if (task.interval == 0)
        return true;
    return now % task.interval == 0 || now > task.last_run_time + task.interval;
}

void run_due_tasks()
{
    pthread_mutex_lock(&crontab_lock);
    for (CronTaskPtr task = crontab; task != nullptr; task = task->next) {
        time_t now = published_time();
        if (task_is_due(*task, now)) {
            task->last_run_time = now;
            task->proc(task->data);
        }
    }
    pthread_mutex_unlock(&crontab_lock);
    set_reset_flag(0);
}

// Waits for a tick; false when the service is told to exit.
bool wait_for_tick(uint64_t *tick)
{
    pthread_mutex_lock(&cron_cond_lock);
    while (!qxtime_exit.load() && ticks_signalled == ticks_served)
        pthread_cond_wait(&cron_cond, &cron_cond_lock);
    bool go_on = !qxtime_exit.load();
    *tick = ticks_signalled;
    pthread_mutex_unlock(&cron_cond_lock);
    return go_on;
}

void finish_pass(uint64_t tick)
{
    pthread_mutex_lock(&cron_cond_lock);
    ticks_served = tick;
    pthread_cond_broadcast(&pass_done_cond);
    pthread_mutex_unlock(&cron_cond_lock);
}

void *cron_main(void *)
{
    set_presence(cron_presence, true);
    uint64_t tick = 0;
    while (wait_for_tick(&tick)) {
        run_due_tasks();
        finish_pass(tick);
    }
    set_presence(cron_presence, false);
    return nullptr;
}

// Waits until the deadline; false when the service is told to exit.
bool wait_one_second(const struct timespec &deadline)
{
    pthread_mutex_lock(&qxtime_manager_cond_lock);
    int rc = 0;
    while (!qxtime_exit.load() && rc != ETIMEDOUT)
        rc = pthread_cond_timedwait(&qxtime_manager_cond, &qxtime_manager_cond_lock, &deadline);
    bool go_on = !qxtime_exit.load();
    pthread_mutex_unlock(&qxtime_manager_cond_lock);
    return go_on;
}

// The tick goes out just before the new time is published, so a pass may see
// this second or the one before.
void *manager_main(void *)
{
    set_presence(manager_presence, true);
    struct timespec deadline;
    do {
        qxtimespec(&deadline, 1, 0);
        signal_tick();
        publish_time(time(nullptr));
    } while (wait_one_second(deadline));
    set_presence(manager_presence, false);
    return nullptr;
}

// Starts a detached thread and returns once it runs its loop: 0, or 1 when it
// could not be created.
int start_detached(void *(*thread_main)(void *), ThreadPresence &presence)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return 1;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, qxtime_thread_stacksize);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, thread_main, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return 1;
    wait_for_presence(presence, true);
    return 0;
}

void broadcast_under(pthread_mutex_t &lock, pthread_cond_t &cond)
{
    pthread_mutex_lock(&lock);
    pthread_cond_broadcast(&cond);
    pthread_mutex_unlock(&lock);
}

// Tells the running threads to leave their loops and waits until they have.
void stop_threads(bool with_manager)
{
    qxtime_exit.store(true);
    pthread_mutex_lock(&cron_cond_lock);
    pthread_cond_broadcast(&cron_cond);
    pthread_cond_broadcast(&pass_done_cond);
    pthread_mutex_unlock(&cron_cond_lock);
    broadcast_under(qxtime_manager_cond_lock, qxtime_manager_cond);
    if (with_manager)
        wait_for_presence(manager_presence, false);
    wait_for_presence(cron_presence, false);
}

void free_all_tasks()
{
    pthread_mutex_lock(&crontab_lock);
    while (crontab != nullptr) {
        CronTaskPtr next = crontab->next;
        std::free(crontab);
        crontab = next;
    }
    pthread_mutex_unlock(&crontab_lock);
}

void reset_ticks()
{
    pthread_mutex_lock(&cron_cond_lock);
    ticks_signalled = 0;
    ticks_served = 0;
    pthread_mutex_unlock(&cron_cond_lock);
}

int start_threads(bool simulated)
{
    if (!simulated && start_detached(manager_main, manager_presence) != 0)
        return 1;
    if (start_detached(cron_main, cron_presence) != 0) {
        // The clock thread alone would tick for nobody: stop it so that a
        // later start finds the service cleanly stopped.
        if (!simulated)
            stop_threads(true);
        return 1;
    }
    return 0;
}

int start_service(bool simulated, time_t starttime)
{
    pthread_mutex_lock(&service_lock);
    if (qxtime_initialized.load()) {
        pthread_mutex_unlock(&service_lock);
        qxlog_send(QXLOG_ERROR, "attempted re-initialize of qxtime\n");
        return 1;
    }
    qxtime_exit.store(false);
    reset_ticks();
    publish_time(simulated ? starttime : time(nullptr));
    if (start_threads(simulated) != 0) {
        qxtime_exit.store(false);
        pthread_mutex_unlock(&service_lock);
        qxlog_send(QXLOG_ERROR, "Time Service failed to start.\n");
        return 1;
    }
    system_timezone = std::getenv("TZ");
    pthread_rwlock_init(&timezone_env_lock, nullptr);
    qxtime_simulated.store(simulated);
    qxtime_initialized.store(true);
    pthread_mutex_unlock(&service_lock);
    return 0;
}

} // namespace

namespace velmora {

bool qxtime_wait_for_pass(int timeout_ms) noexcept
{
    struct timespec deadline;
    qxtimespec(&deadline, 0, timeout_ms);
    pthread_mutex_lock(&cron_cond_lock);
    uint64_t target = ticks_signalled;
    int rc = 0;
    while (qxtime_initialized.load() && !qxtime_exit.load() && ticks_served < target && rc != ETIMEDOUT)
        rc = pthread_cond_timedwait(&pass_done_cond, &cron_cond_lock, &deadline);
    bool done = ticks_served >= target && qxtime_initialized.load();
    pthread_mutex_unlock(&cron_cond_lock);
    return done;
}

} // namespace velmora

extern "C" {

int qxtime_initialize(void) noexcept
{
    return start_service(false, 0);
}

int qxtime_sim_initialize(time_t starttime) noexcept
{
    return start_service(true, starttime);
}

// In simulated mode the time is published before the tick, so the pass that
// the tick starts sees the time just set (the clock thread's order would let
// it run against the previous time, and no later tick would correct that).
void qxtime_sim_settime(time_t new_time) noexcept
{
    if (!qxtime_simulated.load()) {
        qxlog_send(QXLOG_ERROR, "qxtime_sim_settime: qxtime is not in simulated mode");
        return;
    }
    publish_time(new_time);
    signal_tick();
}

void qxtime_sim_inctime(time_t inc_time) noexcept
{
    if (!qxtime_simulated.load()) {
        qxlog_send(QXLOG_ERROR, "qxtime_sim_inctime: qxtime is not in simulated mode");
        return;
    }
    publish_time(published_time() + inc_time);
    signal_tick();
}

void qxtime_terminate(void) noexcept
{
    pthread_mutex_lock(&service_lock);
    if (qxtime_initialized.load()) {
        stop_threads(!qxtime_simulated.load());
        pthread_rwlock_destroy(&timezone_env_lock);
    }
    free_all_tasks();
    qxtime_initialized.store(false);
    qxtime_simulated.store(false);
    qxtime_exit.store(false);
    pthread_mutex_unlock(&service_lock);
}

CronTaskPtr add_cron_task(int32_t interval, crontask_proc_t proc, void *data) noexcept
{
    // A task without work would crash the cron thread: refused like a failed add.
    if (proc == nullptr)
        return nullptr;
    auto *task = static_cast<CronTaskPtr>(std::malloc(sizeof(_crontask)));
    if (task == nullptr)
        return nullptr;
    task->last_run_time = published_time();
    task->interval = interval;
    task->proc = proc;
    task->data = data;
    task->next = nullptr;
    pthread_mutex_lock(&crontab_lock);
    CronTaskPtr *end = &crontab;
    while (*end != nullptr)
        end = &(*end)->next;
    *end = task;
    pthread_mutex_unlock(&crontab_lock);
    return task;
}

void del_cron_task(CronTaskPtr task) noexcept
{
    pthread_mutex_lock(&crontab_lock);
    for (CronTaskPtr *link = &crontab; *link != nullptr; link = &(*link)->next) {
        if (*link == task) {
            *link = task->next;
            std::free(task);
            break;
        }
    }
    pthread_mutex_unlock(&crontab_lock);
}

void set_qxdstartuptime(void) noexcept
{
    qxdstartuptime = time(nullptr);
}

void calendar_time(char *str_time, time_t reg_time) noexcept
{
    if (str_time == nullptr)
        return;
    struct tm local;
    if (reg_time == 0 || localtime_r(&reg_time, &local) == nullptr ||
        strftime(str_time, 99, "%a, %d %b %Y %H:%M:%S %z", &local) == 0)
        std::strcpy(str_time, "Time not defined");
}

} // extern "C"
