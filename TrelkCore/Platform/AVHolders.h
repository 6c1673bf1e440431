#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

// Owners of the FFmpeg libraries' objects, each freed the way its library asks.
namespace Media::AV {

struct CloseInput {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};
struct FreeCodec {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
// Closes the file, if open, and frees the muxer with its streams.
struct CloseOutput {
    void operator()(AVFormatContext* muxer) const {
        if (muxer->pb && !(muxer->oformat->flags & AVFMT_NOFILE)) avio_closep(&muxer->pb);
        avformat_free_context(muxer);
    }
};
struct FreeScaler {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
struct FreeResampler {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};

using Input = std::unique_ptr<AVFormatContext, CloseInput>;
using Muxer = std::unique_ptr<AVFormatContext, CloseOutput>;
using Codec = std::unique_ptr<AVCodecContext, FreeCodec>;
using Frame = std::unique_ptr<AVFrame, FreeFrame>;
using Packet = std::unique_ptr<AVPacket, FreePacket>;
using Scaler = std::unique_ptr<SwsContext, FreeScaler>;
using Resampler = std::unique_ptr<SwrContext, FreeResampler>;

inline std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The libraries print to the terminal unless told not to; the service writes no log, and
// failures reach the user through the texts thrown.
inline void keepQuiet() {
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
}

// Throws std::runtime_error with FFmpeg's text when the file cannot be opened.
inline Input openInput(const std::filesystem::path& file) {
    keepQuiet();
    AVFormatContext* opened = nullptr;
    if (int failure = avformat_open_input(&opened, file.c_str(), nullptr, nullptr); failure < 0)
        throw std::runtime_error(errorText(failure));
    return Input(opened);
}

// Throws std::bad_alloc when the library has no memory for it.
template <typename Holder, typename Make>
Holder make(Make&& allocate) {
    Holder made(allocate());
    if (!made) throw std::bad_alloc();
    return made;
}

} // namespace Media::AV
