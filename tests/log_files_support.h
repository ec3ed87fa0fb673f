// Test support for log channels on real files: a fresh directory per test,
// channels made with qxlog_create and shut down afterwards, the time service
// in simulated mode, and SIGTERM counted instead of ending the process.
#ifndef VELMORA_TESTS_LOG_FILES_SUPPORT_H
#define VELMORA_TESTS_LOG_FILES_SUPPORT_H

#include "internal/qxtime_sync.h"
#include "velmora/logsession.h"
#include "velmora/qxlog.h"
#include "velmora/qxtime.h"
#include "sigterm_counter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace log_files_test {

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The messages of a log file: every line without its time prefix.
inline std::vector<std::string> messages_of(const std::string &text)
{
    std::vector<std::string> messages;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        messages.push_back(line.size() > 20 ? line.substr(20) : "");
    return messages;
}

inline bool contains(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines) {
        if (l == line)
            return true;
    }
    return false;
}

class LogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "logfilesXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir_ = buf.data();
    }

    void TearDown() override
    {
        qxlog_config_terminate(1, nullptr);
        if (time_running_)
            qxtime_terminate();
        qxlog_silent_mode = 0;
        qxlog_syslog_enabled = 0;
        __atomic_store_n(&qxlog_force_rotate, 0, __ATOMIC_RELEASE);
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    LOGFILE *create(LOGFILE **slot, const std::string &name, int64_t max_size = 1000000, int32_t history = 5,
                    int32_t enabled = 1)
    {
        *slot = qxlog_create(path(name).c_str(), max_size, history, enabled);
        return *slot;
    }

    // Every channel on its own file; the debug channel only when asked.
    void create_all(bool debug_enabled = false)
    {
        create(&qxlog_error, "e.log");
        create(&qxlog_message, "m.log");
        create(&qxlog_remoteadmin, "r.log");
        create(&qxlog_debug, "d.log", 1000000, 5, debug_enabled ? 1 : 0);
    }

    static void flush(LOGFILE *l)
    {
        pthread_mutex_lock(&l->lock);
        qxlog_flush_unlocked(l);
        pthread_mutex_unlock(&l->lock);
    }

    std::vector<std::string> messages(const std::string &name) const { return messages_of(read_file(path(name))); }

    // Simulated time with the maintenance task registered once a first pass
    // has settled any clock step left by earlier tests.
    void start_maintenance()
    {
        ASSERT_EQ(qxtime_sim_initialize(start_time), 0);
        time_running_ = true;
        tick_to(start_time);
        ASSERT_EQ(qxlog_reinit(), 0);
    }

    void tick_to(time_t t)
    {
        now_ = t;
        qxtime_sim_settime(t);
        ASSERT_TRUE(velmora::qxtime_wait_for_pass(5000));
    }

    void tick(time_t seconds = 1) { tick_to(now_ + seconds); }

    static constexpr time_t start_time = 1900000000;
    std::string dir_;
    bool time_running_ = false;
    time_t now_ = start_time;
};

} // namespace log_files_test

#endif
