// Synchronisation with the time service's cron thread, for callers that
// drive simulated time and must know when the tasks due have run.
#ifndef VELMORA_INTERNAL_QXTIME_SYNC_H
#define VELMORA_INTERNAL_QXTIME_SYNC_H

namespace velmora {

// Waits until the cron thread has finished a scheduler pass that started
// after every tick signalled so far. False when timeout_ms ran out or the
// service is not running.
bool qxtime_wait_for_pass(int timeout_ms) noexcept;

} // namespace velmora

#endif
