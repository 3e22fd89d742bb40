// Throughput of a whole resource build: scan, stream every file, rename into place.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "resources/resource_builder.h"

namespace {

namespace fs = std::filesystem;

// A tree of `files` files of `size` bytes spread over ten folders; removed at scope exit.
class BenchTree {
public:
    BenchTree(int files, std::size_t size) {
        std::string templ = (fs::temp_directory_path() / "pelor-rsc-bench-XXXXXX").string();
        if (!::mkdtemp(templ.data())) return;
        root_ = templ;
        const std::vector<char> data(size, 'r');
        for (int i = 0; i < files; ++i) {
            const fs::path path =
                fs::path(root_) / ("d" + std::to_string(i % 10)) / (std::to_string(i) + ".dat");
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary).write(data.data(), static_cast<long>(size));
        }
    }
    ~BenchTree() {
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

void BM_BuildResourceBinary(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const auto size = static_cast<std::size_t>(state.range(1));
    BenchTree tree(files, size);
    if (tree.Root().empty()) {
        state.SkipWithError("cannot create the tree");
        return;
    }
    std::string error;
    for (auto _ : state) {
        if (!RESOURCE_BuildBinary(tree.Root(), "", nullptr, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * files * static_cast<std::int64_t>(size));
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(files),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BuildResourceBinary)
    ->Args({1499, 1000})       // a full table of small files
    ->Args({100, 256 * 1024})  // fewer, larger files
    ->Unit(benchmark::kMillisecond);

}  // namespace
