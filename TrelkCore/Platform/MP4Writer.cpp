#include "TrelkCore/Platform/MP4Writer.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>
#include <string_view>

namespace Media {

namespace {

template <typename Value>
Value tagged(const std::map<std::string_view, Value>& names, const std::string& name, Value unknown) {
    const auto found = names.find(name);
    return found == names.end() ? unknown : found->second;
}

AVColorPrimaries primariesOf(const std::string& name) {
    static const std::map<std::string_view, AVColorPrimaries> names{
        {"ITU_R_709_2", AVCOL_PRI_BT709},        {"SMPTE_C", AVCOL_PRI_SMPTE170M}, {"EBU_3213", AVCOL_PRI_BT470BG},
        {"ITU_R_2020", AVCOL_PRI_BT2020},        {"P3_D65", AVCOL_PRI_SMPTE432},   {"DCI_P3", AVCOL_PRI_SMPTE431},
        {"SMPTE_240M_1995", AVCOL_PRI_SMPTE240M}};
    return tagged(names, name, AVCOL_PRI_UNSPECIFIED);
}

AVColorTransferCharacteristic transferOf(const std::string& name) {
    static const std::map<std::string_view, AVColorTransferCharacteristic> names{
        {"ITU_R_709_2", AVCOL_TRC_BT709},          {"SMPTE_170M_1999", AVCOL_TRC_SMPTE170M},
        {"SMPTE_240M_1995", AVCOL_TRC_SMPTE240M},  {"ITU_R_2020", AVCOL_TRC_BT2020_10},
        {"SMPTE_ST_2084_PQ", AVCOL_TRC_SMPTE2084}, {"ITU_R_2100_HLG", AVCOL_TRC_ARIB_STD_B67},
        {"IEC_sRGB", AVCOL_TRC_IEC61966_2_1},      {"Linear", AVCOL_TRC_LINEAR}};
    return tagged(names, name, AVCOL_TRC_UNSPECIFIED);
}

AVColorSpace matrixOf(const std::string& name) {
    static const std::map<std::string_view, AVColorSpace> names{{"ITU_R_709_2", AVCOL_SPC_BT709},
                                                                {"ITU_R_601_4", AVCOL_SPC_SMPTE170M},
                                                                {"SMPTE_240M_1995", AVCOL_SPC_SMPTE240M},
                                                                {"ITU_R_2020", AVCOL_SPC_BT2020_NCL}};
    return tagged(names, name, AVCOL_SPC_UNSPECIFIED);
}

// 4:2:0 needs even sizes; refusing them here also spares the encoder's failed opening.
bool sensible(const VideoSettings& settings) {
    return settings.width > 0 && settings.height > 0 && settings.width % 2 == 0 && settings.height % 2 == 0 &&
           settings.averageBitRate > 0 && settings.keyFrameInterval > 0 && settings.expectedFrameRate > 0 &&
           settings.threads >= 0 && settings.timescale > 0;
}

// The muxer wants the codec's parameters in the stream, and global headers for MP4.
AVStream* streamFor(AVFormatContext* muxer, AVCodecContext* codec) {
    AVStream* stream = avformat_new_stream(muxer, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, codec) < 0) return nullptr;
    stream->time_base = codec->time_base;
    return stream;
}

AV::Codec encoderNamed(const char* name, AVFormatContext* muxer) {
    const AVCodec* found = avcodec_find_encoder_by_name(name);
    AV::Codec codec(found ? avcodec_alloc_context3(found) : nullptr);
    if (codec && (muxer->oformat->flags & AVFMT_GLOBALHEADER)) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return codec;
}

void configure(AVCodecContext* codec, const VideoSettings& settings) {
    codec->width = settings.width;
    codec->height = settings.height;
    codec->pix_fmt = AV_PIX_FMT_NV12;
    codec->time_base = {1, settings.timescale};
    codec->framerate = {settings.expectedFrameRate, 1};
    codec->bit_rate = settings.averageBitRate;
    // Key frames every k pictures, and at least once a second.
    codec->gop_size = std::min(settings.keyFrameInterval, settings.expectedFrameRate);
    codec->max_b_frames = 0;
    codec->thread_count = settings.threads;
    codec->color_primaries = primariesOf(settings.primaries);
    codec->color_trc = transferOf(settings.transfer);
    codec->colorspace = matrixOf(settings.matrix);
    codec->color_range = AVCOL_RANGE_MPEG;
    // faster: clearly better pictures than veryfast at the same bit rate for two thirds of the
    // CPU of medium. No scene-cut key frames, so that the strips of a picture cut alike.
    av_opt_set(codec->priv_data, "preset", "faster", 0);
    av_opt_set(codec->priv_data, "profile", "high", 0);
    av_opt_set(codec->priv_data, "coder", "cabac", 0);
    av_opt_set_int(codec->priv_data, "sc_threshold", 0, 0);
    // A short lookahead: every frame in it is a whole picture held per encoder, and a ladder
    // runs several encoders at once. 5 instead of the preset's 20 costs about 0.01 dB.
    av_opt_set_int(codec->priv_data, "rc-lookahead", 5, 0);
}

void configureSound(AVCodecContext* codec) {
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = AudioInput::rate;
    av_channel_layout_default(&codec->ch_layout, AudioInput::channels);
    codec->bit_rate = 192000;
    codec->time_base = {1, AudioInput::rate};
}

AV::Frame soundChunk(const AVCodecContext* codec) {
    AV::Frame chunk(av_frame_alloc());
    if (!chunk) return chunk;
    chunk->format = codec->sample_fmt;
    chunk->sample_rate = codec->sample_rate;
    chunk->nb_samples = codec->frame_size;
    if (av_channel_layout_copy(&chunk->ch_layout, &codec->ch_layout) < 0 || av_frame_get_buffer(chunk.get(), 0) < 0)
        chunk.reset();
    return chunk;
}

} // namespace

