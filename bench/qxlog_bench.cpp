// Cost of sending a message to a log channel: one formatting pass into the
// channel buffer, a file write per 32 KiB.
#include "velmora/qxlog.h"
#include "velmora/qxtime.h"

#include "../lib/internal/log_channel.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string bench_log_path()
{
    return "/tmp/velmora_qxlog_bench_" + std::to_string(getpid()) + ".log";
}

// Several threads may run this at once: thread 0 opens the channel before
// and closes it after the timed loop (the framework's barriers order that).
void BM_SendToChannelFile(benchmark::State &state)
{
    if (state.thread_index() == 0) {
        qxlog_message = velmora::log_channel_open(bench_log_path().c_str(), 1LL << 40, 0, 1);
        // As published by a running time service.
        pthread_mutex_lock(&current_time_str_lock);
        std::snprintf(current_time_str, sizeof current_time_str, "%s", "2024-01-31 13:45:07");
        pthread_mutex_unlock(&current_time_str_lock);
    }
    int i = 0;
    for (auto _ : state)
        qxlog_send(QXLOG_MESSAGE, "request %d from %s took %d ms\n", i++, "192.168.10.20", 17);
    if (state.thread_index() == 0) {
        velmora::log_channel_close(qxlog_message);
        qxlog_message = nullptr;
        std::remove(bench_log_path().c_str());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendToChannelFile)->Threads(1)->Threads(2)->UseRealTime();

void BM_SendToDisabledChannel(benchmark::State &state)
{
    qxlog_debug = velmora::log_channel_open("/nonexistent/velmora_bench.log", 1000000, 0, 0);
    for (auto _ : state) {
        if (qxlog_debug_enabled())
            qxlog_send(QXLOG_DEBUG, "never %d\n", 1);
        qxlog_send(QXLOG_DEBUG, "dropped %d\n", 2);
    }
    velmora::log_channel_close(qxlog_debug);
    qxlog_debug = nullptr;
}
BENCHMARK(BM_SendToDisabledChannel);

} // namespace
