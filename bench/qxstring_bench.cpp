// Throughput of the text routines on the lookup and loading paths.
#include "velmora/base64.h"
#include "velmora/qxstring.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

const std::string kUrl = "HTTP://WWW.Example.COM/Some%20Path/With%41Escapes/index.html?Q=Search+Terms&x=%7E1";
const std::string kListLine = "example.com/path/to/page d 2024-01-01 some trailing comment text";

void BM_LowercaseUrl(benchmark::State &state)
{
    std::string buffer;
    for (auto _ : state) {
        buffer = kUrl;
        string_lowercase_url(buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kUrl.size()));
}
BENCHMARK(BM_LowercaseUrl);

void BM_ExplodeListLine(benchmark::State &state)
{
    std::string buffer;
    for (auto _ : state) {
        buffer = kListLine;
        char **fields = string_explode_limit(buffer.data(), ' ', 4, nullptr);
        benchmark::DoNotOptimize(fields);
        std::free(fields);
    }
}
BENCHMARK(BM_ExplodeListLine);

void BM_Base64Decode(benchmark::State &state)
{
    std::string plain(static_cast<std::size_t>(state.range(0)), 'x');
    std::string encoded(plain.size() * 2 + 16, '\0');
    base64_encode(plain.c_str(), encoded.data(), static_cast<int>(encoded.size()));
    std::string decoded(plain.size() + 16, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(base64_decode_bin(encoded.c_str(), decoded.data(), static_cast<int>(decoded.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64Decode)->Arg(48)->Arg(4096);

} // namespace
