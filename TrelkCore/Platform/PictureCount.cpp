#include "TrelkCore/Platform/PictureCount.h"

#include "TrelkCore/Platform/AVHolders.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <cmath>

namespace Media {
namespace {

// Longer than any master: a stated length beyond it is not believed.
constexpr double longestSeconds = 1e9;

// The first video stream that is not a cover picture; null when there is none.
AVStream* firstVideo(const AVFormatContext& input) {
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        AVStream* stream = input.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

AVStream& requireVideo(const AVFormatContext& input) {
    AVStream* video = firstVideo(input);
    if (!video) throw std::runtime_error(AV::errorText(AVERROR_STREAM_NOT_FOUND));
    return *video;
}

// Reads to the end, counting the packets of the video stream that arrived whole.
int64_t wholePackets(AVFormatContext& input, const AVStream& video) {
    for (unsigned i = 0; i < input.nb_streams; ++i)
        if (input.streams[i] != &video) input.streams[i]->discard = AVDISCARD_ALL;
    AV::Packet packet = AV::make<AV::Packet>(av_packet_alloc);
    int64_t count = 0;
    for (;;) {
        const int result = av_read_frame(&input, packet.get());
        if (result == AVERROR_EOF) return count;
        if (result < 0) throw std::runtime_error(AV::errorText(result));
        // A read cut short by the end of the file hands on what arrived, marked corrupt.
        if (packet->stream_index == video.index && !(packet->flags & AV_PKT_FLAG_CORRUPT)) ++count;
        av_packet_unref(packet.get());
    }
}

std::optional<double> believable(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > longestSeconds) return std::nullopt;
    return seconds;
}

double secondsOf(int64_t value, AVRational base) {
    return value == AV_NOPTS_VALUE || base.den <= 0 ? std::nan("") : double(value) * av_q2d(base);
}

// Matroska keeps a stream's length only as a tag: the time its last picture ends.
std::optional<double> taggedSeconds(const AVStream& video) {
    const AVDictionaryEntry* tag = av_dict_get(video.metadata, "DURATION", nullptr, 0);
    int64_t micros = 0;
    if (!tag || av_parse_time(&micros, tag->value, 1) < 0) return std::nullopt;
    const double start = video.start_time == AV_NOPTS_VALUE ? 0 : secondsOf(video.start_time, video.time_base);
    return believable(double(micros) / AV_TIME_BASE - start);
}

} // namespace

PictureCount PictureCount::of(const std::filesystem::path& file) {
    AV::Input input = AV::openInput(file);
    const AVStream& video = requireVideo(*input);
    return {video.codecpar->width, video.codecpar->height, wholePackets(*input, video)};
}

std::optional<double> statedPictureSeconds(const std::filesystem::path& file) {
    try {
        AV::Input input = AV::openInput(file);
        if (avformat_find_stream_info(input.get(), nullptr) < 0) return std::nullopt;
        const AVStream& video = requireVideo(*input);
        if (std::optional<double> own = believable(secondsOf(video.duration, video.time_base))) return own;
        if (std::optional<double> tagged = taggedSeconds(video)) return tagged;
        if (input->nb_streams > 1) return std::nullopt;
        return believable(secondsOf(input->duration, AV_TIME_BASE_Q));
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

} // namespace Media
