// Log files: the four channels made from the configuration, size rotation
// with numbered generations, the once-a-second maintenance task (flush,
// session expiry, forced rotation) and shutdown.
#include "velmora/config.h"
#include "velmora/logsession.h"
#include "velmora/qxlog.h"
#include "velmora/qxtime.h"

#include "internal/log_channel.h"

#include <climits>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <utility>
#include <syslog.h>
#include <unistd.h>

extern "C" {

volatile int32_t qxlog_force_rotate = 0;
CronTaskPtr qxlog_maintenance_task = nullptr;

} // extern "C"

namespace {

constexpr int64_t smallest_max_size = 100000;
constexpr int64_t largest_max_size = 1000000000;

// The channels in the order the maintenance visits them.
LOGFILE **const maintenance_order[] = {&qxlog_message, &qxlog_remoteadmin, &qxlog_debug, &qxlog_error};

void apply_limits(LOGFILE *l)
{
    if (l->max_size < smallest_max_size) {
        qxlog_send(QXLOG_MESSAGE, "CAUTION: %s max_size is less than 100000, set to 100000.\n", l->name);
        l->max_size = smallest_max_size;
    }
    if (l->max_size > largest_max_size) {
        qxlog_send(QXLOG_MESSAGE, "CAUTION: %s max_size is larger than 1g, set to 1g\n", l->name);
        l->max_size = largest_max_size;
    }
    if (l->history < 0) {
        qxlog_send(QXLOG_MESSAGE, "CAUTION: %s history less than zero, set to zero\n", l->name);
        l->history = 0;
    }
}

// name.generation; false when the name does not fit a path.
bool generation_name(char (&dest)[PATH_MAX + 16], const char *name, int generation)
{
    int len = std::snprintf(dest, sizeof dest, "%s.%d", name, generation);
    return len > 0 && static_cast<size_t>(len) < sizeof dest;
}

// Generations that do not exist yet fail to rename, quietly.
void shift_generations(const char *name, int32_t history)
{
    char from[PATH_MAX + 16];
    char to[PATH_MAX + 16];
    for (int32_t k = history - 1; k >= 1; k--) {
        if (generation_name(from, name, k - 1) && generation_name(to, name, k))
            rename(from, to);
    }
}

void retire_current_file(LOGFILE *l)
{
    if (l->history == 0) {
        close(l->fd);
        unlink(l->name);
        return;
    }
    shift_generations(l->name, l->history);
    char newest[PATH_MAX + 16];
    if (generation_name(newest, l->name, 0))
        rename(l->name, newest);
    close(l->fd);
}

void reopen_file(LOGFILE *l)
{
    l->fd = open(l->name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    l->size = 0;
    if (l->fd < 0)
        kill(getpid(), SIGTERM);
}

bool rotation_requested()
{
    return __atomic_load_n(&qxlog_force_rotate, __ATOMIC_ACQUIRE) != 0 ||
           __atomic_load_n(&qxtime_reset_time, __ATOMIC_ACQUIRE) != 0;
}

void flush_channel(LOGFILE *l)
{
    pthread_mutex_lock(&l->lock);
    qxlog_flush_unlocked(l);
    pthread_mutex_unlock(&l->lock);
}

void flush_all_channels()
{
    for (LOGFILE **slot : maintenance_order) {
        if (*slot != nullptr)
            logsession_set_flush((*slot)->sessions);
    }
    for (LOGFILE **slot : maintenance_order) {
        if (*slot != nullptr && (*slot)->enabled != 0)
            flush_channel(*slot);
    }
}

// The messages go out after the channel lock is released: the message
// channel may be the one just rotated.
void rotate_all_channels()
{
    for (LOGFILE **slot : maintenance_order) {
        LOGFILE *l = *slot;
        if (l == nullptr)
            continue;
        pthread_mutex_lock(&l->lock);
        qxlog_rotate_file_unlocked(l);
        pthread_mutex_unlock(&l->lock);
        qxlog_send(QXLOG_MESSAGE, "Rotated log file %s\n", l->name);
    }
    qxlog_send(QXLOG_MESSAGE, "All Log files rotated forcefully.\n");
    __atomic_store_n(&qxlog_force_rotate, 0, __ATOMIC_RELEASE);
}

// The channel pointer is cleared before the channel goes, so no message is
// sent to a channel being freed.
void destroy_channel(LOGFILE **slot)
{
    LOGFILE *l = *slot;
    *slot = nullptr;
    qxlog_destroy(l);
}

void remove_maintenance_task()
{
    if (qxlog_maintenance_task != nullptr)
        del_cron_task(qxlog_maintenance_task);
    qxlog_maintenance_task = nullptr;
}

struct DumpedChannel {
    const char *key;
    LOGFILE **slot;
};

const DumpedChannel dumped_channels[] = {
    {"remoteadmin", &qxlog_remoteadmin},
    {"message", &qxlog_message},
    {"debug", &qxlog_debug},
    {"error", &qxlog_error},
};

// Throws std::bad_alloc.
__attribute__((format(printf, 2, 3))) void append_format(std::string &dest, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    va_list measure;
    va_copy(measure, ap);
    int len = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (len > 0) {
        size_t at = dest.size();
        try {
            dest.resize(at + static_cast<size_t>(len) + 1);
        } catch (...) {
            va_end(ap);
            throw;
        }
        std::vsnprintf(dest.data() + at, static_cast<size_t>(len) + 1, format, ap);
        dest.resize(at + static_cast<size_t>(len));
    }
    va_end(ap);
}

// A missing channel shows as disabled with no file, size and history 0.
void append_channel_settings(std::string &dest, const char *key, const LOGFILE *l)
{
    append_format(dest, "log_%s_enabled %d\n", key, l != nullptr ? l->enabled : 0);
    append_format(dest, "log_%s_filename %s\n", key, l != nullptr ? l->name : "");
    append_format(dest, "log_%s_max_size %lld\n", key, l != nullptr ? static_cast<long long>(l->max_size) : 0LL);
    append_format(dest, "log_%s_history %d\n", key, l != nullptr ? l->history : 0);
}

// How a channel is configured: its keys are "log_<key>_enabled",
// "log_<key>_filename", "log_<key>_max_size" and "log_<key>_history".
struct ConfiguredChannel {
    const char *key;
    LOGFILE **slot;
    int enabled_by_default;
};

// The order in which the channels are created: each one's messages already
// reach the channels made before it.
const ConfiguredChannel configured_channels[] = {
    {"error", &qxlog_error, 1},
    {"message", &qxlog_message, 1},
    {"remoteadmin", &qxlog_remoteadmin, 1},
    {"debug", &qxlog_debug, 0},
};

struct ChannelSettings {
    int enabled;
    std::string filename;
    long long max_size = 1000000;
    int history = 5;
};

std::string channel_key(const char *channel, const char *setting)
{
    return std::string("log_") + channel + "_" + setting;
}

// A missing key keeps the default. Throws std::bad_alloc.
ChannelSettings read_channel_settings(void *config, const ConfiguredChannel &channel, const char *program_name)
{
    ChannelSettings settings;
    settings.enabled = channel.enabled_by_default;
    config_parse_boolean(config, channel_key(channel.key, "enabled").c_str(), &settings.enabled);
    char *filename = nullptr;
    if (config_parse_string(config, channel_key(channel.key, "filename").c_str(), &filename) == 0 &&
        filename != nullptr) {
        settings.filename = filename;
        std::free(filename);
    } else {
        settings.filename = std::string("../logs/") + program_name + "_" + channel.key + ".log";
    }
    config_parse_size(config, channel_key(channel.key, "max_size").c_str(), &settings.max_size);
    config_parse_int(config, channel_key(channel.key, "history").c_str(), &settings.history);
    return settings;
}

// True when every channel record was made.
bool create_configured_channels(void *config, const char *program_name)
{
    bool all_created = true;
    for (const ConfiguredChannel &channel : configured_channels) {
        ChannelSettings settings = read_channel_settings(config, channel, program_name);
        *channel.slot = qxlog_create(settings.filename.c_str(), settings.max_size, settings.history,
                                     settings.enabled);
        all_created = all_created && *channel.slot != nullptr;
    }
    return all_created;
}

const char *open_state(const LOGFILE *l)
{
    return l != nullptr ? "opened" : "errored";
}

// Channels that are enabled but could not open their file, each reported.
int count_unopened_files()
{
    const std::pair<const char *, LOGFILE *> reported[] = {
        {"message", qxlog_message}, {"remoteadmin", qxlog_remoteadmin}, {"debug", qxlog_debug}, {"error", qxlog_error}};
    int failed = 0;
    for (const auto &[key, l] : reported) {
        if (l->enabled != 0 && l->fd < 0) {
            qxlog_send(QXLOG_ERROR, "Failed to open %s log file %s\n", key, l->name);
            failed++;
        }
    }
    return failed;
}

void close_all_channels()
{
    remove_maintenance_task();
    for (LOGFILE **slot : {&qxlog_remoteadmin, &qxlog_message, &qxlog_debug, &qxlog_error})
        destroy_channel(slot);
}

bool channels_exist()
{
    return qxlog_message != nullptr || qxlog_remoteadmin != nullptr || qxlog_debug != nullptr ||
           qxlog_error != nullptr;
}

// Steps 1 to 3 of configuring: silent mode, program name, syslog copies.
// False (after the message) when the program name is missing.
bool read_general_settings(void *config, std::string &program_name)
{
    int stderr_allowed = 0;
    config_parse_boolean(config, "stderr_allowed", &stderr_allowed);
    if (stderr_allowed == 0)
        qxlog_silent_mode = 1;
    char *name = nullptr;
    if (config_parse_string(config, "program_name", &name) != 0 || name == nullptr) {
        qxlog_send(QXLOG_MESSAGE, "Could not get program name from configuration.  Required for log file name "
                                  "generation.\n");
        return false;
    }
    program_name = name;
    std::free(name);
    int syslog_enabled = 0;
    config_parse_int(config, "log_syslog_enabled", &syslog_enabled);
    qxlog_syslog_enabled = syslog_enabled;
    return true;
}

} // namespace

extern "C" {

LOGFILE *qxlog_create(const char *filename, int64_t max_size, int32_t history, int32_t log_enabled) noexcept
{
    LOGFILE *l = velmora::log_channel_open(filename, max_size, history, log_enabled);
    if (l == nullptr)
        return nullptr;
    l->sessions = logsession_set_create(1, nullptr, nullptr, nullptr, nullptr);
    if (l->sessions == nullptr) {
        velmora::log_channel_close(l);
        return nullptr;
    }
    apply_limits(l);
    velmora::set_channel_rotator(qxlog_rotate_file_unlocked);
    velmora::set_session_inserter(logsession_set_insert);
    return l;
}

void qxlog_destroy(LOGFILE *l) noexcept
{
    if (l == nullptr)
        return;
    logsession_set_t *sessions = l->sessions;
    velmora::log_channel_close(l);
    logsession_set_destroy(sessions);
}

void qxlog_rotate_file_unlocked(LOGFILE *l) noexcept
{
    if (l == nullptr || l->enabled == 0 || l->fd < 0)
        return;
    retire_current_file(l);
    reopen_file(l);
}

void *qxlog_maintenance(void *) noexcept
{
    if (rotation_requested())
        rotate_all_channels();
    else
        flush_all_channels();
    return nullptr;
}

// Configuring again while channels exist replaces them: the old channels are
// flushed and closed first (quietly, unlike a shutdown), so no file, buffer
// or maintenance task is left behind.
int qxlog_config_initialize(int onStartup, void *config, void *, void *) noexcept
{
    if (onStartup == 0)
        return 0;
    try {
        std::string program_name;
        if (!read_general_settings(config, program_name))
            return 1;
        if (channels_exist())
            close_all_channels();
        if (!create_configured_channels(config, program_name.c_str())) {
            qxlog_send(QXLOG_ERROR,
                       "Error occurred while initializing the logs, message log %s, remoteadmin log %s, debug log "
                       "%s error log %s\n",
                       open_state(qxlog_message), open_state(qxlog_remoteadmin), open_state(qxlog_debug),
                       open_state(qxlog_error));
            return 1;
        }
    } catch (const std::bad_alloc &) {
        return 1;
    }
    if (qxlog_syslog_enabled != 0)
        openlog(nullptr, 0, LOG_USER);
    int unopened = count_unopened_files();
    bool task_added = qxlog_reinit() == 0;
    if (task_added && unopened == 0)
        return 0;
    if (qxlog_silent_mode == 0)
        return 0; // messages still reach standard error
    qxlog_send(QXLOG_ERROR, "Failed to initialize log files and silent mode is disabled\n");
    return 1;
}

int qxlog_reinit(void) noexcept
{
    remove_maintenance_task();
    qxlog_maintenance_task = add_cron_task(1, qxlog_maintenance, nullptr);
    if (qxlog_maintenance_task != nullptr)
        return 0;
    qxlog_send(QXLOG_ERROR, "Error adding qxlog maintenance task\n");
    return 1;
}

void qxlog_config_terminate(int onShutdown, void *) noexcept
{
    if (onShutdown == 0)
        return;
    __atomic_store_n(&terminating, 1, __ATOMIC_RELEASE);
    qxlog_send(QXLOG_MESSAGE, "Shutdown Completed\n");
    remove_maintenance_task();
    if (qxlog_syslog_enabled != 0)
        closelog();
    close_all_channels();
    __atomic_store_n(&terminating, 0, __ATOMIC_RELEASE);
}

// The same lines as one fixed format over the four channels would give: the
// channel's keys in the order remoteadmin, message, debug, error.
char *qxlog_config_dump(void *, void *) noexcept
{
    try {
        std::string dump;
        append_format(dump, "log_syslog_enabled %d\n", static_cast<int>(qxlog_syslog_enabled));
        for (const DumpedChannel &channel : dumped_channels)
            append_channel_settings(dump, channel.key, *channel.slot);
        return strdup(dump.c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

} // extern "C"
