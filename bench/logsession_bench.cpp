// Cost of a message on a channel that feeds five live sessions, two of them
// filtered: formatting, the filters' expressions and one entry copy per
// taking session.
#include "velmora/logsession.h"
#include "velmora/qxlog.h"
#include "velmora/qxtime.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

void BM_SendToChannelWithFiveSessions(benchmark::State &state)
{
    const std::string path = "/tmp/velmora_logsession_bench_" + std::to_string(getpid()) + ".log";
    qxlog_message = qxlog_create(path.c_str(), 1000000000, 0, 1);
    pthread_mutex_lock(&current_time_str_lock);
    std::snprintf(current_time_str, sizeof current_time_str, "%s", "2024-01-31 13:45:07");
    pthread_mutex_unlock(&current_time_str_lock);
    const char *queries[] = {"", "filter=request", "", "filter=!timeout", ""};
    for (int s = 0; s < 5; s++)
        qxlog_logsession_create("qxd_message", ("session" + std::to_string(s)).c_str(), queries[s], 1000, 256);
    int i = 0;
    for (auto _ : state)
        qxlog_send(QXLOG_MESSAGE, "request %d from %s took %d ms\n", i++, "192.168.10.20", 17);
    qxlog_destroy(qxlog_message);
    qxlog_message = nullptr;
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendToChannelWithFiveSessions);

} // namespace
