// The seams of a log channel towards the work built on top of the sending
// side: file rotation, log sessions and the syslog sink, plus creating and
// closing a channel on a file.
#ifndef VELMORA_INTERNAL_LOG_CHANNEL_H
#define VELMORA_INTERNAL_LOG_CHANNEL_H

#include "velmora/qxlog.h"

#include <cstdint>

namespace velmora {

// Rotates the channel's file; called with the channel lock held once the
// bytes written plus the bytes buffered reach max_size.
using ChannelRotator = void (*)(LOGFILE *channel);
// Offers a buffered message (without time prefix) to the channel's sessions;
// called with the channel lock held and only when the channel has a set.
using SessionInserter = void (*)(logsession_set_t *sessions, const char *entry, int bytes);
// Hands a printf-safe line to syslog.
using SyslogWriter = void (*)(int priority, const char *format);

// Without a rotator a channel never rotates; without an inserter nothing
// reaches the sessions. Passing nullptr removes a hook (for the syslog
// writer: restores syslog itself). Set hooks while no thread logs.
void set_channel_rotator(ChannelRotator rotator) noexcept;
void set_session_inserter(SessionInserter inserter) noexcept;
void set_syslog_writer(SyslogWriter writer) noexcept;

// A channel on path with an empty buffer and no session set. An enabled
// channel opens its file for appending (created with mode 0644) and starts
// size at the file's length; a file that cannot be opened leaves fd -1 after
// "Could not open log file %s\n" on the error channel. NULL when path is NULL
// or memory is short.
LOGFILE *log_channel_open(const char *path, int64_t max_size, int32_t history, int32_t enabled) noexcept;
// Flushes the buffer, closes the file and frees the channel (not its
// session set, which belongs to whoever created it).
void log_channel_close(LOGFILE *channel) noexcept;

} // namespace velmora

#endif
