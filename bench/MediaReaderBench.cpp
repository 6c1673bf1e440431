// The conversion of decoded pictures to NV12 for one 3840 × 2160 frame: the rounding to 8 bits
// a 10-bit 4:2:2 ProRes picture takes, and the plain copy an 8-bit 4:2:0 picture takes.
#include "TrelkCore/Platform/MediaConversion.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

constexpr int width = 3840, height = 2160;

struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// A frame as a decoder leaves it, untagged, with a gradient in every plane.
std::unique_ptr<AVFrame, FreeFrame> decodedFrame(AVPixelFormat format) {
    std::unique_ptr<AVFrame, FreeFrame> frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 64) < 0) throw std::runtime_error("no frame");
    const bool deep = format == AV_PIX_FMT_YUV422P10LE;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 || deep ? height : height / 2;
        for (int row = 0; row < rows; ++row) {
            uint8_t* line = frame->data[plane] + ptrdiff_t(frame->linesize[plane]) * row;
            if (deep)
                for (int i = 0; i < frame->linesize[plane] / 2; ++i)
                    reinterpret_cast<uint16_t*>(line)[i] = uint16_t(64 + (i + row) % 876);
            else
                std::memset(line, 16 + row % 219, size_t(frame->linesize[plane]));
        }
    }
    return frame;
}

void convert(benchmark::State& state, AVPixelFormat format) {
    const auto frame = decodedFrame(format);
    Media::Picture picture(width, height);
    Media::NV12Conversion conversion;
    for (auto _ : state) {
        conversion.convert(*frame, picture);
        benchmark::DoNotOptimize(picture.luma());
    }
    state.SetItemsProcessed(state.iterations());
}

void convertProRes422Of10Bits(benchmark::State& state) { convert(state, AV_PIX_FMT_YUV422P10LE); }
void copyPlanar420Of8Bits(benchmark::State& state) { convert(state, AV_PIX_FMT_YUV420P); }

BENCHMARK(convertProRes422Of10Bits)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(copyPlanar420Of8Bits)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

BENCHMARK_MAIN();