std::unique_ptr<Writer> Writer::create(const std::filesystem::path& url) {
    AV::keepQuiet();
    AVFormatContext* made = nullptr;
    int result = avformat_alloc_output_context2(&made, nullptr, "mp4", url.c_str());
    if (result < 0) throw std::runtime_error("couldn't make an MP4 writer: " + AV::errorText(result));
    AV::Muxer muxer(made);
    result = avio_open(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) throw std::runtime_error("couldn't create " + url.string() + ": " + AV::errorText(result));
    return std::make_unique<MP4Writer>(url, std::move(muxer));
}

MP4Writer::MP4Writer(std::filesystem::path url, AV::Muxer muxer) : path(std::move(url)), muxer(std::move(muxer)) {}

MP4Writer::~MP4Writer() {
    if (status() == WriterStatus::unknown || writing()) cancelWriting();
    joinInputs();
    joinUnlessSelf(finisher);
}

VideoInput& MP4Writer::addVideo(const VideoSettings& settings) {
    std::lock_guard guard(state);
    if (current != WriterStatus::unknown) throw std::runtime_error("the file is already being written");
    const std::string refusal =
        "the encoder won't take " + std::to_string(settings.width) + " × " + std::to_string(settings.height);
    AV::Codec codec = sensible(settings) ? encoderNamed("libx264", muxer.get()) : nullptr;
    if (!codec) throw std::runtime_error(refusal);
    configure(codec.get(), settings);
    if (const int opened = avcodec_open2(codec.get(), nullptr, nullptr); opened < 0)
        throw std::runtime_error(refusal + ": " + AV::errorText(opened));
    AVStream* stream = streamFor(muxer.get(), codec.get());
    if (!stream) throw std::runtime_error("couldn't add a picture stream");
    videos.push_back(std::make_unique<H264Input>(*this, std::move(codec), stream));
    return *videos.back();
}

AudioInput& MP4Writer::addAudio() {
    std::lock_guard guard(state);
    if (current != WriterStatus::unknown || audio) throw std::runtime_error("the file has its sound already");
    AV::Codec codec = encoderNamed("aac", muxer.get());
    if (codec) configureSound(codec.get());
    const int opened = codec ? avcodec_open2(codec.get(), nullptr, nullptr) : AVERROR_ENCODER_NOT_FOUND;
    AV::Frame chunk = opened >= 0 ? soundChunk(codec.get()) : nullptr;
    AVStream* stream = chunk ? streamFor(muxer.get(), codec.get()) : nullptr;
    if (!stream)
        throw std::runtime_error("couldn't add a sound stream: " +
                                 AV::errorText(opened < 0 ? opened : AVERROR(ENOMEM)));
    audio = std::make_unique<AACInput>(*this, std::move(codec), stream, std::move(chunk));
    return *audio;
}

void MP4Writer::startWriting() {
    if (status() != WriterStatus::unknown) throw std::runtime_error("the file is already being written");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    int result;
    {
        std::lock_guard guard(muxing);
        result = avformat_write_header(muxer.get(), &options);
    }
    av_dict_free(&options);
    if (result < 0) {
        fail("couldn't start the file: " + AV::errorText(result));
        refuse();
    }
    {
        std::lock_guard guard(state);
        current = WriterStatus::writing;
    }
    for (const auto& video : videos)
        video->start();
}

void MP4Writer::startSession(Time sourceTime) {
    std::lock_guard guard(state);
    sessionStart = sourceTime;
}

