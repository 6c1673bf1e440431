#include "TrelkCore/Platform/MediaConversion.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FreeFrame>;

// A deep planar frame whose planes hold the given rows of samples.
Frame deepFrame(AVPixelFormat format, int width, int height,
                const std::vector<std::vector<std::vector<uint16_t>>>& planes) {
    Frame frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::runtime_error("no frame");
    for (size_t plane = 0; plane < planes.size(); ++plane)
        for (size_t row = 0; row < planes[plane].size(); ++row)
            for (size_t i = 0; i < planes[plane][row].size(); ++i)
                reinterpret_cast<uint16_t*>(frame->data[plane] + frame->linesize[plane] * int(row))[i] =
                    planes[plane][row][i];
    return frame;
}

std::vector<uint8_t> lumaRow(const Media::Picture& picture, int row) {
    const uint8_t* luma = picture.luma() + picture.lumaBytesPerRow() * size_t(row);
    return {luma, luma + picture.width()};
}

std::vector<uint8_t> chromaRow(const Media::Picture& picture, int row) {
    const uint8_t* chroma = picture.chroma() + picture.chromaBytesPerRow() * size_t(row);
    return {chroma, chroma + 2 * ((picture.width() + 1) / 2)};
}

using Bytes = std::vector<uint8_t>;

TEST(NV12Conversion, RoundsTenBit422ToEightBitsAndAveragesEachPairOfChromaRows) {
    // Odd in both directions: three chroma columns, and a last row that has no partner.
    const Frame frame = deepFrame(AV_PIX_FMT_YUV422P10LE, 5, 3,
                                  {{{64, 65, 66, 940, 1023}, {0, 1, 2, 3, 4}, {1019, 1020, 1021, 1022, 1023}},
                                   {{512, 64, 960}, {514, 64, 1023}, {100, 101, 102}},
                                   {{64, 512, 0}, {68, 512, 3}, {1023, 1022, 1021}}});
    Media::Picture picture(5, 3);
    Media::NV12Conversion().convert(*frame, picture);

    EXPECT_EQ(lumaRow(picture, 0), (Bytes{16, 16, 17, 235, 255}));
    EXPECT_EQ(lumaRow(picture, 1), (Bytes{0, 0, 1, 1, 1}));
    EXPECT_EQ(lumaRow(picture, 2), (Bytes{255, 255, 255, 255, 255}));
    // Cb, Cr pairs: the mean of rows 0 and 1, then row 2 alone.
    EXPECT_EQ(chromaRow(picture, 0), (Bytes{128, 17, 16, 128, 248, 0}));
    EXPECT_EQ(chromaRow(picture, 1), (Bytes{25, 255, 25, 255, 26, 255}));
}

TEST(NV12Conversion, RoundsDeep420AndTwelveBitPicturesRowForRow) {
    const Frame ten = deepFrame(AV_PIX_FMT_YUV420P10LE, 2, 2, {{{64, 1023}, {66, 65}}, {{514}}, {{62}}});
    Media::Picture fromTen(2, 2);
    Media::NV12Conversion().convert(*ten, fromTen);
    EXPECT_EQ(lumaRow(fromTen, 0), (Bytes{16, 255}));
    EXPECT_EQ(lumaRow(fromTen, 1), (Bytes{17, 16}));
    EXPECT_EQ(chromaRow(fromTen, 0), (Bytes{129, 16}));

    const Frame twelve =
        deepFrame(AV_PIX_FMT_YUV422P12LE, 2, 2, {{{256, 4095}, {263, 264}}, {{2048}, {2064}}, {{256}, {256}}});
    Media::Picture fromTwelve(2, 2);
    Media::NV12Conversion().convert(*twelve, fromTwelve);
    EXPECT_EQ(lumaRow(fromTwelve, 0), (Bytes{16, 255}));
    EXPECT_EQ(lumaRow(fromTwelve, 1), (Bytes{16, 17}));
    EXPECT_EQ(chromaRow(fromTwelve, 0), (Bytes{129, 16}));
}

} // namespace
