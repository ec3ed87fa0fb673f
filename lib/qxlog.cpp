// Log channels, sending side: messages are prefixed with the published time,
// gathered in the channel buffer and written to the channel's file when the
// buffer fills or the buffer is flushed; copies go to the channel's log
// sessions and, when enabled, to syslog. Without a channel (or its file)
// messages go to standard error unless silent mode is on.
#include "velmora/qxlog.h"

#include "internal/log_channel.h"
#include "velmora/qxstring.h"
#include "velmora/qxtime.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

extern "C" {

LOGFILE *qxlog_message = nullptr;
LOGFILE *qxlog_remoteadmin = nullptr;
LOGFILE *qxlog_debug = nullptr;
LOGFILE *qxlog_error = nullptr;
volatile int qxlog_silent_mode = 0;
volatile int qxlog_syslog_enabled = 0;
volatile int terminating = 0;

} // extern "C"

namespace {

struct ChannelRoute {
    LOGFILE **channel;
    int syslog_priority;
    const char *name;
};

// Indexed by log type; entry 0 stands for every unknown type.
const ChannelRoute routes[] = {
    {nullptr, 0, nullptr},
    {&qxlog_message, LOG_NOTICE, "qxd_message"},
    {&qxlog_remoteadmin, LOG_WARNING, "qxd_remoteadmin"},
    {&qxlog_debug, LOG_DEBUG, "qxd_debug"},
    {&qxlog_error, LOG_ERR, "qxd_error"},
};

const ChannelRoute &route_for(int log_type)
{
    if (log_type < QXLOG_MESSAGE || log_type > QXLOG_ERROR)
        return routes[0];
    return routes[log_type];
}

// The line reaching here has every % doubled, so it is safe as a format.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void write_to_syslog(int priority, const char *format)
{
    syslog(priority, format);
}
#pragma GCC diagnostic pop

std::atomic<velmora::ChannelRotator> channel_rotator{nullptr};
std::atomic<velmora::SessionInserter> session_inserter{nullptr};
std::atomic<velmora::SyslogWriter> syslog_writer{write_to_syslog};

// Formats the system clock when the time service has not published a time
// yet, so that every file line starts with a real time.
void format_time_now(char *dest, size_t len)
{
    char text[64];
    time_t now = time(nullptr);
    struct tm local;
    size_t written = 0;
    if (localtime_r(&now, &local) != nullptr)
        written = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::memset(dest, ' ', len);
    std::memcpy(dest, text, written < len ? written : len);
}

// Writes exactly current_time_len bytes of time text to dest; a published
// text that is shorter (it never is for years 1000 to 9999) is padded with
// spaces so no NUL byte reaches the file.
void copy_time_prefix(char *dest)
{
    size_t len = static_cast<size_t>(current_time_len);
    pthread_mutex_lock(&current_time_str_lock);
    if (current_time_str[0] == '\0') {
        format_time_now(dest, len);
    } else {
        size_t have = strnlen(current_time_str, sizeof current_time_str);
        std::memset(dest, ' ', len);
        std::memcpy(dest, current_time_str, have < len ? have : len);
    }
    pthread_mutex_unlock(&current_time_str_lock);
}

void offer_to_sessions(LOGFILE *l, const char *text, int bytes)
{
    velmora::SessionInserter insert = session_inserter.load();
    if (l->sessions != nullptr && insert != nullptr)
        insert(l->sessions, text, bytes);
}

// Appends "time message" when it fits behind what the buffer holds; the
// buffer is left as it was when it does not.
bool append_line(LOGFILE *l, int syslog_priority, const char *msg, va_list ap)
{
    int start = l->buff_size;
    if (start + current_time_len + 2 > QXLOG_BUFFER_SIZE)
        return false;
    copy_time_prefix(l->buff + start);
    int text_at = start + current_time_len;
    l->buff[text_at++] = ' ';
    int room = QXLOG_BUFFER_SIZE - text_at;
    va_list copy;
    va_copy(copy, ap);
    int len = vsnprintf(l->buff + text_at, static_cast<size_t>(room), msg, copy);
    va_end(copy);
    if (len < 0 || len >= room)
        return false;
    offer_to_sessions(l, l->buff + text_at, len);
    l->buff_size = text_at + len;
    qxlog_syslog(syslog_priority, l->buff + text_at);
    return true;
}

// A message that does not fit makes room by flushing; one that does not fit
// an empty buffer either is dropped.
void send_to_file(LOGFILE *l, int syslog_priority, const char *msg, va_list ap)
{
    if (append_line(l, syslog_priority, msg, ap))
        return;
    qxlog_flush_unlocked(l);
    if (!append_line(l, syslog_priority, msg, ap))
        qxlog_flush_unlocked(l);
}

void rotate_when_full(LOGFILE *l)
{
    velmora::ChannelRotator rotate = channel_rotator.load();
    if (rotate != nullptr && l->size + l->buff_size >= l->max_size)
        rotate(l);
}

// True when the message was handled by the channel's file; false when the
// channel has no open file.
bool send_to_channel(LOGFILE *l, int syslog_priority, const char *msg, va_list ap)
{
    if (pthread_mutex_lock(&l->lock) != 0)
        return true; // a lock failure drops the message
    // fd is read under the lock: rotation replaces it under the same lock.
    bool open = l->fd >= 0;
    if (open) {
        send_to_file(l, syslog_priority, msg, ap);
        rotate_when_full(l);
    }
    pthread_mutex_unlock(&l->lock);
    return open;
}

void report_write_failure()
{
    qxlog_syslog(LOG_ERR, "Error writing log file to disk. Terminate program.");
    // The exchange makes the signal go out once even when flushes of several
    // channels fail at the same moment.
    if (__atomic_exchange_n(&terminating, 1, __ATOMIC_ACQ_REL) == 0)
        kill(getpid(), SIGTERM);
}

int64_t file_length(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Throttle state of allocation-failure reports; the mutex keeps concurrent
// reports from tearing it.
pthread_mutex_t memory_error_lock = PTHREAD_MUTEX_INITIALIZER;
time_t memory_error_last = 0;
int memory_error_count = 0;

} // namespace

namespace velmora {

void set_channel_rotator(ChannelRotator rotator) noexcept
{
    channel_rotator.store(rotator);
}

void set_session_inserter(SessionInserter inserter) noexcept
{
    session_inserter.store(inserter);
}

void set_syslog_writer(SyslogWriter writer) noexcept
{
    syslog_writer.store(writer != nullptr ? writer : write_to_syslog);
}

LOGFILE *log_channel_open(const char *path, int64_t max_size, int32_t history, int32_t enabled) noexcept
{
    if (path == nullptr)
        return nullptr;
    auto *l = static_cast<LOGFILE *>(std::calloc(1, sizeof(LOGFILE)));
    if (l == nullptr)
        return nullptr;
    l->name = strdup(path);
    if (l->name == nullptr) {
        std::free(l);
        return nullptr;
    }
    pthread_mutex_init(&l->lock, nullptr);
    l->fd = -1;
    l->max_size = max_size;
    l->history = history;
    l->enabled = enabled;
    if (enabled != 0) {
        l->fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (l->fd < 0)
            qxlog_send(QXLOG_ERROR, "Could not open log file %s\n", path);
        else
            l->size = file_length(l->fd);
    }
    return l;
}

void log_channel_close(LOGFILE *l) noexcept
{
    if (l == nullptr)
        return;
    pthread_mutex_lock(&l->lock);
    qxlog_flush_unlocked(l);
    if (l->fd >= 0)
        close(l->fd);
    l->fd = -1;
    pthread_mutex_unlock(&l->lock);
    pthread_mutex_destroy(&l->lock);
    std::free(l->name);
    std::free(l);
}

} // namespace velmora

extern "C" {

void qxlog_send_va(int log_type, const char *msg, va_list ap) noexcept
{
    const ChannelRoute &route = route_for(log_type);
    if (route.channel == nullptr || msg == nullptr)
        return;
    LOGFILE *l = *route.channel;
    if (l != nullptr) {
        if (l->enabled == 0)
            return;
        if (send_to_channel(l, route.syslog_priority, msg, ap))
            return;
    }
    if (qxlog_silent_mode != 0)
        return;
    if (l == nullptr && log_type == QXLOG_DEBUG)
        return;
    std::vfprintf(stderr, msg, ap);
}

void qxlog_send(int log_type, const char *msg, ...) noexcept
{
    va_list ap;
    va_start(ap, msg);
    qxlog_send_va(log_type, msg, ap);
    va_end(ap);
}

int qxlog_debug_enabled(void) noexcept
{
    return qxlog_debug != nullptr && qxlog_debug->enabled != 0 ? 1 : 0;
}

void qxlog_syslog(int syslog_type, const char *line) noexcept
{
    if (qxlog_syslog_enabled == 0 || line == nullptr)
        return;
    char *literal = string_replace_string_global(line, "%", "%%");
    if (literal == nullptr)
        return;
    syslog_writer.load()(syslog_type, literal);
    std::free(literal);
}

void qxlog_flush_unlocked(LOGFILE *l) noexcept
{
    if (l == nullptr || l->enabled == 0 || l->fd < 0)
        return;
    l->size = l->size + l->buff_size;
    if (l->buff_size == 0)
        return;
    // One write; a short write is not retried and the buffer is emptied
    // either way.
    ssize_t written = write(l->fd, l->buff, static_cast<size_t>(l->buff_size));
    l->buff_size = 0;
    if (written < 0)
        report_write_failure();
}

LOGFILE *qxlog_get_by_type(int log_type) noexcept
{
    const ChannelRoute &route = route_for(log_type);
    return route.channel != nullptr ? *route.channel : nullptr;
}

int qxlog_get_type(const char *name) noexcept
{
    if (name == nullptr)
        return 0;
    for (int log_type = QXLOG_MESSAGE; log_type <= QXLOG_ERROR; log_type++) {
        if (std::strcmp(routes[log_type].name, name) == 0)
            return log_type;
    }
    return 0;
}

// Before the time service publishes a time, current_time is 0; the system
// clock stands in so that reports are throttled (and the first one printed)
// from the start.
void qxlog_memory_error__(const char *file, int lineno) noexcept
{
    time_t now = __atomic_load_n(&current_time, __ATOMIC_ACQUIRE);
    if (now == 0)
        now = time(nullptr);
    int suppressed = 0;
    int seconds = 0;
    pthread_mutex_lock(&memory_error_lock);
    // A clock that stepped back behind the last report counts as a minute
    // passed; otherwise reports would stay silent until it caught up.
    bool throttled = now >= memory_error_last && now - memory_error_last < 60;
    if (throttled) {
        memory_error_count++;
    } else {
        suppressed = memory_error_count;
        seconds = now >= memory_error_last ? static_cast<int>(now - memory_error_last) : 0;
        memory_error_last = now;
        memory_error_count = 0;
    }
    pthread_mutex_unlock(&memory_error_lock);
    if (throttled)
        return;
    if (file == nullptr)
        file = "";
    if (suppressed == 0)
        qxlog_send(QXLOG_ERROR, "Failed to allocate memory in file %s line %d\n", file, lineno);
    else
        qxlog_send(QXLOG_ERROR, "Failed to allocate memory in file %s line %d (failed %d times in last %d seconds)\n",
                   file, lineno, suppressed, seconds);
}

} // extern "C"
