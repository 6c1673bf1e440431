#include "TrelkCore/Platform/MediaAsset.h"

#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/StreamSeconds.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstring>

namespace Media {
namespace {

constexpr uint32_t code(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 | uint32_t(uint8_t(text[2])) << 8 |
           uint32_t(uint8_t(text[3]));
}

Time timeOf(int64_t value, AVRational base) {
    if (base.num <= 0 || base.den <= 0) return {};
    return {av_rescale_q(value, base, AVRational{1, base.den}), base.den};
}

// The stream's own length where the container states one: the container's may count a longer
// stream or the time before a late start.
int64_t lengthOf(const AVFormatContext& input, const AVStream& stream) {
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) return stream.duration;
    const std::optional<double> seconds = streamSeconds(stream).or_else([&] { return containerSeconds(input); });
    if (!seconds || stream.time_base.num <= 0 || stream.time_base.den <= 0) return 0;
    return std::llround(*seconds / av_q2d(stream.time_base));
}

TimeRange rangeOf(const AVFormatContext& input, const AVStream& stream) {
    const int64_t start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
    return {timeOf(start, stream.time_base), timeOf(lengthOf(input, stream), stream.time_base)};
}

bool isRate(AVRational rate) { return rate.num > 0 && rate.den > 0; }

uint32_t proResCode(int profile) {
    switch (profile) {
    case FF_PROFILE_PRORES_PROXY: return code("apco");
    case FF_PROFILE_PRORES_LT: return code("apcs");
    case FF_PROFILE_PRORES_HQ: return code("apch");
    case FF_PROFILE_PRORES_4444: return code("ap4h");
    case FF_PROFILE_PRORES_XQ: return code("ap4x");
    default: return code("apcn");
    }
}

// The sample-entry code a QuickTime file would carry for the codec, for containers without one.
uint32_t codeOfCodec(const AVCodecParameters& codec) {
    switch (codec.codec_id) {
    case AV_CODEC_ID_H264: return code("avc1");
    case AV_CODEC_ID_HEVC: return code("hvc1");
    case AV_CODEC_ID_PRORES: return proResCode(codec.profile);
    case AV_CODEC_ID_PNG: return code("png ");
    case AV_CODEC_ID_MJPEG: return code("jpeg");
    case AV_CODEC_ID_MPEG4: return code("mp4v");
    case AV_CODEC_ID_MPEG2VIDEO: return code("mp2v");
    case AV_CODEC_ID_VP9: return code("vp09");
    case AV_CODEC_ID_AV1: return code("av01");
    case AV_CODEC_ID_DNXHD: return code("AVdn");
    case AV_CODEC_ID_QTRLE: return code("rle ");
    case AV_CODEC_ID_HAP: return code("Hap1");
    case AV_CODEC_ID_CFHD: return code("CFHD");
    default: return 0;
    }
}

bool isQuickTime(const AVFormatContext& input) { return std::strstr(input.iformat->name, "mov") != nullptr; }

uint32_t subTypeOf(const AVFormatContext& input, const AVCodecParameters& codec) {
    // libavformat keeps the tag with its first character in the lowest byte.
    if (isQuickTime(input) && codec.codec_tag != 0) return __builtin_bswap32(codec.codec_tag);
    return codeOfCodec(codec);
}

std::optional<std::string> primariesName(AVColorPrimaries primaries) {
    switch (primaries) {
    case AVCOL_PRI_BT709: return "ITU_R_709_2";
    case AVCOL_PRI_SMPTE170M:
    case AVCOL_PRI_SMPTE240M: return "SMPTE_C";
    case AVCOL_PRI_BT470BG: return "EBU_3213";
    case AVCOL_PRI_BT2020: return "ITU_R_2020";
    case AVCOL_PRI_SMPTE431: return "DCI_P3";
    case AVCOL_PRI_SMPTE432: return "P3_D65";
    default: return std::nullopt;
    }
}

std::optional<std::string> transferName(AVColorTransferCharacteristic transfer) {
    switch (transfer) {
    case AVCOL_TRC_BT709: return "ITU_R_709_2";
    case AVCOL_TRC_SMPTE170M: return "SMPTE_170M_1999";
    case AVCOL_TRC_SMPTE240M: return "SMPTE_240M_1995";
    case AVCOL_TRC_BT2020_10:
    case AVCOL_TRC_BT2020_12: return "ITU_R_2020";
    case AVCOL_TRC_SMPTE2084: return "SMPTE_ST_2084_PQ";
    case AVCOL_TRC_ARIB_STD_B67: return "ITU_R_2100_HLG";
    case AVCOL_TRC_SMPTE428: return "SMPTE_ST_428_1";
    case AVCOL_TRC_IEC61966_2_1: return "IEC_sRGB";
    case AVCOL_TRC_LINEAR: return "Linear";
    default: return std::nullopt;
    }
}

std::optional<std::string> matrixName(AVColorSpace matrix) {
    switch (matrix) {
    case AVCOL_SPC_BT709: return "ITU_R_709_2";
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return "ITU_R_601_4";
    case AVCOL_SPC_SMPTE240M: return "SMPTE_240M_1995";
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return "ITU_R_2020";
    default: return std::nullopt;
    }
}

int depthOf(int pixelFormat) {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(pixelFormat));
    return format && (format->flags & AV_PIX_FMT_FLAG_ALPHA) ? 32 : 24;
}

