// Memory and time of laying host entries into a URL list: bytes in use per
// entry (allocator chunks, nodes plus the entry's result record) for one
// million distinct two- and three-label hosts.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "velmora/urllist.h"

namespace {

constexpr size_t entry_count = 1000000;
const char *const tlds[] = {"com", "net", "org", "de", "info", "io"};
const char *const subdomains[] = {"www", "m", "cdn", "api", "img"};

std::string two_label(size_t k)
{
    return "http://d" + std::to_string(k) + "." + tlds[k % 6];
}

// Half two-label domains, half three-label hosts below those domains (the
// usual shape of host lists: a domain and some of its sub-domains).
std::vector<std::string> shared_domain_hosts()
{
    std::vector<std::string> hosts;
    hosts.reserve(entry_count);
    for (size_t k = 0; k < entry_count / 2; k++)
        hosts.push_back(two_label(k));
    for (size_t k = 0; hosts.size() < entry_count; k++)
        hosts.push_back("http://" + std::string(subdomains[k % 5]) + ".d" + std::to_string(k / 5) + "." +
                        tlds[(k / 5) % 6]);
    return hosts;
}

// Half two-label domains, half three-label hosts each below a domain of its
// own: every three-label entry makes two nodes.
std::vector<std::string> distinct_domain_hosts()
{
    std::vector<std::string> hosts;
    hosts.reserve(entry_count);
    for (size_t k = 0; k < entry_count / 2; k++)
        hosts.push_back(two_label(k));
    for (size_t k = 0; hosts.size() < entry_count; k++)
        hosts.push_back("http://www.x" + std::to_string(k) + "." + tlds[k % 6]);
    return hosts;
}

size_t bytes_in_use()
{
    return mallinfo2().uordblks;
}

void lay_hosts(benchmark::State &state, const std::vector<std::string> &hosts)
{
    for (auto _ : state) {
        size_t before = bytes_in_use();
        URLLIST *l = urllist_initialize(0);
        for (const std::string &host : hosts) {
            URLLIST_EXPLODED_URL *rec = urllist_explode(host.c_str(), nullptr, 0, 0);
            URLLIST_ITEM_DATA *data = urllist_new_urllist_item_data(-1, UA_DENY, nullptr);
            if (urllist_add_to_tree(&l->root, rec, 0, data, 1, 0, 0) != 0 || data->refcount == 0)
                urllist_destroy_item_data(data);
            urllist_free_urllist_exploded_url(rec);
        }
        size_t after = bytes_in_use();
        state.counters["bytes_per_entry"] = static_cast<double>(after - before) / static_cast<double>(hosts.size());
        state.PauseTiming();
        urllist_terminate(l);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * hosts.size()));
}

void BM_UrllistStore_SharedDomains(benchmark::State &state)
{
    static const std::vector<std::string> hosts = shared_domain_hosts();
    lay_hosts(state, hosts);
}
BENCHMARK(BM_UrllistStore_SharedDomains)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_UrllistStore_DistinctDomains(benchmark::State &state)
{
    static const std::vector<std::string> hosts = distinct_domain_hosts();
    lay_hosts(state, hosts);
}
BENCHMARK(BM_UrllistStore_DistinctDomains)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
