// Loading and saving configuration stores of 1k, 10k and 100k entries. Both must grow linearly
// with the file: the "per_entry" counter should stay flat across the sizes, and the fitted
// complexity should be O(N). Run: build/default/bin/config_benchmark

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/configuration_file.h"

namespace {

// A scratch directory for the run, removed at exit.
class ScratchDir {
  public:
    ScratchDir() {
        char tmpl[] = "/tmp/vantrel-bench-XXXXXX";
        if (::mkdtemp(tmpl) != nullptr) path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

// A file like a real one, with every value type: integers, reals, strings, a few arrays, and
// comments. Written as text directly, since adding keys one by one scans the store each time.
std::string make_file(std::int64_t entries) {
    const std::string path = scratch().path() + "/load-" + std::to_string(entries) + ".cfg";
    std::ofstream out(path);
    out << "// generated for the benchmark\n";
    for (std::int64_t i = 0; i < entries; ++i) {
        switch (i % 4) {
            case 0:
                out << "COL" << i << "COUNT = " << i * 7 << ";\n";
                break;
            case 1:
                out << "POSITION" << i << " = " << i << ".125;  // steps\n";
                break;
            case 2:
                out << "COL" << i << "TYPE = \"type " << i << "\";\n";
                break;
            default:
                out << "TABLE" << i << " = [1, 2.5, \"x\"];\n";
        }
    }
    return path;
}

void set_per_entry_counter(benchmark::State& state) {
    state.SetComplexityN(state.range(0));
    state.counters["per_entry"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Load(benchmark::State& state) {
    const std::string path = make_file(state.range(0));
    for (auto _ : state) {
        vantrel::ConfigurationFile store;
        if (store.load_config(path) != 0) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(store.entries().data());
    }
    set_per_entry_counter(state);
}

void BM_Save(benchmark::State& state) {
    vantrel::ConfigurationFile store;
    if (store.load_config(make_file(state.range(0))) != 0) state.SkipWithError("load failed");
    const std::string target =
        scratch().path() + "/save-" + std::to_string(state.range(0)) + ".cfg";
    if (store.save_as(target, true) != 0) state.SkipWithError("save failed");
    for (auto _ : state) {
        if (store.save() != 0) state.SkipWithError("save failed");
    }
    set_per_entry_counter(state);
}

BENCHMARK(BM_Load)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_Save)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
