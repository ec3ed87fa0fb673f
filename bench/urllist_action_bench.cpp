// Cost of carrying out the URL-rewriting actions on one typical URL.
#include "velmora/urllist_action.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void run_action(benchmark::State &state, const char *word, const char *args, const char *url)
{
    URLLIST_ITEM_DATA data{};
    data.action = urllist_action_parse_action(word, args, &data.action_data);
    if (data.action >= UA_UNKNOWN) {
        state.SkipWithError("action not parsed");
        return;
    }
    for (auto _ : state) {
        char *out = nullptr;
        benchmark::DoNotOptimize(urllist_action_process_action(&data, nullptr, url, &out, nullptr));
        std::free(out);
    }
    urllist_action_data_free(&data);
}

const char *const sample_url = "http://www.example.com/search/results?q=kittens&safe=off&lang=en&page=2&utm_source=x";

void BM_QueryModify(benchmark::State &state)
{
    run_action(state, "Q", "+safe=active -utm_source -page=2 +lang=en", sample_url);
}
BENCHMARK(BM_QueryModify);

void BM_SearchReplace(benchmark::State &state)
{
    run_action(state, "S", "safe=off safe=active", sample_url);
}
BENCHMARK(BM_SearchReplace);

void BM_RegexpReplace(benchmark::State &state)
{
    run_action(state, "R", "^http://([^/]*)/(.*)$ https://$1/$2", sample_url);
}
BENCHMARK(BM_RegexpReplace);

} // namespace
