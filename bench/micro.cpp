// Micro-benchmarks on a random tree of 10,000 leaves (made by treegen at
// build time): reading it, and one re-rooting with its output.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "default_mode/tree.h"

namespace {

std::string first_line() {
    std::ifstream in(QUORLEN_BENCH_TREE);
    std::string line;
    std::getline(in, line);
    return line;
}

void read_tree(benchmark::State& state) {
    const std::string line = first_line();
    for (auto _ : state) {
        quorlen::tree t(line);
        benchmark::DoNotOptimize(t.get_root());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(read_tree);

// Each iteration re-roots above the next internal node in the program's
// order, starting again from the first once all are done.
void reroot_and_write(benchmark::State& state) {
    quorlen::tree t(first_line());
    const std::vector<quorlen::node_ref> internal = t.get_all_internalNodes();
    std::FILE* sink = std::fopen("/dev/null", "w");
    std::size_t next = 0;
    for (auto _ : state) {
        t.produce(internal[next], sink);
        if (++next == internal.size() - 1) next = 0;  // the last is the first root
    }
    std::fclose(sink);
}
BENCHMARK(reroot_and_write);

}  // namespace

BENCHMARK_MAIN();
