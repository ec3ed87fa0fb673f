// IP list speed and memory with 100,000 random networks per family: inserts
// per second, longest-prefix lookups per second (iplist_find_data) and heap
// bytes per stored network.
#include "velmora/iplist.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kNetworks = 100000;
constexpr int kQueries = 1 << 20;

struct Network {
    qx_ipaddr address;
    int cidr;
};

qx_ipaddr random_address(std::mt19937_64 &rng, int family)
{
    qx_ipaddr a;
    std::memset(&a, 0, sizeof a);
    a.family = family;
    if (family == AF_INET) {
        a.addr.ip = static_cast<in_addr_t>(rng());
    } else {
        uint64_t halves[2] = {rng(), rng()};
        std::memcpy(&a.addr.ip6, halves, sizeof halves);
    }
    return a;
}

// IPv4 lengths 8-32; IPv6 lengths 16-128.
std::vector<Network> random_networks(int family)
{
    std::mt19937_64 rng(family);
    std::vector<Network> out;
    int shortest = family == AF_INET ? 8 : 16;
    int longest = family == AF_INET ? 32 : 128;
    for (int i = 0; i < kNetworks; i++)
        out.push_back({random_address(rng, family), shortest + static_cast<int>(rng() % (longest - shortest + 1))});
    return out;
}

// Returns the number of networks stored (duplicates are refused).
int fill(void *list, const std::vector<Network> &networks)
{
    int stored = 0;
    for (const Network &n : networks)
        stored += iplist_add_cidr(list, &n.address, n.cidr, const_cast<Network *>(&n)) == 0;
    return stored;
}

void insert_benchmark(benchmark::State &state, int family)
{
    std::vector<Network> networks = random_networks(family);
    int stored = 0;
    for (auto _ : state) {
        void *list = iplist_init(nullptr, nullptr);
        stored = fill(list, networks);
        state.PauseTiming();
        iplist_terminate(list);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kNetworks);
    state.counters["stored"] = stored;
}

// Heap in use, small blocks and separately mapped large blocks alike.
size_t heap_in_use()
{
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void lookup_benchmark(benchmark::State &state, int family)
{
    std::vector<Network> networks = random_networks(family);
    size_t before = heap_in_use();
    void *list = iplist_init(nullptr, nullptr);
    int stored = fill(list, networks);
    size_t after = heap_in_use();

    std::mt19937_64 rng(family + 100);
    std::vector<qx_ipaddr> queries;
    // Half the queries fall inside stored networks, half are random.
    for (int i = 0; i < kQueries; i++)
        queries.push_back(i % 2 ? networks[rng() % networks.size()].address : random_address(rng, family));

    size_t i = 0;
    size_t hits = 0;
    for (auto _ : state) {
        void *data = iplist_find_data(list, &queries[i]);
        hits += data != nullptr;
        benchmark::DoNotOptimize(data);
        i = (i + 1) & (kQueries - 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes_per_network"] = static_cast<double>(after - before) / stored;
    state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
    iplist_terminate(list);
}

void BM_Ipv4Insert(benchmark::State &state)
{
    insert_benchmark(state, AF_INET);
}
void BM_Ipv6Insert(benchmark::State &state)
{
    insert_benchmark(state, AF_INET6);
}
void BM_Ipv4Lookup(benchmark::State &state)
{
    lookup_benchmark(state, AF_INET);
}
void BM_Ipv6Lookup(benchmark::State &state)
{
    lookup_benchmark(state, AF_INET6);
}

BENCHMARK(BM_Ipv4Insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ipv6Insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ipv4Lookup);
BENCHMARK(BM_Ipv6Lookup);

} // namespace
