// Copying a master that is not the queue's own: Files::copyFile against cp --reflink=auto on the
// same disk, in the same run, on a file of TRELK_COPY_GIB GiB (4 unless told). The copy is
// synced before it takes its name; the cp rows are with and without the sync that matches it.
#include "TrelkCore/Platform/FileMoves.h"
#include "tests/support/Child.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace fs = std::filesystem;

namespace {

int64_t gibibytes() {
    const char* told = std::getenv("TRELK_COPY_GIB");
    return told ? std::atoll(told) : 4;
}

// Beside the build, on the disk a library would be on; written once for every benchmark.
const fs::path& master() {
    static const fs::path file = [] {
        const fs::path path = fs::current_path() / "copy-bench-master.bin";
        const int64_t bytes = gibibytes() << 30;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> piece(1 << 20);
        for (size_t i = 0; i < piece.size(); ++i) piece[i] = char(i * 2654435761u >> 24); // not all zeros
        for (int64_t done = 0; done < bytes; done += int64_t(piece.size()))
            if (::write(fd, piece.data(), piece.size()) < 0) std::abort();
        ::fsync(fd);
        ::close(fd);
        // A first copy, not timed: the runs after a fresh master measured slower, whichever came first.
        const fs::path warmUp = path.parent_path() / "copy-bench-warm-up.bin";
        runProgram("/bin/cp", {path.string(), warmUp.string()});
        fs::remove(warmUp);
        return path;
    }();
    return file;
}

// Each benchmark starts with nothing left to write back from the one before.
const fs::path& settledMaster() {
    const fs::path& file = master();
    ::sync();
    return file;
}

void report(benchmark::State& state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * (gibibytes() << 30));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["maxRSS_MiB"] = double(usage.ru_maxrss) / 1024;
}

void copyFile(benchmark::State& state) {
    const fs::path target = settledMaster().parent_path() / "copy-bench-target.bin";
    for (auto _ : state) {
        fs::remove(target);
        Files::copyFile(master(), target);
    }
    fs::remove(target);
    report(state);
}
BENCHMARK(copyFile)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void cp(benchmark::State& state, bool sync) {
    const fs::path target = settledMaster().parent_path() / "copy-bench-target.bin";
    for (auto _ : state) {
        fs::remove(target);
        runProgram("/bin/cp", {"--reflink=auto", master().string(), target.string()});
        if (sync) runProgram("/bin/sync", {target.string()});
    }
    fs::remove(target);
    report(state);
}
BENCHMARK_CAPTURE(cp, alone, false)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(cp, thenSync, true)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(fs::current_path() / "copy-bench-master.bin", ignored); // gigabytes nobody needs afterwards
}
