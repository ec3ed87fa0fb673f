#include "velmora/qxlog.h"

#include "internal/log_channel.h"
#include "velmora/qxtime.h"
#include "sigterm_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <syslog.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char *test_time = "2024-01-31 13:45:07";
constexpr int prefix_len = 20; // time text and one space

struct SyslogLine {
    int priority;
    std::string format;
};

std::vector<SyslogLine> syslog_lines;

void capture_syslog(int priority, const char *format)
{
    syslog_lines.push_back({priority, format});
}

// What syslog prints for a captured format (it gets no arguments).
std::string expand(const std::string &format)
{
    char out[256];
    std::snprintf(out, sizeof out, format.c_str(), 0); // NOLINT: checked format
    return out;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// True for a 19-character "YYYY-MM-DD hh:mm:ss" text.
bool is_time_text(const std::string &text)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); i++) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i])
            return false;
    }
    return true;
}

void set_time_text(const char *text)
{
    pthread_mutex_lock(&current_time_str_lock);
    std::snprintf(current_time_str, sizeof current_time_str, "%s", text);
    pthread_mutex_unlock(&current_time_str_lock);
}

// Channels on files in a fresh directory, installed as the process's channels
// and removed again afterwards; syslog copies are captured.
class LogChannels : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "qxlogXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir_ = buf.data();
        set_time_text(test_time);
        syslog_lines.clear();
        velmora::set_syslog_writer(capture_syslog);
    }

    void TearDown() override
    {
        for (LOGFILE **slot : {&qxlog_message, &qxlog_remoteadmin, &qxlog_debug, &qxlog_error}) {
            velmora::log_channel_close(*slot);
            *slot = nullptr;
        }
        velmora::set_syslog_writer(nullptr);
        velmora::set_channel_rotator(nullptr);
        velmora::set_session_inserter(nullptr);
        qxlog_syslog_enabled = 0;
        qxlog_silent_mode = 0;
        set_time_text("");
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string path(const char *name) const { return dir_ + "/" + name; }

    LOGFILE *install(LOGFILE **slot, const char *name, int enabled = 1, int64_t max_size = 1000000)
    {
        *slot = velmora::log_channel_open(path(name).c_str(), max_size, 5, enabled);
        return *slot;
    }

    static void flush(LOGFILE *l)
    {
        pthread_mutex_lock(&l->lock);
        qxlog_flush_unlocked(l);
        pthread_mutex_unlock(&l->lock);
    }

    std::string dir_;
};

struct StderrCase {
    int log_type;
    int silent;
    const char *expected;
};

class LogWithoutChannels : public ::testing::TestWithParam<StderrCase> {};

