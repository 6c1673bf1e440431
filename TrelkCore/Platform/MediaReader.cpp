#include "TrelkCore/Platform/MediaReader.h"

#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/MediaConversion.h"
#include "TrelkCore/Platform/PictureFilter.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace Media {
namespace {

// One stream of the file, through a demuxer that skips every other stream, and its decoder.
class DecodedStream {
public:
    // Throws std::runtime_error when the file does not open again or the stream is not of type.
    DecodedStream(const std::filesystem::path& file, int index, AVMediaType type) : input(AV::openInput(file)) {
        if (index < 0 || unsigned(index) >= input->nb_streams || input->streams[index]->codecpar->codec_type != type)
            throw std::runtime_error(AV::errorText(AVERROR_STREAM_NOT_FOUND));
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;
        stream = input->streams[index];
        decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    }

    bool decodable() const { return decoder != nullptr; }

    // Decodes on the caller's thread: the encoders keep every core busy, and a decoder's own
    // threads would only add their pictures in flight and their switching. Throws
    // std::runtime_error with FFmpeg's text.
    void openDecoder() {
        if (!decoder) throw std::runtime_error(AV::errorText(AVERROR_DECODER_NOT_FOUND));
        codec = AV::make<AV::Codec>([&] { return avcodec_alloc_context3(decoder); });
        check(avcodec_parameters_to_context(codec.get(), stream->codecpar));
        codec->pkt_timebase = stream->time_base;
        codec->thread_count = 1;
        check(avcodec_open2(codec.get(), decoder, nullptr));
        packet = AV::make<AV::Packet>(av_packet_alloc);
        frame = AV::make<AV::Frame>(av_frame_alloc);
    }

    // The next decoded frame, owned by this stream until the next call; null at the end.
    // Throws std::runtime_error with FFmpeg's text.
    AVFrame* next() {
        av_frame_unref(frame.get());
        for (;;) {
            const int received = avcodec_receive_frame(codec.get(), frame.get());
            if (received == 0) return frame.get();
            if (received == AVERROR_EOF) return nullptr;
            if (received != AVERROR(EAGAIN)) check(received);
            feed();
        }
    }

    const AVStream& source() const { return *stream; }

private:
    static void check(int result) {
        if (result < 0) throw std::runtime_error(AV::errorText(result));
    }

    // Sends the next packet of the stream, or the end of it, to the decoder.
    void feed() {
        for (;;) {
            const int read = av_read_frame(input.get(), packet.get());
            if (read == AVERROR_EOF) {
                check(avcodec_send_packet(codec.get(), nullptr));
                return;
            }
            check(read);
            const bool ours = packet->stream_index == stream->index;
            const int sent = ours ? avcodec_send_packet(codec.get(), packet.get()) : 0;
            av_packet_unref(packet.get());
            check(sent);
            if (ours) return;
        }
    }

    AV::Input input;
    AVStream* stream = nullptr;
    const AVCodec* decoder = nullptr;
    AV::Codec codec;
    AV::Packet packet;
    AV::Frame frame;
};

Time timeOf(int64_t value, AVRational base) { return {av_rescale_q(value, base, AVRational{1, base.den}), base.den}; }

} // namespace

struct Reader::VideoOutput {
    VideoOutput(DecodedStream stream, const std::string& filters)
        : stream(std::move(stream)), filter(filters.empty() ? nullptr : std::make_unique<PictureFilter>(filters)) {}

    DecodedStream stream;
    std::unique_ptr<PictureFilter> filter; // none when the pictures are used as decoded
    NV12Conversion conversion;
    std::optional<PicturePool> pool;
    int poolWidth = 0, poolHeight = 0;
    int64_t lastTime = 0;

    std::optional<VideoSample> next() {
        if (!filter) {
            AVFrame* frame = stream.next();
            if (!frame) return std::nullopt;
            return sampleOf(*frame, stream.source().time_base);
        }
        for (;;) {
            if (const AVFrame* frame = filter->pull()) return sampleOf(*frame, filter->timeBase());
            if (filter->ended()) return std::nullopt;
            AVFrame* frame = stream.next();
            if (frame) frame->pts = timed(*frame);
            filter->push(frame, stream.source().time_base);
        }
    }

    // The frame's time, or for a frame without one the time after the last.
    int64_t timed(const AVFrame& frame) {
        const int64_t time = frame.best_effort_timestamp;
        lastTime = time == AV_NOPTS_VALUE ? lastTime + std::max<int64_t>(frame.pkt_duration, 0) : time;
        return lastTime;
    }

    VideoSample sampleOf(const AVFrame& frame, AVRational timeBase) {
        const int64_t time = filter ? frame.pts : timed(frame);
        VideoSample sample{pictureFor(frame), timeOf(time, timeBase)};
        conversion.convert(frame, *sample.picture);
        return sample;
    }

    std::shared_ptr<Picture> pictureFor(const AVFrame& frame) {
        if (!pool || poolWidth != frame.width || poolHeight != frame.height) {
            pool.emplace(frame.width, frame.height);
            poolWidth = frame.width;
            poolHeight = frame.height;
        }
        return pool->take();
    }
};

struct Reader::AudioOutput {
    struct Shape {
        int format, rate, channels;
        bool operator==(const Shape&) const = default;
    };

    explicit AudioOutput(DecodedStream stream) : stream(std::move(stream)) {}

    DecodedStream stream;
    AV::Resampler resampler;
    Shape shape{};
    std::optional<int64_t> clock; // the next sample's time at 48 kHz
    bool flushed = false;

