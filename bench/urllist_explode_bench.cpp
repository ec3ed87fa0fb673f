// Decomposition of URLs to check: host-only URLs, typical page URLs and long
// URLs.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "velmora/urllist_explode.h"

namespace {

const std::vector<std::string> host_only_urls = {
    "http://www.example.com/",
    "https://shop.example.co.uk",
    "http://10.20.30.40/",
    "https://cdn.static-files.net",
};

// 60 to 120 bytes with path and query.
const std::vector<std::string> page_urls = {
    "http://www.example.com/news/world/2024/06/11/story-about-things.html?ref=home&utm=1",
    "https://shop.example.co.uk/catalog/shoes/running/item-12345?color=blue&size=42",
    "http://images.cdn.example.net/photos/2023/summer/beach_sunset_large.jpg?w=800&h=600",
    "https://www.search-engine.example/search?q=velmora+url+filter&hl=en&start=10",
    "http://forum.example.org/threads/how-to-configure-lists/page/3#post-88231",
};

std::string long_url()
{
    std::string url = "https://very.long.subdomain.chain.of.labels.example.com:8443";
    for (int i = 0; i < 30; i++)
        url += "/segment" + std::to_string(i);
    url += "/file.tar.gz?";
    for (int i = 0; i < 20; i++)
        url += "param" + std::to_string(i) + "=value" + std::to_string(i) + "&";
    return url;
}

void explode_each(benchmark::State &state, const std::vector<std::string> &urls)
{
    size_t i = 0;
    for (auto _ : state) {
        URLLIST_EXPLODED_URL *rec = urllist_explode_charset(urls[i].c_str(), nullptr, 1, 0, nullptr);
        benchmark::DoNotOptimize(rec);
        urllist_free_urllist_exploded_url(rec);
        if (++i == urls.size())
            i = 0;
    }
}

void BM_ExplodeHostOnly(benchmark::State &state)
{
    explode_each(state, host_only_urls);
}

void BM_ExplodePageUrl(benchmark::State &state)
{
    explode_each(state, page_urls);
}

void BM_ExplodeLongUrl(benchmark::State &state)
{
    const std::vector<std::string> urls = {long_url()};
    state.SetLabel(std::to_string(urls[0].size()) + " bytes");
    explode_each(state, urls);
}

BENCHMARK(BM_ExplodeHostOnly);
BENCHMARK(BM_ExplodePageUrl);
BENCHMARK(BM_ExplodeLongUrl);

} // namespace
