// Keyword and extension list lookups against realistic list sizes.
#include "velmora/extlist.h"
#include "velmora/keywordlist.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string random_word(std::mt19937 &rng, int min_len, int max_len)
{
    std::uniform_int_distribution<int> length(min_len, max_len);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string w(static_cast<std::size_t>(length(rng)), 'a');
    for (char &c : w)
        c = static_cast<char>(letter(rng));
    return w;
}

// words single keywords and a tenth as many three-word phrases.
KEYWORDLIST_TABLE *make_keyword_table(int words, std::mt19937 &rng)
{
    KEYWORDLIST_TABLE *table = keywordlist_initialize(nullptr, nullptr, nullptr);
    static char data;
    for (int i = 0; i < words; i++)
        keywordlist_add_keyword(table, random_word(rng, 4, 10).c_str(), &data, i % 3 == 0, 0);
    for (int i = 0; i < words / 10; i++) {
        std::string phrase = random_word(rng, 4, 8) + "+" + random_word(rng, 4, 8) + "+!" + random_word(rng, 4, 8);
        keywordlist_add_keyword(table, phrase.c_str(), &data, 0, 1);
    }
    return table;
}

void BM_KeywordLookupUrl(benchmark::State &state)
{
    std::mt19937 rng(7);
    KEYWORDLIST_TABLE *table = make_keyword_table(static_cast<int>(state.range(0)), rng);
    std::string url = "www.example.com/" + random_word(rng, 20, 20) + "/" + random_word(rng, 30, 30) +
                      "/index.html?q=" + random_word(rng, 20, 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(keywordlist_lookup(table, url.c_str(), nullptr, nullptr));
    keywordlist_terminate(table);
}
BENCHMARK(BM_KeywordLookupUrl)->Arg(1000)->Arg(100000);

void BM_ExtLookup(benchmark::State &state)
{
    EXTLIST_TABLE *table = extlist_initialize(50, nullptr);
    std::mt19937 rng(3);
    for (int i = 0; i < 200; i++)
        extlist_add_item(table, random_word(rng, 2, 5).c_str(), EXTLIST_PRESENT);
    extlist_add_item(table, "jpg", EXTLIST_PRESENT);
    for (auto _ : state)
        benchmark::DoNotOptimize(extlist_lookup(table, "JPG"));
    extlist_terminate(table);
}
BENCHMARK(BM_ExtLookup);

} // namespace
