#include "velmora/qxtime.h"

#include "internal/qxtime_sync.h"
#include "velmora/qxlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// A full minute since the epoch (so also a multiple of 60 in UTC).
constexpr time_t minute_base = 1699999980;

struct RunLog {
    std::vector<time_t> runs;
    std::vector<int> reset_flags;
};

void *record_run(void *data)
{
    auto *log = static_cast<RunLog *>(data);
    log->runs.push_back(current_time);
    log->reset_flags.push_back(static_cast<int>(qxtime_reset_time));
    return nullptr;
}

// Simulated time service; the messages it sends (clock steps between tests)
// are kept off standard error unless a test asks for them.
class SimulatedTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        qxlog_silent_mode = 1;
        ASSERT_EQ(qxtime_sim_initialize(minute_base + 30), 0);
        step_to(minute_base + 30); // settles a clock step from an earlier test
    }
    void TearDown() override
    {
        qxtime_terminate();
        qxlog_silent_mode = 0;
    }
    static void step_to(time_t t)
    {
        qxtime_sim_settime(t);
        ASSERT_TRUE(velmora::qxtime_wait_for_pass(5000));
    }
};

struct ScheduleStep {
    time_t offset;   // from minute_base
    size_t runs;     // runs so far after this step
};

TEST_F(SimulatedTime, IntervalTaskRunsOnBoundariesAndCatchesUpOnce)
{
    RunLog log;
    // Added at 10:00:30.
    ASSERT_NE(add_cron_task(60, record_run, &log), nullptr);
    const ScheduleStep steps[] = {
        {31, 0},  {59, 0},  {60, 1},  // 10:01:00
        {90, 1},                      // 10:01:30
        {125, 2},                     // 10:02:05: 10:02:00 was missed, overdue
        {150, 2}, {180, 3},           // 10:03:00
        {180, 4},                     // the same second seen again runs again
    };
    for (const ScheduleStep &step : steps) {
        step_to(minute_base + step.offset);
        EXPECT_EQ(log.runs.size(), step.runs) << "at offset " << step.offset;
    }
    ASSERT_EQ(log.runs.size(), 4u);
    EXPECT_EQ(log.runs[1], minute_base + 125);
}

TEST_F(SimulatedTime, IntervalZeroRunsOnEveryTick)
{
    RunLog log;
    ASSERT_NE(add_cron_task(0, record_run, &log), nullptr);
    for (int i = 1; i <= 5; i++)
        step_to(minute_base + 30 + i);
    qxtime_sim_inctime(7);
    ASSERT_TRUE(velmora::qxtime_wait_for_pass(5000));
    ASSERT_EQ(log.runs.size(), 6u);
    EXPECT_EQ(log.runs.back(), minute_base + 42);
}

