#include "log_files_support.h"

#include "velmora/config.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace log_files_test;

std::string rotated(const std::string &name, int generation)
{
    return name + "." + std::to_string(generation);
}

std::string dump_text()
{
    char *dump = qxlog_config_dump(nullptr, nullptr);
    std::string text = dump != nullptr ? dump : "(null)";
    std::free(dump);
    return text;
}

void rotate(LOGFILE *l)
{
    pthread_mutex_lock(&l->lock);
    qxlog_rotate_file_unlocked(l);
    pthread_mutex_unlock(&l->lock);
}

// ---- Rotation -----------------------------------------------------------

class RotationHistory : public LogFiles, public ::testing::WithParamInterface<int> {};

TEST_P(RotationHistory, KeepsTheNewestGenerations)
{
    const int history = GetParam();
    LOGFILE *l = create(&qxlog_message, "m.log", 1000000, history);
    ASSERT_NE(l, nullptr);
    const int rounds = 4;
    for (int round = 1; round <= rounds; round++) {
        qxlog_send(QXLOG_MESSAGE, "round %d\n", round);
        flush(l);
        rotate(l);
        EXPECT_EQ(l->size, 0);
        ASSERT_GE(l->fd, 0);
    }
    EXPECT_EQ(read_file(path("m.log")), "") << "a fresh file follows each rotation";
    for (int k = 0; k < history; k++) {
        std::vector<std::string> kept = messages(rotated("m.log", k));
        EXPECT_EQ(kept, std::vector<std::string>{"round " + std::to_string(rounds - k)}) << "generation " << k;
    }
    EXPECT_FALSE(file_exists(path(rotated("m.log", history)))) << "the oldest generation is dropped";
}

INSTANTIATE_TEST_SUITE_P(Generations, RotationHistory, ::testing::Values(0, 1, 3));

TEST_F(LogFiles, SizeLimitRotatesAndBufferedLinesGoToTheNewFile)
{
    LOGFILE *l = create(&qxlog_message, "m.log", 100000, 2);
    ASSERT_NE(l, nullptr);
    const std::string pad(1000, 'p');
    std::vector<std::string> sent;
    for (int i = 0; i < 150; i++) {
        sent.push_back("line " + std::to_string(i) + " " + pad);
        qxlog_send(QXLOG_MESSAGE, "%s\n", sent.back().c_str());
    }
    flush(l);
    std::vector<std::string> older = messages(rotated("m.log", 0));
    std::vector<std::string> newer = messages("m.log");
    EXPECT_FALSE(older.empty());
    EXPECT_LE(read_file(path(rotated("m.log", 0))).size(), 100000u);
    EXPECT_FALSE(file_exists(path(rotated("m.log", 1))));
    older.insert(older.end(), newer.begin(), newer.end());
    EXPECT_EQ(older, sent) << "every line once, in order, across the two files";
}

TEST_F(LogFiles, RotationOfADisabledOrClosedChannelDoesNothing)
{
    LOGFILE *off = create(&qxlog_debug, "d.log", 1000000, 5, 0);
    ASSERT_NE(off, nullptr);
    rotate(off);
    EXPECT_FALSE(file_exists(path("d.log")));
    EXPECT_FALSE(file_exists(path(rotated("d.log", 0))));
}

TEST_F(LogFiles, FileThatCannotBeReopenedSignalsTheProcess)
{
    ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
    LOGFILE *l = create(&qxlog_message, "sub/m.log", 1000000, 0);
    ASSERT_GE(l->fd, 0);
    ASSERT_EQ(unlink(path("sub/m.log").c_str()), 0);
    ASSERT_EQ(rmdir(path("sub").c_str()), 0);
    SigtermCounter sigterm;
    rotate(l);
    for (int wait = 0; wait < 100 && SigtermCounter::count() == 0; wait++)
        usleep(10000);
    EXPECT_EQ(SigtermCounter::count(), 1);
    EXPECT_EQ(l->fd, -1);
}

// ---- Channel creation ---------------------------------------------------

struct LimitCase {
    int64_t max_size;
    int32_t history;
    int64_t effective_size;
    int32_t effective_history;
    const char *caution; // with %s for the file name; nullptr: none
};

