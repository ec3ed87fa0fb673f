#include "velmora/file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int list_lines = 200000;

// A list-like file written once for the whole program and removed at exit.
struct ListFile {
    ListFile() : path("/tmp/velmora_file_bench_" + std::to_string(getpid()) + ".txt")
    {
        std::ofstream out(path);
        for (int i = 0; i < list_lines; i++)
            out << "www.example" << i << ".com/path/to/page" << (i % 97) << " d\n";
    }
    ~ListFile() { std::remove(path.c_str()); }
    std::string path;
};

const std::string &list_path()
{
    static const ListFile file;
    return file.path;
}

void BM_FileBufferReadLines(benchmark::State &state)
{
    for (auto _ : state) {
        file_buffer *fb = file_buffer_open(list_path().c_str());
        if (fb == nullptr) {
            state.SkipWithError("cannot open the list file");
            break;
        }
        int lines = 0;
        while (file_buffer_read_string(fb) == 0)
            lines++;
        file_buffer_close(fb);
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations() * list_lines);
}
BENCHMARK(BM_FileBufferReadLines)->Unit(benchmark::kMillisecond);

} // namespace
