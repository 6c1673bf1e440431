// What checking the made files costs against what making them costs, for a 1920 × 1080 master of
// two seconds on each road: ProRes decoded by the media libraries, and H.264 in Matroska decoded
// by the ffmpeg program, where the master's own length is read as well.
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/MadeCheck.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

enum Road { library, program };

constexpr const char* source = "testsrc2=s=1920x1080:r=25:d=2";

fs::path ffmpeg() {
    std::optional<fs::path> found = FFDecode::path();
    if (!found) throw std::runtime_error("no ffmpeg beside the benchmark");
    return *found;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A master and the files made of it once, with how long that making took.
struct Made {
    TempFolder folder;
    fs::path master;
    MasterInfo info;
    LadderPlan plan;
    int64_t written = 0;
    double makingSeconds = 0;

    explicit Made(Road road) : master(folder / (road == library ? "master.mov" : "master.mkv")) {
        std::vector<std::string> arguments{"-v", "error", "-nostdin", "-f", "lavfi", "-i", source};
        if (road == library)
            arguments.insert(arguments.end(), {"-c:v", "prores_ks", "-pix_fmt", "yuv422p10le"});
        else
            arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p"});
        arguments.insert(arguments.end(), {"-y", master.string()});
        runProgram(ffmpeg().string(), arguments);
        info = AVEngine().probe(master);
        plan = LadderPlan::plan("clip", info.w, info.h, 1536, 128, LadderPlan::Alpha::no);
        const auto start = std::chrono::steady_clock::now();
        written = make(folder.path());
        makingSeconds = secondsSince(start);
    }

    int64_t make(const fs::path& into) const {
        return AVEngine().make(
            master, info, plan, into, [](double) {}, [] { return false; });
    }
};

const Made& made(Road road) {
    static std::map<Road, Made> all;
    return all.try_emplace(road, road).first->second;
}

void makeTheLadder(benchmark::State& state) {
    const Made& master = made(Road(state.range(0)));
    for (auto _ : state) {
        TempFolder into;
        master.make(into.path());
    }
}

void checkTheMadeFiles(benchmark::State& state) {
    const Made& master = made(Road(state.range(0)));
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        MadeCheck::requireWhole(master.plan, master.folder.path(), master.written, master.master, master.info);
    const double check = secondsSince(start) / double(state.iterations());
    state.counters["making_ms"] = master.makingSeconds * 1e3;
    state.counters["check_%"] = 100 * check / master.makingSeconds;
}

void settings(benchmark::internal::Benchmark* benchmark) {
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(makeTheLadder)->Name("make/library")->Arg(library)->Iterations(3)->Apply(settings);
BENCHMARK(checkTheMadeFiles)->Name("check/library")->Arg(library)->Apply(settings);
BENCHMARK(makeTheLadder)->Name("make/program")->Arg(program)->Iterations(3)->Apply(settings);
BENCHMARK(checkTheMadeFiles)->Name("check/program")->Arg(program)->Apply(settings);

} // namespace

BENCHMARK_MAIN();