class ChannelLimits : public LogFiles, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(ChannelLimits, AreAppliedWithACaution)
{
    const LimitCase &c = GetParam();
    LOGFILE *message = create(&qxlog_message, "m.log");
    LOGFILE *l = create(&qxlog_error, "e.log", c.max_size, c.history);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->max_size, c.effective_size);
    EXPECT_EQ(l->history, c.effective_history);
    flush(message);
    std::vector<std::string> expected;
    if (c.caution != nullptr) {
        char line[512];
        std::snprintf(line, sizeof line, c.caution, path("e.log").c_str());
        expected.push_back(line);
    }
    EXPECT_EQ(messages("m.log"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ChannelLimits,
    ::testing::Values(LimitCase{5000, 5, 100000, 5, "CAUTION: %s max_size is less than 100000, set to 100000."},
                      LimitCase{2000000000, 5, 1000000000, 5, "CAUTION: %s max_size is larger than 1g, set to 1g"},
                      LimitCase{1000000, -3, 1000000, 0, "CAUTION: %s history less than zero, set to zero"},
                      LimitCase{100000, 0, 100000, 0, nullptr}, LimitCase{1000000000, 7, 1000000000, 7, nullptr}));

TEST_F(LogFiles, EnabledChannelAppendsToAnExistingFile)
{
    {
        std::ofstream existing(path("m.log"));
        existing << "earlier\n";
    }
    LOGFILE *l = create(&qxlog_message, "m.log");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->size, 8);
    ASSERT_NE(l->sessions, nullptr);
    EXPECT_EQ(l->sessions->locked_set, 1);
    EXPECT_EQ(qxlog_create(nullptr, 100000, 1, 1), nullptr);
}

TEST_F(LogFiles, DumpShowsTheEffectiveSettings)
{
    EXPECT_EQ(dump_text(), "log_syslog_enabled 0\n"
                                  "log_remoteadmin_enabled 0\nlog_remoteadmin_filename \n"
                                  "log_remoteadmin_max_size 0\nlog_remoteadmin_history 0\n"
                                  "log_message_enabled 0\nlog_message_filename \n"
                                  "log_message_max_size 0\nlog_message_history 0\n"
                                  "log_debug_enabled 0\nlog_debug_filename \n"
                                  "log_debug_max_size 0\nlog_debug_history 0\n"
                                  "log_error_enabled 0\nlog_error_filename \n"
                                  "log_error_max_size 0\nlog_error_history 0\n");
    qxlog_silent_mode = 1;
    create(&qxlog_message, "m.log", 5000, 2);
    create(&qxlog_debug, "d.log", 300000, -1, 0);
    std::string text = dump_text();
    EXPECT_NE(text.find("log_message_enabled 1\nlog_message_filename " + path("m.log") +
                        "\nlog_message_max_size 100000\nlog_message_history 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("log_debug_enabled 0\nlog_debug_filename " + path("d.log") +
                        "\nlog_debug_max_size 300000\nlog_debug_history 0\n"),
              std::string::npos)
        << text;
}

// ---- Maintenance and shutdown -------------------------------------------

TEST_F(LogFiles, MaintenanceFlushesEveryTick)
{
    create_all();
    start_maintenance();
    qxlog_send(QXLOG_ERROR, "buffered\n");
    EXPECT_FALSE(contains(messages("e.log"), "buffered"));
    tick();
    EXPECT_TRUE(contains(messages("e.log"), "buffered"));
}

TEST_F(LogFiles, ForcedRotationRotatesEveryChannelOnTheNextTick)
{
    create_all();
    start_maintenance();
    for (int type : {QXLOG_MESSAGE, QXLOG_REMOTEADMIN, QXLOG_ERROR})
        qxlog_send(type, "before %d\n", type);
    tick(); // flushes
    __atomic_store_n(&qxlog_force_rotate, 1, __ATOMIC_RELEASE);
    tick();
    EXPECT_EQ(__atomic_load_n(&qxlog_force_rotate, __ATOMIC_ACQUIRE), 0);
    EXPECT_TRUE(contains(messages(rotated("m.log", 0)), "before 1"));
    EXPECT_TRUE(contains(messages(rotated("r.log", 0)), "before 2"));
    EXPECT_TRUE(contains(messages(rotated("e.log", 0)), "before 4"));
    EXPECT_FALSE(file_exists(path("d.log"))) << "the disabled debug channel has no file";
    tick(); // flushes the rotation messages
    std::vector<std::string> expected;
    for (const char *name : {"m.log", "r.log", "d.log", "e.log"})
        expected.push_back("Rotated log file " + path(name));
    expected.push_back("All Log files rotated forcefully.");
    std::vector<std::string> lines = messages("m.log");
    std::vector<std::string> rotation_lines;
    for (const std::string &line : lines) {
        if (line.find("otated") != std::string::npos)
            rotation_lines.push_back(line);
    }
    EXPECT_EQ(rotation_lines, expected);
}

