#include "TrelkCore/Platform/PictureCount.h"

#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/StreamSeconds.h"

namespace Media {
namespace {

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
        if (std::optional<double> stated = streamSeconds(video)) return stated;
        if (input->nb_streams > 1) return std::nullopt;
        return containerSeconds(*input);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

} // namespace Media
