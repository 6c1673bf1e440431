#include "TrelkCore/Platform/MediaConversion.h"

#include "TrelkCore/Platform/AVHolders.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <optional>

namespace Media {
namespace {

bool fullRange(const AVFrame& frame) {
    switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return frame.color_range == AVCOL_RANGE_JPEG;
    }
}

bool copiable(const AVFrame& frame) {
    return (frame.format == AV_PIX_FMT_NV12 || frame.format == AV_PIX_FMT_YUV420P) && !fullRange(frame);
}

// libswscale reads an untagged source as BT.601; the rest of the system calls it Rec. 709.
int matrixOf(const AVFrame& frame) {
    switch (frame.colorspace) {
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return frame.colorspace;
    default:
        return AVCOL_SPC_BT709;
    }
}

void copyRows(const uint8_t* from, int fromStride, uint8_t* into, size_t intoStride, size_t bytes, int rows) {
    for (int row = 0; row < rows; ++row)
        std::memcpy(into + intoStride * size_t(row), from + ptrdiff_t(fromStride) * row, bytes);
}

void interleaveRows(const AVFrame& frame, Picture& into, int pairs, int rows) {
    for (int row = 0; row < rows; ++row) {
        const uint8_t* cb = frame.data[1] + ptrdiff_t(frame.linesize[1]) * row;
        const uint8_t* cr = frame.data[2] + ptrdiff_t(frame.linesize[2]) * row;
        uint8_t* pair = into.chroma() + into.chromaBytesPerRow() * size_t(row);
        for (int i = 0; i < pairs; ++i) {
            pair[2 * i] = cb[i];
            pair[2 * i + 1] = cr[i];
        }
    }
}

void copy(const AVFrame& frame, Picture& into) {
    const int pairs = (frame.width + 1) / 2, chromaRows = (frame.height + 1) / 2;
    copyRows(frame.data[0], frame.linesize[0], into.luma(), into.lumaBytesPerRow(), size_t(frame.width), frame.height);
    if (frame.format == AV_PIX_FMT_NV12)
        copyRows(frame.data[1], frame.linesize[1], into.chroma(), into.chromaBytesPerRow(), size_t(pairs) * 2,
                 chromaRows);
    else
        interleaveRows(frame, into, pairs, chromaRows);
}

// The bits to drop from each sample of a planar video-range Y'CbCr source of 9 to 16 bits with
// chroma halved across (4:2:2, 4:2:0); none for other sources.
std::optional<int> narrowing(const AVFrame& frame) {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    constexpr uint64_t otherKinds = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                    AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    if (!format || fullRange(frame) || !(format->flags & AV_PIX_FMT_FLAG_PLANAR) || (format->flags & otherKinds) ||
        format->nb_components < 3 || format->log2_chroma_w != 1 || format->log2_chroma_h > 1)
        return std::nullopt;
    const int depth = format->comp[0].depth;
    for (int component = 0; component < 3; ++component) {
        const AVComponentDescriptor& sample = format->comp[component];
        if (sample.plane != component || sample.step != 2 || sample.shift != 0 || sample.depth != depth)
            return std::nullopt;
    }
    if (depth < 9 || depth > 16) return std::nullopt;
    return depth - 8;
}

const uint16_t* samples(const AVFrame& frame, int plane, int row) {
    return reinterpret_cast<const uint16_t*>(frame.data[plane] + ptrdiff_t(frame.linesize[plane]) * row);
}

// Two samples' rounded mean at 8 bits; a sample with itself is that sample rounded.
uint8_t narrowed(unsigned a, unsigned b, int shift) {
    return uint8_t(std::min((a + b + (1u << shift)) >> (shift + 1), 255u));
}

// The samples keep their meaning: each is rounded to 8 bits, and for 4:2:2 the two chroma rows
// of a 4:2:0 row are averaged.
__attribute__((target_clones("avx2", "default"))) void narrow(const AVFrame& frame, Picture& into, int shift) {
    // In locals: the stores through uint8_t pointers could otherwise change them, as far as the
    // compiler knows, and the loops would not be vectorised.
    const int width = frame.width, height = frame.height;
    for (int row = 0; row < height; ++row) {
        const uint16_t* y = samples(frame, 0, row);
        uint8_t* luma = into.luma() + into.lumaBytesPerRow() * size_t(row);
        for (int i = 0; i < width; ++i)
            luma[i] = narrowed(y[i], y[i], shift);
    }
    const bool fullHeight = av_pix_fmt_desc_get(AVPixelFormat(frame.format))->log2_chroma_h == 0;
    const int pairs = (width + 1) / 2, chromaRows = (height + 1) / 2;
    for (int row = 0; row < chromaRows; ++row) {
        const int top = fullHeight ? 2 * row : row, bottom = fullHeight ? std::min(top + 1, height - 1) : row;
        const uint16_t *cb = samples(frame, 1, top), *cbBelow = samples(frame, 1, bottom);
        const uint16_t *cr = samples(frame, 2, top), *crBelow = samples(frame, 2, bottom);
        uint8_t* pair = into.chroma() + into.chromaBytesPerRow() * size_t(row);
        for (int i = 0; i < pairs; ++i) {
            pair[2 * i] = narrowed(cb[i], cbBelow[i], shift);
            pair[2 * i + 1] = narrowed(cr[i], crBelow[i], shift);
        }
    }
}

// libswscale blends the last chroma sample of an odd-width picture with black when it halves
// full-width chroma, which tints the last column.
bool needsEvenWidth(const AVFrame& frame) {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    return frame.width % 2 == 1 && format && format->log2_chroma_w == 0 && !(format->flags & AV_PIX_FMT_FLAG_BITSTREAM);
}

// A copy one column wider, its last column repeated.
AV::Frame widened(const AVFrame& frame) {
    AV::Frame wide = AV::make<AV::Frame>(av_frame_alloc);
    wide->format = frame.format;
    wide->width = frame.width + 1;
    wide->height = frame.height;
    if (int failure = av_frame_get_buffer(wide.get(), 0); failure < 0) throw std::runtime_error(AV::errorText(failure));
    if (int failure = av_frame_copy_props(wide.get(), &frame); failure < 0)
        throw std::runtime_error(AV::errorText(failure));
    int narrow[4] = {}, full[4] = {};
    av_image_fill_linesizes(narrow, AVPixelFormat(frame.format), frame.width);
    av_image_fill_linesizes(full, AVPixelFormat(frame.format), wide->width);
    for (int plane = 0; plane < 4 && frame.data[plane]; ++plane) {
        const int pixel = full[plane] - narrow[plane];
        for (int row = 0; row < frame.height; ++row) {
            const uint8_t* from = frame.data[plane] + ptrdiff_t(frame.linesize[plane]) * row;
            uint8_t* into = wide->data[plane] + ptrdiff_t(wide->linesize[plane]) * row;
            std::memcpy(into, from, size_t(narrow[plane]));
            std::memcpy(into + narrow[plane], from + narrow[plane] - pixel, size_t(pixel));
        }
    }
    return wide;
}

} // namespace