TEST_F(LogFiles, ClockStepBackRotatesOnce)
{
    create_all();
    start_maintenance();
    qxlog_send(QXLOG_MESSAGE, "before\n");
    tick();
    tick_to(now_ - 3600);
    EXPECT_TRUE(contains(messages(rotated("m.log", 0)), "before"));
    tick();
    EXPECT_FALSE(file_exists(path(rotated("m.log", 1)))) << "one step, one rotation";
}

TEST_F(LogFiles, WriteErrorDuringMaintenanceSignalsOnceAndLoggingGoesOn)
{
    create_all();
    int read_only = open(path("e.log").c_str(), O_RDONLY);
    ASSERT_GE(read_only, 0);
    ASSERT_GE(dup2(read_only, qxlog_error->fd), 0); // every write now fails
    close(read_only);
    start_maintenance();
    SigtermCounter sigterm;
    for (int round = 0; round < 3; round++) {
        qxlog_send(QXLOG_ERROR, "lost %d\n", round);
        tick();
        EXPECT_EQ(qxlog_error->buff_size, 0) << "the buffer is emptied either way";
    }
    for (int wait = 0; wait < 100 && SigtermCounter::count() == 0; wait++)
        usleep(10000);
    EXPECT_EQ(SigtermCounter::count(), 1);
    qxlog_send(QXLOG_MESSAGE, "still logging\n");
    tick();
    EXPECT_TRUE(contains(messages("m.log"), "still logging"));
    terminating = 0;
}

TEST_F(LogFiles, ShutdownFlushesClosesAndReturnsToStandardError)
{
    create_all();
    start_maintenance();
    ASSERT_NE(qxlog_maintenance_task, nullptr);
    qxlog_send(QXLOG_REMOTEADMIN, "last words\n");
    qxlog_config_terminate(0, nullptr);
    EXPECT_NE(qxlog_message, nullptr) << "without onShutdown nothing happens";
    qxlog_config_terminate(1, nullptr);
    for (LOGFILE *l : {qxlog_message, qxlog_remoteadmin, qxlog_debug, qxlog_error})
        EXPECT_EQ(l, nullptr);
    EXPECT_EQ(qxlog_maintenance_task, nullptr);
    EXPECT_EQ(terminating, 0);
    EXPECT_TRUE(contains(messages("r.log"), "last words"));
    EXPECT_TRUE(contains(messages("m.log"), "Shutdown Completed"));
    testing::internal::CaptureStderr();
    qxlog_send(QXLOG_MESSAGE, "after\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n");
}

// ---- Configuration ------------------------------------------------------

