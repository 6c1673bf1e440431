// The per-picture work of placing a decoded picture into the outputs of a very wide master.
#include "TrelkCore/Making/Pixels.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

Media::Picture grey(int w, int h) {
    Media::Picture picture(w, h);
    std::memset(picture.luma(), 120, picture.lumaBytesPerRow() * size_t(h));
    std::memset(picture.chroma(), 128, picture.chromaBytesPerRow() * size_t(h / 2));
    return picture;
}

// 7680 × 1080 down to the 3840 × 540 wide file.
void scaleWide(benchmark::State& state) {
    const Media::Picture source = grey(7680, 1080);
    Media::Picture wide(3840, 540);
    for (auto _ : state) Pixels::scale(source, wide);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(scaleWide)->Unit(benchmark::kMillisecond);

// One 1536 × 1080 strip copied out of the same master.
void cropStrip(benchmark::State& state) {
    const Media::Picture source = grey(7680, 1080);
    Media::Picture strip(1536, 1080);
    for (auto _ : state) Pixels::crop(source, 2456, strip);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(cropStrip)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