std::string textOf(const char* name) { return name ? name : ""; }

FormatDescription describe(const AVFormatContext& input, const AVCodecParameters& codec) {
    return {subTypeOf(input, codec),
            primariesName(codec.color_primaries),
            transferName(codec.color_trc),
            matrixName(codec.color_space),
            depthOf(codec.format),
            textOf(avcodec_profile_name(codec.codec_id, codec.profile)),
            textOf(av_get_pix_fmt_name(AVPixelFormat(codec.format)))};
}

std::optional<std::array<int32_t, 9>> displayMatrixOf(const AVStream& stream) {
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    std::array<int32_t, 9> matrix{};
    if (!data || size < sizeof matrix) return std::nullopt;
    std::memcpy(matrix.data(), data, sizeof matrix);
    return matrix;
}

std::string fieldOrderName(AVFieldOrder order) {
    switch (order) {
    case AV_FIELD_PROGRESSIVE: return "progressive";
    case AV_FIELD_TT: return "tt";
    case AV_FIELD_BB: return "bb";
    case AV_FIELD_TB: return "tb";
    case AV_FIELD_BT: return "bt";
    default: return "";
    }
}

VideoTrack videoTrackOf(const AVFormatContext& input, const AVStream& stream) {
    VideoTrack track;
    track.streamIndex = stream.index;
    track.naturalWidth = stream.codecpar->width;
    track.naturalHeight = stream.codecpar->height;
    track.timeRange = rangeOf(input, stream);
    track.formatDescriptions = {describe(input, *stream.codecpar)};
    track.displayMatrix = displayMatrixOf(stream);
    track.fieldOrder = fieldOrderName(stream.codecpar->field_order);
    const AVRational rate = isRate(stream.avg_frame_rate) ? stream.avg_frame_rate : stream.r_frame_rate;
    if (isRate(rate)) track.nominalFrameRate = av_q2d(rate);
    // Both rates agree only when every frame lasts the same.
    if (isRate(stream.avg_frame_rate) && av_cmp_q(stream.avg_frame_rate, stream.r_frame_rate) == 0)
        track.minFrameDuration = Time{stream.avg_frame_rate.den, stream.avg_frame_rate.num};
    if (isRate(stream.r_frame_rate)) track.baseFrameDuration = Time{stream.r_frame_rate.den, stream.r_frame_rate.num};
    return track;
}

AudioTrack audioTrackOf(const AVFormatContext& input, const AVStream& stream) {
    return {stream.index, stream.codecpar->sample_rate, stream.codecpar->ch_layout.nb_channels,
            rangeOf(input, stream)};
}

double secondsOf(const AVFormatContext& input) {
    if (input.duration == AV_NOPTS_VALUE || input.duration < 0) return 0;
    return double(input.duration) / AV_TIME_BASE;
}

} // namespace

std::shared_ptr<const MediaAsset> MediaAsset::open(const std::filesystem::path& file) {
    AV::Input input = AV::openInput(file);
    if (int failure = avformat_find_stream_info(input.get(), nullptr); failure < 0)
        throw std::runtime_error(AV::errorText(failure));
    std::shared_ptr<MediaAsset> asset(new MediaAsset());
    asset->path = file;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream& stream = *input->streams[i];
        const AVMediaType type = stream.codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            asset->video.push_back(videoTrackOf(*input, stream));
        else if (type == AVMEDIA_TYPE_AUDIO)
            asset->audio.push_back(audioTrackOf(*input, stream));
    }
    if (asset->video.empty() && asset->audio.empty()) throw std::runtime_error(AV::errorText(AVERROR_STREAM_NOT_FOUND));
    asset->seconds = secondsOf(*input);
    return asset;
}

} // namespace Media
