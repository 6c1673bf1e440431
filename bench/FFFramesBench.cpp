// Reading a 4K master through FFFrames, against ffmpeg decoding and converting the same file into
// nothing: the difference is what the pipe and the row copies cost beyond the decode.
#include "TrelkCore/Making/FFDecode.h"
#include "TrelkCore/Making/FFFrames.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr int width = 3840, height = 2160, frameCount = 75;
constexpr int64_t pictureBytes = int64_t(width) * height * 3 / 2;

enum Codec { h264, prores };

fs::path ffmpeg() {
    std::optional<fs::path> found = FFDecode::path();
    if (!found) throw std::runtime_error("no ffmpeg beside the benchmark");
    return *found;
}

// Three seconds of a moving pattern, made once per run: H.264 tagged Rec. 709, or 10-bit ProRes,
// which ffmpeg writes without colour tags.
const fs::path& master(Codec codec) {
    static const TempFolder folder;
    static std::map<Codec, fs::path> made;
    if (auto found = made.find(codec); found != made.end()) return found->second;
    const std::string source = "testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=25:d=3";
    const fs::path file = folder / (codec == h264 ? "master.mp4" : "master.mov");
    std::vector<std::string> arguments{"-v", "error", "-nostdin", "-f", "lavfi", "-i", source};
    if (codec == h264)
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                                           "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"});
    else
        arguments.insert(arguments.end(), {"-c:v", "prores_ks", "-pix_fmt", "yuv422p10le"});
    arguments.insert(arguments.end(), {"-y", file.string()});
    runProgram(ffmpeg().string(), arguments);
    if (!fs::exists(file)) throw std::runtime_error("ffmpeg made no " + file.string());
    return made[codec] = file;
}

void countFrames(benchmark::State& state, int64_t frames) {
    state.SetBytesProcessed(frames * pictureBytes);
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

void readThroughFFFrames(benchmark::State& state) {
    const fs::path& file = master(Codec(state.range(0)));
    const MasterInfo info = FFDecode::probe(file);
    int64_t frames = 0;
    for (auto _ : state) {
        FFFrames reader(ffmpeg(), file, info);
        int64_t read = 0;
        while (reader.next())
            ++read;
        reader.finish();
        if (read != frameCount) state.SkipWithError("FFFrames missed pictures");
        frames += read;
    }
    countFrames(state, frames);
}

// The decoder's own arguments, writing into ffmpeg's null muxer instead of the pipe.
void decodeIntoNothing(benchmark::State& state) {
    const fs::path& file = master(Codec(state.range(0)));
    const MasterInfo info = FFDecode::probe(file);
    for (auto _ : state) {
        std::vector<std::string> arguments = FFDecode::arguments(file, info);
        *std::ranges::find(arguments, "rawvideo") = "null";
        arguments.back() = "-";
        Process decoder = Process::start(ffmpeg(), arguments, Process::Stream::discard, Process::Stream::discard);
        if (!decoder.wait().succeeded()) state.SkipWithError("ffmpeg failed");
    }
    countFrames(state, state.iterations() * frameCount);
}

void settings(benchmark::internal::Benchmark* benchmark) {
    benchmark->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(readThroughFFFrames)->Name("FFFrames/h264")->Arg(h264)->Apply(settings);
BENCHMARK(decodeIntoNothing)->Name("ffmpegNull/h264")->Arg(h264)->Apply(settings);
BENCHMARK(readThroughFFFrames)->Name("FFFrames/prores")->Arg(prores)->Apply(settings);
BENCHMARK(decodeIntoNothing)->Name("ffmpegNull/prores")->Arg(prores)->Apply(settings);

} // namespace

BENCHMARK_MAIN();