struct NV12Conversion::Scaling {
    struct Key {
        int width, height, format, matrix;
        bool full;
        bool operator==(const Key&) const = default;
    };
    Key key;
    AV::Scaler scaler;
};

NV12Conversion::NV12Conversion() = default;
NV12Conversion::~NV12Conversion() = default;

void NV12Conversion::convert(const AVFrame& frame, Picture& into) {
    if (copiable(frame))
        copy(frame, into);
    else if (const std::optional<int> shift = narrowing(frame))
        narrow(frame, into, *shift);
    else if (needsEvenWidth(frame))
        scale(*widened(frame), into); // the picture's rows have room for the extra column
    else
        scale(frame, into);
}

void NV12Conversion::scale(const AVFrame& frame, Picture& into) {
    const Scaling::Key key{frame.width, frame.height, frame.format, matrixOf(frame), fullRange(frame)};
    if (!scaling || !(scaling->key == key)) {
        AV::Scaler scaler(sws_getContext(frame.width, frame.height, AVPixelFormat(frame.format), frame.width,
                                         frame.height, AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!scaler) {
            const char* name = av_get_pix_fmt_name(AVPixelFormat(frame.format));
            throw std::runtime_error(std::string("can't convert pictures of the format ") + (name ? name : "unknown"));
        }
        // The same matrix on both sides: the samples keep their meaning and only change form.
        const int* matrix = sws_getCoefficients(key.matrix);
        sws_setColorspaceDetails(scaler.get(), matrix, key.full, matrix, 0, 0, 1 << 16, 1 << 16);
        scaling = std::make_unique<Scaling>(Scaling{key, std::move(scaler)});
    }
    uint8_t* planes[4] = {into.luma(), into.chroma(), nullptr, nullptr};
    const int strides[4] = {int(into.lumaBytesPerRow()), int(into.chromaBytesPerRow()), 0, 0};
    sws_scale(scaling->scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
}

} // namespace Media
