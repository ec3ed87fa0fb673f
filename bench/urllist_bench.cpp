// URL list loading and lookup: one million host entries loaded through
// urllist_add_buffer (entries per second, bytes per entry), and URL checks
// (check-mode decomposition, lookup, release) against that list on one core
// and on two threads sharing a locking list.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "velmora/urllist.h"

namespace {

constexpr size_t host_entries = 1000000;
constexpr size_t piece_size = 64 * 1024;
const char *const tlds[] = {"com", "net", "org", "de", "info", "io"};
const char *const subdomains[] = {"www", "m", "cdn", "api", "img"};

std::string host(size_t k)
{
    return "d" + std::to_string(k) + "." + tlds[k % 6];
}

// Half domains, half hosts below some of those domains, as host block lists
// are: "host U D" lines.
const std::string &list_text()
{
    static const std::string text = [] {
        std::string t;
        t.reserve(host_entries * 20);
        for (size_t k = 0; k < host_entries / 2; k++)
            t += host(k) + " U D\n";
        for (size_t k = 0; k < host_entries / 2; k++)
            t += std::string(subdomains[k % 5]) + "." + host(k * 7 % (host_entries / 2)) + " U D\n";
        return t;
    }();
    return text;
}

size_t bytes_in_use()
{
    return mallinfo2().uordblks;
}

void load(URLLIST *l)
{
    const std::string &text = list_text();
    char *buffer = nullptr;
    int size = 0;
    for (size_t at = 0; at < text.size(); at += piece_size)
        urllist_add_buffer(l, text.substr(at, piece_size).c_str(), &buffer, &size, 0);
    std::free(buffer);
}

void BM_UrllistLoad_HostBuffer(benchmark::State &state)
{
    list_text();
    for (auto _ : state) {
        state.PauseTiming(); // taking the allocator's figures walks the heap
        size_t before = bytes_in_use();
        state.ResumeTiming();
        URLLIST *l = urllist_initialize(0);
        load(l);
        state.PauseTiming();
        state.counters["bytes_per_entry"] =
            static_cast<double>(bytes_in_use() - before) / static_cast<double>(host_entries);
        state.counters["loaded"] = l->loaded_count;
        urllist_terminate(l);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * host_entries));
}
BENCHMARK(BM_UrllistLoad_HostBuffer)->Unit(benchmark::kMillisecond)->Iterations(3);

// URLs to check: listed hosts, sub-domains of listed hosts, unlisted hosts,
// each with a path.
const std::vector<std::string> &check_urls()
{
    static const std::vector<std::string> urls = [] {
        std::vector<std::string> u;
        for (size_t k = 0; k < 300000; k++) {
            size_t n = k * 7919 % (host_entries / 2);
            switch (k % 3) {
            case 0: u.push_back("http://" + host(n) + "/index.html"); break;
            case 1: u.push_back("https://x" + std::string(subdomains[k % 5]) + "." + host(n) + "/a/b?c=1"); break;
            default: u.push_back("http://unlisted" + std::to_string(n) + ".example/p"); break;
            }
        }
        return u;
    }();
    return urls;
}

URLLIST *loaded_list(int flags)
{
    URLLIST *l = urllist_initialize(flags);
    load(l);
    return l;
}

void check_urls_loop(benchmark::State &state, URLLIST *l)
{
    const std::vector<std::string> &urls = check_urls();
    size_t k = static_cast<size_t>(state.thread_index()) * 7;
    int64_t found = 0;
    for (auto _ : state) {
        const std::string &url = urls[k++ % urls.size()];
        URLLIST_EXPLODED_URL *u = urllist_explode_charset(url.c_str(), nullptr, 1, 0, nullptr);
        URLLIST_ITEM_DATA *data = nullptr;
        found += urllist_lookup_data(l, u, &data) == 0;
        urllist_free_urllist_exploded_url(u);
    }
    state.counters["found_share"] =
        benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations());
}

void BM_UrllistLookup_OneCore(benchmark::State &state)
{
    static URLLIST *l = loaded_list(0);
    check_urls();
    check_urls_loop(state, l);
}
BENCHMARK(BM_UrllistLookup_OneCore);

void BM_UrllistLookup_LockingThreads(benchmark::State &state)
{
    static URLLIST *l = loaded_list(URLLIST_LOCKING);
    check_urls();
    check_urls_loop(state, l);
}
BENCHMARK(BM_UrllistLookup_LockingThreads)->Threads(1)->Threads(2)->UseRealTime();

// Real block lists converted by bench/ublock_lists.py: the list file and the
// check URLs are named by VELMORA_REAL_LIST and VELMORA_REAL_URLS.
struct CheckUrl {
    std::string url;
    bool listed;
};

std::vector<CheckUrl> read_check_urls(const char *path)
{
    std::vector<CheckUrl> urls;
    std::ifstream in(path);
    std::string url, expected;
    while (in >> url >> expected)
        urls.push_back({url, expected == "D"});
    return urls;
}

void BM_UrllistRealLists(benchmark::State &state)
{
    const char *list_path = std::getenv("VELMORA_REAL_LIST");
    const char *urls_path = std::getenv("VELMORA_REAL_URLS");
    if (list_path == nullptr || urls_path == nullptr) {
        state.SkipWithError("set VELMORA_REAL_LIST and VELMORA_REAL_URLS (bench/ublock_lists.py)");
        return;
    }
    static URLLIST *l = [&] {
        URLLIST *list = urllist_initialize(0);
        urllist_add_file(list, list_path, 0);
        return list;
    }();
    static const std::vector<CheckUrl> urls = read_check_urls(urls_path);
    size_t k = 0;
    int64_t wrong = 0;
    for (auto _ : state) {
        const CheckUrl &c = urls[k++ % urls.size()];
        URLLIST_EXPLODED_URL *u = urllist_explode_charset(c.url.c_str(), nullptr, 1, 0, nullptr);
        URLLIST_ITEM_DATA *data = nullptr;
        wrong += (urllist_lookup_data(l, u, &data) == 0) != c.listed;
        urllist_free_urllist_exploded_url(u);
    }
    state.counters["entries"] = l->loaded_count;
    state.counters["wrong_answers"] = static_cast<double>(wrong);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UrllistRealLists);

} // namespace