TEST_P(LogWithoutChannels, GoesToStandardErrorAsFormatted)
{
    const StderrCase &c = GetParam();
    qxlog_silent_mode = c.silent;
    testing::internal::CaptureStderr();
    qxlog_send(c.log_type, "value %d, %s\n", 42, "text");
    std::string err = testing::internal::GetCapturedStderr();
    qxlog_silent_mode = 0;
    EXPECT_EQ(err, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Types, LogWithoutChannels,
    ::testing::Values(StderrCase{QXLOG_MESSAGE, 0, "value 42, text\n"},
                      StderrCase{QXLOG_REMOTEADMIN, 0, "value 42, text\n"},
                      StderrCase{QXLOG_ERROR, 0, "value 42, text\n"},
                      StderrCase{QXLOG_DEBUG, 0, ""}, StderrCase{5, 0, ""}, StderrCase{0, 0, ""},
                      StderrCase{QXLOG_MESSAGE, 1, ""}, StderrCase{QXLOG_ERROR, 1, ""}));

TEST_F(LogChannels, LineIsTimeSpaceMessage)
{
    LOGFILE *l = install(&qxlog_message, "m.log");
    ASSERT_NE(l, nullptr);
    qxlog_send(QXLOG_MESSAGE, "Rotated log file %s\n", "x");
    qxlog_send(QXLOG_MESSAGE, "second\n");
    EXPECT_EQ(read_file(path("m.log")), "") << "buffered until flushed";
    flush(l);
    std::string expected = std::string(test_time) + " Rotated log file x\n" + test_time + " second\n";
    EXPECT_EQ(read_file(path("m.log")), expected);
    EXPECT_EQ(l->size, static_cast<int64_t>(expected.size()));
    EXPECT_EQ(l->buff_size, 0);
}

TEST_F(LogChannels, SizeStartsAtTheExistingFileLength)
{
    {
        std::ofstream existing(path("old.log"));
        existing << "0123456789";
    }
    LOGFILE *l = install(&qxlog_error, "old.log");
    EXPECT_EQ(l->size, 10);
    qxlog_send(QXLOG_ERROR, "e\n");
    flush(l);
    EXPECT_EQ(read_file(path("old.log")), std::string("0123456789") + test_time + " e\n");
}

TEST_F(LogChannels, TimeTextNotYetPublishedUsesTheClock)
{
    set_time_text("");
    LOGFILE *l = install(&qxlog_message, "m.log");
    qxlog_send(QXLOG_MESSAGE, "early\n");
    flush(l);
    std::string line = read_file(path("m.log"));
    ASSERT_EQ(line.size(), 19u + 7u) << line;
    EXPECT_TRUE(is_time_text(line.substr(0, 19))) << line;
    EXPECT_EQ(line.substr(19), " early\n");
}

TEST_F(LogChannels, DisabledChannelDropsEverything)
{
    install(&qxlog_error, "e.log", 0);
    qxlog_syslog_enabled = 1;
    testing::internal::CaptureStderr();
    qxlog_send(QXLOG_ERROR, "dropped\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(syslog_lines.empty());
    EXPECT_NE(access(path("e.log").c_str(), F_OK), 0) << "a disabled channel opens no file";
}

TEST_F(LogChannels, ChannelWithoutFileFallsBackToStandardError)
{
    qxlog_silent_mode = 1; // keeps the open failure report quiet
    install(&qxlog_debug, "missing/dir/d.log");
    install(&qxlog_error, "missing/dir/e.log");
    qxlog_silent_mode = 0;
    ASSERT_LT(qxlog_debug->fd, 0);
    qxlog_syslog_enabled = 1;
    testing::internal::CaptureStderr();
    qxlog_send(QXLOG_DEBUG, "debug %d\n", 1);
    qxlog_send(QXLOG_ERROR, "error %d\n", 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "debug 1\nerror 2\n");
    EXPECT_TRUE(syslog_lines.empty()) << "the standard error path sends nothing to syslog";
}

TEST_F(LogChannels, SyslogGetsLiteralTextAtTheChannelPriority)
{
    const std::pair<LOGFILE **, int> channels[] = {{&qxlog_message, LOG_NOTICE},
                                                   {&qxlog_remoteadmin, LOG_WARNING},
                                                   {&qxlog_debug, LOG_DEBUG},
                                                   {&qxlog_error, LOG_ERR}};
    const char *names[] = {"m.log", "r.log", "d.log", "e.log"};
    for (int i = 0; i < 4; i++)
        install(channels[i].first, names[i]);
    qxlog_syslog_enabled = 1;
    for (int log_type = QXLOG_MESSAGE; log_type <= QXLOG_ERROR; log_type++)
        qxlog_send(log_type, "%s\n", "100% %s %n");
    ASSERT_EQ(syslog_lines.size(), 4u);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(syslog_lines[i].priority, channels[i].second);
        EXPECT_EQ(syslog_lines[i].format, "100%% %%s %%n\n");
        EXPECT_EQ(expand(syslog_lines[i].format), "100% %s %n\n");
    }
}

TEST_F(LogChannels, MessageThatOverflowsWritesEarlierLinesFirst)
{
    LOGFILE *l = install(&qxlog_message, "m.log");
    const std::string text(1000, 'a');
    const int line_len = prefix_len + 1001;
    const int fitting = QXLOG_BUFFER_SIZE / line_len; // 32 lines
    for (int i = 0; i < fitting; i++)
        qxlog_send(QXLOG_MESSAGE, "%s\n", text.c_str());
    EXPECT_EQ(read_file(path("m.log")).size(), 0u);
    qxlog_send(QXLOG_MESSAGE, "%s\n", text.c_str());
    EXPECT_EQ(read_file(path("m.log")).size(), static_cast<size_t>(fitting * line_len)) << "one write of whole lines";
    EXPECT_EQ(l->buff_size, line_len);
    EXPECT_EQ(std::string(l->buff, prefix_len), std::string(test_time) + " ");
}

struct LongMessageCase {
    int length;
    bool kept;
};

class LongMessages : public LogChannels, public ::testing::WithParamInterface<LongMessageCase> {};

TEST_P(LongMessages, FitOnlyIntoTheRoomOfAnEmptyBuffer)
{
    const LongMessageCase &c = GetParam();
    LOGFILE *l = install(&qxlog_message, "m.log");
    qxlog_send(QXLOG_MESSAGE, "before\n");
    const std::string text(static_cast<size_t>(c.length), 'x');
    qxlog_send(QXLOG_MESSAGE, "%s", text.c_str());
    EXPECT_EQ(read_file(path("m.log")), std::string(test_time) + " before\n") << "earlier lines are written";
    EXPECT_EQ(l->buff_size, c.kept ? prefix_len + c.length : 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongMessages,
    ::testing::Values(LongMessageCase{QXLOG_BUFFER_SIZE - prefix_len - 1, true},   // 32747
                      LongMessageCase{QXLOG_BUFFER_SIZE - prefix_len, false},      // 32748
                      LongMessageCase{QXLOG_BUFFER_SIZE * 2, false}));

TEST_F(LogChannels, WriteErrorsSignalTheProcessOnce)
{
    LOGFILE *l = install(&qxlog_error, "e.log");
    int read_only = open(path("e.log").c_str(), O_RDONLY);
    ASSERT_GE(read_only, 0);
    ASSERT_GE(dup2(read_only, l->fd), 0); // every write now fails
    close(read_only);
    qxlog_syslog_enabled = 1;
    SigtermCounter sigterm;
    for (int round = 0; round < 2; round++) {
        qxlog_send(QXLOG_ERROR, "lost %d\n", round);
        syslog_lines.clear();
        flush(l);
        EXPECT_EQ(l->buff_size, 0) << "the buffer is emptied either way";
        ASSERT_EQ(syslog_lines.size(), 1u);
        EXPECT_EQ(syslog_lines[0].priority, LOG_ERR);
        EXPECT_EQ(syslog_lines[0].format, "Error writing log file to disk. Terminate program.");
    }
    EXPECT_EQ(SigtermCounter::count(), 1);
    EXPECT_EQ(terminating, 1);
    terminating = 0;
}

TEST_F(LogChannels, MemoryErrorsAreThrottledToOneLineAMinute)
{
    LOGFILE *l = install(&qxlog_error, "e.log");
    const time_t saved = current_time;
    const time_t base = 1700000000;
    for (int i = 0; i < 10; i++) {
        current_time = base + i;
        qxlog_memory_error__("a.c", 10 + i);
    }
    current_time = base + 60;
    qxlog_memory_error__("b.c", 7);
    current_time = base + 61;
    qxlog_memory_error__("c.c", 8);
    current_time = saved;
    flush(l);
    std::string prefix = std::string(test_time) + " ";
    EXPECT_EQ(read_file(path("e.log")),
              prefix + "Failed to allocate memory in file a.c line 10\n" + prefix +
                  "Failed to allocate memory in file b.c line 7 (failed 9 times in last 60 seconds)\n");
}

TEST_F(LogChannels, ChannelLookups)
{
    EXPECT_EQ(qxlog_debug_enabled(), 0);
    install(&qxlog_debug, "d.log", 0);
    EXPECT_EQ(qxlog_debug_enabled(), 0);
    velmora::log_channel_close(qxlog_debug);
    install(&qxlog_debug, "d.log", 1);
    EXPECT_EQ(qxlog_debug_enabled(), 1);
    install(&qxlog_error, "e.log");

    EXPECT_EQ(qxlog_get_by_type(QXLOG_DEBUG), qxlog_debug);
    EXPECT_EQ(qxlog_get_by_type(QXLOG_ERROR), qxlog_error);
    EXPECT_EQ(qxlog_get_by_type(QXLOG_MESSAGE), nullptr);
    EXPECT_EQ(qxlog_get_by_type(0), nullptr);
    EXPECT_EQ(qxlog_get_by_type(5), nullptr);

    const std::pair<const char *, int> names[] = {{"qxd_message", 1}, {"qxd_remoteadmin", 2}, {"qxd_debug", 3},
                                                  {"qxd_error", 4},   {"QXD_ERROR", 0},       {"qxd_err", 0},
                                                  {"", 0}};
    for (const auto &[name, type] : names)
        EXPECT_EQ(qxlog_get_type(name), type) << name;
    EXPECT_EQ(qxlog_get_type(nullptr), 0);
}

struct HookLog {
    static inline std::vector<int64_t> rotations;
    static inline std::vector<std::string> entries;
    static inline bool lock_held = true;
};

TEST_F(LogChannels, RotationAndSessionHooksRunUnderTheChannelLock)
{
    HookLog::rotations.clear();
    HookLog::entries.clear();
    velmora::set_channel_rotator([](LOGFILE *l) {
        HookLog::lock_held = HookLog::lock_held && pthread_mutex_trylock(&l->lock) == EBUSY;
        HookLog::rotations.push_back(l->size + l->buff_size);
    });
    velmora::set_session_inserter([](logsession_set_t *, const char *entry, int bytes) {
        HookLog::entries.emplace_back(entry, static_cast<size_t>(bytes));
    });
    LOGFILE *l = install(&qxlog_message, "m.log", 1, 3 * (prefix_len + 10));
    qxlog_send(QXLOG_MESSAGE, "nosession\n");
    EXPECT_TRUE(HookLog::entries.empty()) << "a channel without a session set inserts nothing";
    int fake_set = 0;
    l->sessions = reinterpret_cast<logsession_set_t *>(&fake_set);
    qxlog_send(QXLOG_MESSAGE, "%s\n", "123456789");
    EXPECT_TRUE(HookLog::rotations.empty());
    qxlog_send(QXLOG_MESSAGE, "%s\n", "123456789"); // 3 lines of 30: the limit is reached
    l->sessions = nullptr;
    ASSERT_EQ(HookLog::rotations.size(), 1u);
    EXPECT_EQ(HookLog::rotations[0], 3 * (prefix_len + 10));
    EXPECT_TRUE(HookLog::lock_held);
    EXPECT_EQ(HookLog::entries, (std::vector<std::string>{"123456789\n", "123456789\n"}));
}

// Several threads log to one channel while another flushes it: every line
// reaches the file whole and none is lost. The flusher is a plain thread, or
// a scheduled task of the (simulated) time service as the log maintenance
// is, which also republishes the time text the senders copy.
enum class Flusher { thread, cron_task };

class ConcurrentLogging : public LogChannels, public ::testing::WithParamInterface<Flusher> {
protected:
    static void send_lines(int sender)
    {
        for (int i = 0; i < lines_each; i++)
            qxlog_send(QXLOG_MESSAGE, "sender %d line %d %s\n", sender, i, "payload-payload-payload");
    }

    // Runs the senders while flush_step() is called repeatedly on this thread.
    template <typename Step>
    static void run_senders_while(Step flush_step)
    {
        std::atomic<int> running{senders};
        std::vector<std::thread> threads;
        for (int t = 0; t < senders; t++) {
            threads.emplace_back([t, &running] {
                send_lines(t);
                running.fetch_sub(1);
            });
        }
        while (running.load() > 0)
            flush_step();
        for (std::thread &thread : threads)
            thread.join();
    }

    // Every line is a time text (the given one, or any when empty) and one
    // sender's line, each sender's lines in order.
    void expect_every_line_once(const std::string &time_text)
    {
        std::istringstream file(read_file(path("m.log")));
        std::vector<int> next(senders, 0);
        std::string line;
        int total = 0;
        while (std::getline(file, line)) {
            ASSERT_GT(line.size(), 19u) << line;
            std::string time = line.substr(0, 19);
            EXPECT_TRUE(time_text.empty() ? is_time_text(time) : time == time_text) << line;
            int sender = -1;
            int number = -1;
            char payload[32] = "";
            ASSERT_EQ(std::sscanf(line.c_str() + 19, " sender %d line %d %31s", &sender, &number, payload), 3) << line;
            ASSERT_TRUE(sender >= 0 && sender < senders) << line;
            EXPECT_STREQ(payload, "payload-payload-payload");
            EXPECT_EQ(number, next[sender]++) << "each sender's lines stay in order";
            total++;
        }
        EXPECT_EQ(total, senders * lines_each);
    }

    static constexpr int senders = 4;
    static constexpr int lines_each = 2000;
};

void *flush_channel(void *data)
{
    auto *l = static_cast<LOGFILE *>(data);
    pthread_mutex_lock(&l->lock);
    qxlog_flush_unlocked(l);
    pthread_mutex_unlock(&l->lock);
    return nullptr;
}

TEST_P(ConcurrentLogging, EveryLineArrivesWhole)
{
    LOGFILE *l = install(&qxlog_message, "m.log");
    if (GetParam() == Flusher::thread) {
        run_senders_while([l] {
            flush(l);
            std::this_thread::yield();
        });
        flush(l);
        expect_every_line_once(test_time);
        return;
    }
    qxlog_silent_mode = 1;
    // Later than any time an earlier test published: no clock-change line.
    ASSERT_EQ(qxtime_sim_initialize(std::max<time_t>(current_time, 1700000000) + 1), 0);
    ASSERT_NE(add_cron_task(0, flush_channel, l), nullptr);
    run_senders_while([] { qxtime_sim_inctime(1); });
    qxtime_terminate();
    flush(l);
    expect_every_line_once("");
}

INSTANTIATE_TEST_SUITE_P(Flushers, ConcurrentLogging, ::testing::Values(Flusher::thread, Flusher::cron_task));

} // namespace