WriterStatus MP4Writer::status() const {
    std::lock_guard guard(state);
    return current;
}

void MP4Writer::refuse() const {
    std::lock_guard guard(state);
    if (current == WriterStatus::failed) throw std::runtime_error(errorText);
    if (current == WriterStatus::unknown) throw std::runtime_error("the writing was never started");
    if (current == WriterStatus::cancelled) throw std::runtime_error("the writing was cancelled");
    throw std::runtime_error(current == WriterStatus::writing ? "the file is still being written" : "the file is finished");
}

void MP4Writer::progressed() {
    ++progressCount;
    { std::lock_guard guard(progressLock); }
    progress.notify_all();
}

void MP4Writer::fail(const std::string& text) {
    {
        std::lock_guard guard(state);
        if (current != WriterStatus::unknown && current != WriterStatus::writing) return;
        current = WriterStatus::failed;
        errorText = text;
    }
    for (const auto& video : videos)
        video->wake();
    progressed();
}

// Moves writing that has not ended to its end, waking every waiting input.
void MP4Writer::end(WriterStatus ending) {
    {
        std::lock_guard guard(state);
        if (current != WriterStatus::unknown && current != WriterStatus::writing) return;
        current = ending;
    }
    for (const auto& video : videos)
        video->wake();
    progressed();
}

// A time of the source as a time of the stream, counted from the session start.
std::optional<int64_t> MP4Writer::streamTime(Time time, const AVStream* stream) const {
    const Time start = [&] {
        std::lock_guard guard(state);
        return sessionStart;
    }();
    if (time.timescale <= 0 || start.timescale <= 0) return std::nullopt;
    return av_rescale_q(time.value, {1, time.timescale}, stream->time_base) -
           av_rescale_q(start.value, {1, start.timescale}, stream->time_base);
}

// The sound may lead the slowest picture stream by a little, so that the muxer need not hold
// much of it while waiting to interleave.
double MP4Writer::soundLimit() const {
    double slowest = std::numeric_limits<double>::infinity();
    for (const auto& video : videos)
        slowest = std::min(slowest, video->horizon());
    return slowest + AudioInput::lead;
}

// Sends a frame (none to drain) and writes every packet that comes out.
bool MP4Writer::encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
    int result = avcodec_send_frame(codec, frame);
    if (result < 0) {
        fail("the encoder refused a frame: " + AV::errorText(result));
        return false;
    }
    AV::Packet packet(av_packet_alloc());
    if (!packet) {
        fail("out of memory for the encoder");
        return false;
    }
    while ((result = avcodec_receive_packet(codec, packet.get())) >= 0) {
        // The muxer takes the last picture's length from its packet; one picture at the expected rate.
        if (packet->duration == 0 && codec->codec_type == AVMEDIA_TYPE_VIDEO)
            packet->duration = av_rescale_q(1, av_inv_q(codec->framerate), codec->time_base);
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        std::lock_guard guard(muxing);
        if (!writing()) return false; // cancelled: the file may be closed already
        result = av_interleaved_write_frame(muxer.get(), packet.get());
        if (result < 0) {
            fail("couldn't write to the file: " + AV::errorText(result));
            return false;
        }
    }
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    fail("the encoder failed: " + AV::errorText(result));
    return false;
}

void MP4Writer::finishWriting() {
    if (status() == WriterStatus::unknown) fail("the writing was never started");
    if (!writing() || finisher.joinable()) return;
    for (const auto& video : videos)
        video->markFinished();
    if (audio) audio->markFinished();
    finisher = std::thread([this] { complete(); });
}

void MP4Writer::waitUntilFinished() {
    joinUnlessSelf(finisher);
    if (status() != WriterStatus::completed) refuse();
}

void MP4Writer::complete() {
    joinInputs();
    if (audio) audio->drain();
    if (std::ranges::any_of(videos, [](const auto& video) { return video->wroteNothing(); }))
        fail("no pictures were written");
    if (!writing()) return;
    std::lock_guard guard(muxing);
    int result = av_write_trailer(muxer.get());
    if (result >= 0) result = avio_closep(&muxer->pb);
    if (result < 0) fail("couldn't write the file's index: " + AV::errorText(result));
    end(WriterStatus::completed);
}

void MP4Writer::cancelWriting() {
    end(WriterStatus::cancelled);
    joinInputs();
    closeFile();
}

void MP4Writer::joinInputs() {
    std::lock_guard guard(joining);
    for (const auto& video : videos)
        video->join();
    if (audio) audio->join();
}

void MP4Writer::closeFile() {
    std::lock_guard guard(muxing);
    if (muxer->pb) avio_closep(&muxer->pb);
}

} // namespace Media