TEST_F(SimulatedTime, TasksRunInOrderOfAddition)
{
    std::vector<int> order;
    auto first = [](void *d) -> void * { static_cast<std::vector<int> *>(d)->push_back(1); return nullptr; };
    auto second = [](void *d) -> void * { static_cast<std::vector<int> *>(d)->push_back(2); return nullptr; };
    add_cron_task(0, second, &order);
    add_cron_task(0, first, &order);
    step_to(minute_base + 31);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST_F(SimulatedTime, BackwardsStepReportsAndFlagsUntilPassEnds)
{
    RunLog log;
    ASSERT_NE(add_cron_task(0, record_run, &log), nullptr);
    step_to(minute_base + 100);
    qxlog_silent_mode = 0;
    testing::internal::CaptureStderr();
    qxtime_sim_settime(minute_base + 50);
    ASSERT_TRUE(velmora::qxtime_wait_for_pass(5000));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Logger: Detected Clock Change! Rotating Log Files.\n");
    ASSERT_EQ(log.reset_flags.size(), 2u);
    EXPECT_EQ(log.reset_flags[0], 0);
    EXPECT_EQ(log.reset_flags[1], 1) << "the task of the pass sees the flag";
    EXPECT_EQ(static_cast<int>(qxtime_reset_time), 0) << "cleared at the end of the pass";

    testing::internal::CaptureStderr();
    step_to(minute_base + 200); // forward jumps are not reported
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(log.reset_flags.back(), 0);
}

TEST_F(SimulatedTime, DeletedTasksStopRunningAndDoubleDeleteIsIgnored)
{
    RunLog kept;
    RunLog deleted;
    add_cron_task(0, record_run, &kept);
    CronTaskPtr task = add_cron_task(0, record_run, &deleted);
    ASSERT_NE(task, nullptr);
    step_to(minute_base + 31);
    del_cron_task(task);
    del_cron_task(task); // no longer in the list: only compared, never touched
    del_cron_task(nullptr);
    step_to(minute_base + 32);
    EXPECT_EQ(kept.runs.size(), 2u);
    EXPECT_EQ(deleted.runs.size(), 1u);
}

TEST_F(SimulatedTime, SecondStartIsRefused)
{
    qxlog_silent_mode = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(qxtime_sim_initialize(minute_base), 1);
    EXPECT_EQ(qxtime_initialize(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "attempted re-initialize of qxtime\nattempted re-initialize of qxtime\n");
    EXPECT_EQ(current_time, minute_base + 30);
}

TEST_F(SimulatedTime, AddRefusesATaskWithoutWork)
{
    EXPECT_EQ(add_cron_task(1, nullptr, nullptr), nullptr);
    step_to(minute_base + 31); // the cron thread survives the pass
}

class TimeZoneUtc : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_)
            saved_tz_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (had_tz_)
            setenv("TZ", saved_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

TEST_F(TimeZoneUtc, CalendarTime)
{
    char text[99];
    calendar_time(text, 0);
    EXPECT_STREQ(text, "Time not defined");
    calendar_time(text, minute_base + 7);
    EXPECT_STREQ(text, "Tue, 14 Nov 2023 22:13:07 +0000");
}

TEST_F(TimeZoneUtc, PublishedTexts)
{
    qxlog_silent_mode = 1;
    ASSERT_EQ(qxtime_sim_initialize(minute_base + 7), 0);
    pthread_mutex_lock(&current_time_str_lock);
    std::string text = current_time_str;
    std::string rfc822 = current_time_rfc822;
    pthread_mutex_unlock(&current_time_str_lock);
    qxtime_terminate();
    qxlog_silent_mode = 0;
    EXPECT_EQ(text, "2023-11-14 22:13:07");
    EXPECT_EQ(static_cast<int>(text.size()), current_time_len);
    EXPECT_EQ(rfc822, "Tue, 14 Nov 2023 22:13:07 UTC");
    EXPECT_STREQ(system_timezone, "UTC");
}

// The real clock: runs briefly with the service's own threads.
TEST(TimeServiceClock, PublishesTheClockAndTicksOnceASecond)
{
    qxlog_silent_mode = 1;
    std::atomic<int> ticks{0};
    auto count_tick = [](void *d) -> void * { static_cast<std::atomic<int> *>(d)->fetch_add(1); return nullptr; };
    ASSERT_EQ(qxtime_initialize(), 0);
    ASSERT_NE(add_cron_task(0, count_tick, &ticks), nullptr);
    EXPECT_LE(std::labs(static_cast<long>(__atomic_load_n(&current_time, __ATOMIC_ACQUIRE) - time(nullptr))), 1L);

    qxlog_silent_mode = 0;
    testing::internal::CaptureStderr();
    qxtime_sim_settime(1000);
    qxtime_sim_inctime(5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "qxtime_sim_settime: qxtime is not in simulated modeqxtime_sim_inctime: qxtime is not in simulated mode");
    qxlog_silent_mode = 1;
    EXPECT_GT(__atomic_load_n(&current_time, __ATOMIC_ACQUIRE), 1000 + 5);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ticks.load() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    qxtime_terminate();
    EXPECT_GE(ticks.load(), 2);
    int after_stop = ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(ticks.load(), after_stop) << "no tasks after terminate";
    EXPECT_FALSE(velmora::qxtime_wait_for_pass(10));
    qxlog_silent_mode = 0;
}

TEST(TimeServiceClock, StartupTime)
{
    set_qxdstartuptime();
    EXPECT_LE(std::labs(static_cast<long>(qxdstartuptime - time(nullptr))), 1L);
}

} // namespace
