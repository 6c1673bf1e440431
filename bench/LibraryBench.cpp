// The library scan over a large generated library: the first scan reads every still's header,
// later ones (every four seconds in the service) take still sizes from the cache.
#include "TrelkCore/Library/Library.h"
#include "bench/LibraryFill.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

namespace fs = std::filesystem;

namespace {

const TempFolder& library() {
    static const TempFolder folder;
    static const bool filled = (LibraryFill::fill(folder.path()), true);
    (void)filled;
    return folder;
}

void scan(benchmark::State& state) {
    const fs::path folder = library().path();
    size_t listed = 0;
    for (auto _ : state)
        listed = Library::scan(folder).size();
    if (listed != LibraryFill::assets) state.SkipWithError("the scan missed assets");
    state.counters["assets"] = double(listed);
}

// Registered first so that it runs on an empty still-size cache.
BENCHMARK(scan)->Name("firstScan")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(scan)->Name("repeatedScan")->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace

BENCHMARK_MAIN();