// Configures the logs from lines, working in <dir>/run so that the default
// file names land in <dir>/logs.
class ConfiguredLogs : public LogFiles {
protected:
    void SetUp() override
    {
        LogFiles::SetUp();
        ASSERT_EQ(mkdir(path("run").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(path("logs").c_str(), 0755), 0);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        cwd_ = cwd;
        ASSERT_EQ(chdir(path("run").c_str()), 0);
        config_ = config_configuration_create();
        ASSERT_NE(config_, nullptr);
    }
    void TearDown() override
    {
        config_configuration_free(config_);
        EXPECT_EQ(chdir(cwd_.c_str()), 0);
        LogFiles::TearDown();
    }

    int configure(const std::vector<std::string> &lines)
    {
        for (const std::string &line : lines)
            EXPECT_EQ(config_configuration_add_line(config_, "%s", line.c_str()), 0) << line;
        return qxlog_config_initialize(1, config_, nullptr, nullptr);
    }

    void *config_ = nullptr;
    std::string cwd_;
};

TEST_F(ConfiguredLogs, ProgramNameAloneGivesTheDefaults)
{
    ASSERT_EQ(configure({"program_name x"}), 0);
    EXPECT_EQ(qxlog_silent_mode, 1);
    for (const char *name : {"x_error.log", "x_message.log", "x_remoteadmin.log"})
        EXPECT_TRUE(file_exists(path(std::string("logs/") + name))) << name;
    ASSERT_NE(qxlog_debug, nullptr);
    EXPECT_EQ(qxlog_debug->enabled, 0);
    EXPECT_FALSE(file_exists(path("logs/x_debug.log")));
    EXPECT_EQ(std::string(qxlog_error->name), "../logs/x_error.log");
    EXPECT_NE(qxlog_maintenance_task, nullptr);
    EXPECT_EQ(dump_text(), "log_syslog_enabled 0\n"
                                 "log_remoteadmin_enabled 1\nlog_remoteadmin_filename ../logs/x_remoteadmin.log\n"
                                 "log_remoteadmin_max_size 1000000\nlog_remoteadmin_history 5\n"
                                 "log_message_enabled 1\nlog_message_filename ../logs/x_message.log\n"
                                 "log_message_max_size 1000000\nlog_message_history 5\n"
                                 "log_debug_enabled 0\nlog_debug_filename ../logs/x_debug.log\n"
                                 "log_debug_max_size 1000000\nlog_debug_history 5\n"
                                 "log_error_enabled 1\nlog_error_filename ../logs/x_error.log\n"
                                 "log_error_max_size 1000000\nlog_error_history 5\n");
}

TEST_F(ConfiguredLogs, SettingsAreReadPerChannel)
{
    ASSERT_EQ(configure({"program_name y", "stderr_allowed yes", "log_debug_enabled on",
                         "log_debug_filename " + path("dbg.log"), "log_remoteadmin_max_size 5000",
                         "log_error_max_size 2MB", "log_error_history 2", "log_message_history -1"}),
              0);
    EXPECT_EQ(qxlog_silent_mode, 0);
    EXPECT_TRUE(file_exists(path("dbg.log")));
    EXPECT_EQ(qxlog_debug_enabled(), 1);
    EXPECT_EQ(qxlog_remoteadmin->max_size, 100000);
    EXPECT_EQ(qxlog_error->max_size, 2000000);
    EXPECT_EQ(qxlog_error->history, 2);
    EXPECT_EQ(qxlog_message->history, 0);
    flush(qxlog_message);
    std::vector<std::string> notes = messages("logs/y_message.log");
    EXPECT_TRUE(contains(notes, "CAUTION: ../logs/y_remoteadmin.log max_size is less than 100000, set to 100000."));
}

TEST_F(ConfiguredLogs, MessageChannelCautionGoesToStandardErrorBeforeTheChannelIsSet)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(configure({"program_name z", "stderr_allowed 1", "log_message_max_size 5000"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CAUTION: ../logs/z_message.log max_size is less than 100000, set to 100000.\n");
    EXPECT_EQ(qxlog_message->max_size, 100000);
}

TEST_F(ConfiguredLogs, MissingProgramNameFails)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(configure({"stderr_allowed true"}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not get program name from configuration.  Required for log file name generation.\n");
    EXPECT_EQ(qxlog_message, nullptr);
}

TEST_F(ConfiguredLogs, WithoutStartupNothingChanges)
{
    config_configuration_add_line(config_, "program_name x");
    EXPECT_EQ(qxlog_config_initialize(0, config_, nullptr, nullptr), 0);
    EXPECT_EQ(qxlog_message, nullptr);
    EXPECT_EQ(qxlog_silent_mode, 0);
    EXPECT_EQ(qxlog_maintenance_task, nullptr);
}

struct UnopenedCase {
    const char *stderr_allowed;
    int result;
};

class UnopenedFiles : public ConfiguredLogs, public ::testing::WithParamInterface<UnopenedCase> {};

TEST_P(UnopenedFiles, FailOnlyWhenStandardErrorIsNotAllowed)
{
    qxlog_silent_mode = 0;
    testing::internal::CaptureStderr();
    int result = configure({"program_name u", std::string("stderr_allowed ") + GetParam().stderr_allowed,
                            "log_remoteadmin_filename /nonexistent/dir/r.log"});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, GetParam().result);
    flush(qxlog_error);
    std::vector<std::string> errors = messages("logs/u_error.log");
    EXPECT_TRUE(contains(errors, "Could not open log file /nonexistent/dir/r.log"));
    EXPECT_TRUE(contains(errors, "Failed to open remoteadmin log file /nonexistent/dir/r.log"));
    EXPECT_EQ(contains(errors, "Failed to initialize log files and silent mode is disabled"), result == 1);
    EXPECT_EQ(err, "") << "the error channel took every report";
}

INSTANTIATE_TEST_SUITE_P(StandardError, UnopenedFiles,
                         ::testing::Values(UnopenedCase{"no", 1}, UnopenedCase{"yes", 0}));

TEST_F(ConfiguredLogs, ConfiguringAgainReplacesTheChannels)
{
    ASSERT_EQ(configure({"program_name a"}), 0);
    qxlog_send(QXLOG_MESSAGE, "first run\n");
    config_configuration_free(config_);
    config_ = config_configuration_create();
    ASSERT_EQ(configure({"program_name b"}), 0);
    EXPECT_TRUE(contains(messages("logs/a_message.log"), "first run")) << "the old channel was flushed";
    EXPECT_EQ(std::string(qxlog_message->name), "../logs/b_message.log");
}

// ---- Concurrency --------------------------------------------------------

// Writers log while the maintenance flushes, expires sessions and rotates
// (forced and by size) and a reader samples a session: every line reaches
// exactly one file generation, and each writer's lines stay in order.
TEST_F(LogFiles, ConcurrentLoggingWithMaintenanceAndRotation)
{
    constexpr int writers = 4;
    constexpr int at_least = 2000;  // lines per writer
    constexpr int at_most = 8000;   // bounds the generations needed
    constexpr int overlap_ticks = 12; // writers go on until this many ticks ran
    constexpr int history = 100;
    qxlog_silent_mode = 1;
    LOGFILE *l = create(&qxlog_message, "m.log", 100000, history);
    ASSERT_NE(l, nullptr);
    start_maintenance();
    ASSERT_EQ(qxlog_logsession_create("qxd_message", "watch", "filter=writer", 100, 200), 0);
    std::atomic<int> ticks{0};
    std::atomic<int> done{0};
    std::vector<int> written(writers, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; w++) {
        threads.emplace_back([w, &done, &ticks, &written] {
            int i = 0;
            for (; i < at_most && (i < at_least || ticks.load() < overlap_ticks); i++) {
                qxlog_send(QXLOG_MESSAGE, "writer %d line %d %s\n", w, i, "................................");
                if (i % 64 == 0)
                    std::this_thread::yield();
            }
            written[w] = i;
            done++;
        });
    }
    std::atomic<size_t> sampled{0};
    std::thread sampler([&done, &sampled] {
        // the last sample comes after every writer finished
        for (bool finished = false; !finished;) {
            finished = done.load() == writers;
            logsession_sample_t *sample = qxlog_logsession_sample("qxd_message", "watch");
            if (sample != nullptr)
                sampled += sample->size;
            logsession_sample_destroy(sample);
        }
    });
    while (done.load() < writers) {
        if (ticks.load() % 4 == 3)
            __atomic_store_n(&qxlog_force_rotate, 1, __ATOMIC_RELEASE);
        tick();
        ticks++;
    }
    for (std::thread &t : threads)
        t.join();
    sampler.join();
    tick();
    EXPECT_GT(sampled.load(), 0u);

    std::vector<int> next(writers, 0);
    for (int generation = history; generation >= -1; generation--) {
        std::string name = generation >= 0 ? rotated("m.log", generation) : "m.log";
        for (const std::string &line : messages(name)) {
            int w = -1;
            int i = -1;
            if (std::sscanf(line.c_str(), "writer %d line %d", &w, &i) != 2)
                continue;
            ASSERT_TRUE(w >= 0 && w < writers) << line;
            EXPECT_EQ(i, next[w]) << "writer " << w << " out of order in " << name;
            next[w] = i + 1;
        }
    }
    for (int w = 0; w < writers; w++)
        EXPECT_EQ(next[w], written[w]) << "writer " << w;
    EXPECT_FALSE(file_exists(path(rotated("m.log", history - 1)))) << "history too small to check every line";
}

} // namespace