    std::optional<AudioSample> next() {
        while (!flushed) {
            const AVFrame* frame = stream.next();
            std::optional<AudioSample> sample = frame ? convert(*frame) : drain();
            if (sample && !sample->samples.empty()) return sample;
        }
        return std::nullopt;
    }

    std::optional<AudioSample> convert(const AVFrame& frame) {
        prepare(frame);
        if (!clock) clock = startOf(frame);
        return resample(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    }

    // What the resampler still holds at the end of the stream.
    std::optional<AudioSample> drain() {
        flushed = true;
        if (!resampler) return std::nullopt;
        return resample(nullptr, 0);
    }

    std::optional<AudioSample> resample(const uint8_t** in, int count) {
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room < 0) throw std::runtime_error(AV::errorText(room));
        AudioSample sample{std::vector<int16_t>(size_t(room) * channels), {*clock, sampleRate}};
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(sample.samples.data())};
        const int made = swr_convert(resampler.get(), out, room, in, count);
        if (made < 0) throw std::runtime_error(AV::errorText(made));
        sample.samples.resize(size_t(made) * channels);
        *clock += made;
        return sample;
    }

    int64_t startOf(const AVFrame& frame) const {
        const int64_t time = frame.best_effort_timestamp;
        return time == AV_NOPTS_VALUE ? 0 : av_rescale_q(time, stream.source().time_base, AVRational{1, sampleRate});
    }

    // A resampler for the frame's shape; a stream that changes shape gets a new one.
    void prepare(const AVFrame& frame) {
        const Shape now{frame.format, frame.sample_rate, frame.ch_layout.nb_channels};
        if (resampler && now == shape) return;
        AVChannelLayout from{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&from, frame.ch_layout.nb_channels);
        else if (int failure = av_channel_layout_copy(&from, &frame.ch_layout); failure < 0)
            throw std::runtime_error(AV::errorText(failure));
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext* made = nullptr;
        int failure = swr_alloc_set_opts2(&made, &stereo, AV_SAMPLE_FMT_S16, sampleRate, &from,
                                          AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&from);
        AV::Resampler fresh(made);
        if (failure >= 0) failure = swr_init(fresh.get());
        if (failure < 0) throw std::runtime_error(AV::errorText(failure));
        resampler = std::move(fresh);
        shape = now;
    }
};

Reader::Reader(std::shared_ptr<const MediaAsset> asset) : asset(std::move(asset)) {}

Reader::~Reader() = default;

namespace {

enum class Undecodable { accepted, refused };

template <typename Output, typename... Extra>
void add(std::unique_ptr<Output>& output, const std::filesystem::path& file, int index, AVMediaType type,
         Undecodable undecodable, const Extra&... extra) {
    if (output) throw std::runtime_error("the reader has that output already");
    DecodedStream stream(file, index, type);
    if (!stream.decodable() && undecodable == Undecodable::refused) throw std::runtime_error(AV::errorText(AVERROR_DECODER_NOT_FOUND));
    output = std::make_unique<Output>(std::move(stream), extra...);
}

} // namespace

// A video codec without a decoder makes starting fail, which the making turns into its own message.
void Reader::addVideoOutput(const VideoTrack& track, const std::string& filters) {
    std::lock_guard guard(lock);
    if (state != Status::unknown) throw std::runtime_error("the reader has started");
    add(video, asset->file(), track.streamIndex, AVMEDIA_TYPE_VIDEO, Undecodable::accepted, filters);
}

// Sound that cannot be decoded is refused, so that the master is made without it.
void Reader::addAudioOutput(const AudioTrack& track) {
    std::lock_guard guard(lock);
    if (state != Status::unknown) throw std::runtime_error("the reader has started");
    add(audio, asset->file(), track.streamIndex, AVMEDIA_TYPE_AUDIO, Undecodable::refused);
}

void Reader::startReading() {
    std::unique_lock guard(lock);
    if (state != Status::unknown) throw std::runtime_error("the reader has started");
    try {
        if (video) video->stream.openDecoder();
        if (audio) audio->stream.openDecoder();
    } catch (const std::exception& error) {
        guard.unlock();
        fail(error.what());
    }
    videoEnded = !video;
    audioEnded = !audio;
    state = Status::reading;
}

bool Reader::mayCopy() const {
    std::lock_guard guard(lock);
    return state == Status::reading && !cancelled;
}

template <typename Output, typename Sample>
std::optional<Sample> Reader::copyNext(Output* output, Kind kind) {
    if (!output || !mayCopy()) return std::nullopt;
    try {
        std::optional<Sample> sample = output->next();
        if (!sample) ended(kind);
        return sample;
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

std::optional<VideoSample> Reader::copyNextVideoSample() { return copyNext<VideoOutput, VideoSample>(video.get(), Kind::video); }

std::optional<AudioSample> Reader::copyNextAudioSample() { return copyNext<AudioOutput, AudioSample>(audio.get(), Kind::audio); }

void Reader::fail(const std::string& text) {
    {
        std::lock_guard guard(lock);
        if (state != Status::cancelled) state = Status::failed;
    }
    throw std::runtime_error(text);
}

void Reader::ended(Kind kind) {
    std::lock_guard guard(lock);
    (kind == Kind::video ? videoEnded : audioEnded) = true;
    if (state == Status::reading && videoEnded && audioEnded) state = Status::completed;
}

Reader::Status Reader::status() const {
    std::lock_guard guard(lock);
    return state;
}

void Reader::cancelReading() {
    cancelled = true;
    std::lock_guard guard(lock);
    if (state == Status::unknown || state == Status::reading) state = Status::cancelled;
}

} // namespace Media
