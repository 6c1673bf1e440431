// Making a 3840 × 1080 alpha master through AlphaEncode::make, against running the same ffmpeg
// argument list from a shell with its progress thrown away: the difference is what the progress
// reading and the watchdog cost.
#include "TrelkCore/Making/AlphaEncode.h"
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Platform/Process.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr int width = 3840, height = 1080, frameCount = 75;

fs::path ffmpeg() {
    std::optional<fs::path> found = FFDecode::path();
    if (!found) throw std::runtime_error("no ffmpeg beside the benchmark");
    return *found;
}

// Three seconds of a moving pattern, half transparent, as ProRes 4444.
struct Master {
    TempFolder folder;
    fs::path file = folder / "master.mov";
    MasterInfo info;
    LadderPlan plan = LadderPlan::plan("clip", width, height, 1536, 128, LadderPlan::Alpha::yes);

    Master() {
        const std::string source = "testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height) +
                                   ":r=25:d=3,format=rgba,colorchannelmixer=aa=0.5";
        runProgram(ffmpeg().string(), {"-v", "error", "-nostdin", "-f", "lavfi", "-i", source, "-c:v", "prores",
                                       "-profile:v", "4", "-pix_fmt", "yuva444p10le", "-y", file.string()});
        info = FFDecode::probe(file);
        if (!info.alpha || info.frames != frameCount) throw std::runtime_error("ffmpeg made no alpha master");
    }
};

// Made once per run.
const Master& master() {
    static const Master made;
    return made;
}

void countFrames(benchmark::State& state) {
    state.counters["frames"] = benchmark::Counter(double(state.iterations() * frameCount), benchmark::Counter::kIsRate);
}

void makeThroughAlphaEncode(benchmark::State& state) {
    const Master& made = master();
    int64_t reports = 0;
    for (auto _ : state) {
        TempFolder into;
        AlphaEncode::make(
            made.file, made.info, made.plan, into.path(), [&](double) { ++reports; }, [] { return false; });
    }
    countFrames(state);
    state.counters["reports"] = benchmark::Counter(double(reports), benchmark::Counter::kAvgIterations);
}

// The same arguments, the way one would type them, progress lines and all going to /dev/null.
void ffmpegFromAShell(benchmark::State& state) {
    const Master& made = master();
    for (auto _ : state) {
        TempFolder into;
        std::vector<std::string> arguments{"-c", "\"$0\" \"$@\" > /dev/null", ffmpeg().string()};
        for (std::string& argument : AlphaEncode::arguments(made.file, into.path(), made.plan, made.info))
            arguments.push_back(std::move(argument));
        Process shell = Process::start("/bin/sh", arguments, Process::Stream::discard, Process::Stream::discard);
        if (!shell.wait().succeeded()) state.SkipWithError("ffmpeg failed");
    }
    countFrames(state);
}

BENCHMARK(makeThroughAlphaEncode)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ffmpegFromAShell)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
