#include "TrelkCore/Platform/MediaWriter.h"

#include "TrelkCore/Platform/AVHolders.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

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

void releasePicture(void* held, uint8_t*) {
    std::unique_ptr<std::shared_ptr<Picture>> picture(static_cast<std::shared_ptr<Picture>*>(held));
}

void joinUnlessSelf(std::thread& thread) {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

class MP4Writer;

class H264Input final : public VideoInput {
public:
    H264Input(MP4Writer& owner, AV::Codec codec, AVStream* stream);
    ~H264Input() override;

    PicturePool& pool() override { return pictures; }
    bool readyForMoreData() const override;
    void waitForRoom() const override;
    void append(std::shared_ptr<Picture> picture, Time time) override;
    void markFinished() override;

    void start();
    void wake();
    void join();
    // Seconds of pictures appended; infinite once finished. Sound may run a little ahead of it.
    double horizon() const { return appendedUntil.load(); }
    bool wroteNothing() const { return !lastPts; }

private:
    struct Queued {
        std::shared_ptr<Picture> picture;
        int64_t pts;
    };
    void encodeAll();
    std::optional<Queued> nextPicture();
    AV::Frame frameOf(Queued queued) const;

    MP4Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    PicturePool pictures;
    mutable std::mutex lock; // guards queue, lastPts, finished
    mutable std::condition_variable moved;
    std::deque<Queued> queue;
    std::optional<int64_t> lastPts;
    bool finished = false;
    std::atomic<double> appendedUntil = 0;
    std::thread encoder;
};

class AACInput final : public AudioInput {
public:
    AACInput(MP4Writer& owner, AV::Codec codec, AVStream* stream, AV::Frame chunk);
    ~AACInput() override;

    bool readyForMoreData() const override;
    void append(std::span<const int16_t> samples, Time time) override;
    void markFinished() override;
    void requestMediaDataWhenReady(std::function<void()> pump) override;
    void waitUntilFinished() const override;

    void drain();
    void join();

private:
    void take(std::span<const int16_t> samples);
    void encodeChunk();
    bool finishedOrStopped() const;

    MP4Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    mutable std::mutex lock; // guards chunk, filled, nextPts, finished, and the encoder
    AV::Frame chunk;
    int filled = 0;
    std::optional<int64_t> nextPts;
    bool finished = false;
    std::thread pumping;
};

class MP4Writer final : public Writer {
public:
    MP4Writer(std::filesystem::path url, AV::Muxer muxer);
    ~MP4Writer() override;

    VideoInput& addVideo(const VideoSettings& settings) override;
    AudioInput& addAudio() override;
    void startWriting() override;
    void startSession(Time sourceTime) override;
    void finishWriting() override;
    void waitUntilFinished() override;
    void cancelWriting() override;
    WriterStatus status() const override;
    const std::filesystem::path& url() const override { return path; }

    bool writing() const { return status() == WriterStatus::writing; }
    // Throws why the writing is not going on: its failure, or its end.
    [[noreturn]] void refuse() const;
    void fail(const std::string& text);
    std::optional<int64_t> streamTime(Time time, const AVStream* stream) const;
    double soundLimit() const;
    bool encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
    // Wakes whoever waits for the pictures to advance or the writing to end.
    void progressed();
    // Waits until ready() holds or the writing is no longer going on.
    template <typename Ready> void waitForProgress(Ready ready) const;

private:
    void end(WriterStatus ending);
    void complete();
    void joinInputs();
    void closeFile();

    const std::filesystem::path path;
    mutable std::mutex muxing; // guards muxer: the inputs write packets from their own threads
    AV::Muxer muxer;
    mutable std::mutex state; // guards current, errorText, sessionStart
    WriterStatus current = WriterStatus::unknown;
    std::string errorText;
    Time sessionStart;
    std::mutex joining; // lets cancel and the finishing thread join the inputs one at a time
    std::vector<std::unique_ptr<H264Input>> videos;
    std::unique_ptr<AACInput> audio;
    std::thread finisher;
    std::atomic<uint64_t> progressCount = 0;
    mutable std::mutex progressLock; // orders the waits for progress with its wake-ups
    mutable std::condition_variable progress;
};

} // namespace

// ---- H264Input

H264Input::H264Input(MP4Writer& owner, AV::Codec codec, AVStream* stream)
    : owner(owner), codec(std::move(codec)), stream(stream),
      pictures(this->codec->width, this->codec->height, queueLength + 2) {}

H264Input::~H264Input() { join(); }

bool H264Input::readyForMoreData() const {
    std::lock_guard guard(lock);
    return !finished && queue.size() < queueLength && owner.writing();
}

void H264Input::waitForRoom() const {
    std::unique_lock guard(lock);
    moved.wait(guard, [&] { return queue.size() < queueLength || finished || !owner.writing(); });
}

void H264Input::append(std::shared_ptr<Picture> picture, Time time) {
    if (!picture || picture->width() != codec->width || picture->height() != codec->height) {
        owner.fail("a picture of the wrong size for the encoder");
        owner.refuse();
    }
    const std::optional<int64_t> pts = owner.streamTime(time, stream);
    std::unique_lock guard(lock);
    if (finished || !owner.writing()) owner.refuse();
    if (!pts || *pts < 0 || (lastPts && *pts <= *lastPts)) {
        guard.unlock();
        owner.fail(pts && *pts >= 0 ? "a picture's time is not after the one before"
                                    : "a picture's time is invalid or before the session start");
        owner.refuse();
    }
    moved.wait(guard, [&] { return queue.size() < queueLength || finished || !owner.writing(); });
    if (finished || !owner.writing()) owner.refuse();
    queue.push_back({std::move(picture), *pts});
    lastPts = pts;
    appendedUntil = double(*pts) * av_q2d(stream->time_base);
    moved.notify_all();
    guard.unlock();
    owner.progressed();
}

void H264Input::markFinished() {
    {
        std::lock_guard guard(lock);
        finished = true;
        appendedUntil = std::numeric_limits<double>::infinity();
    }
    moved.notify_all();
    owner.progressed();
}

void H264Input::start() {
    encoder = std::thread([this] { encodeAll(); });
}

void H264Input::wake() {
    std::lock_guard guard(lock);
    moved.notify_all();
}

void H264Input::join() {
    wake();
    joinUnlessSelf(encoder);
}

void H264Input::encodeAll() {
    while (std::optional<Queued> next = nextPicture()) {
        AV::Frame frame = frameOf(std::move(*next));
        if (!frame) return owner.fail("out of memory for the encoder");
        if (!owner.encode(codec.get(), stream, frame.get())) return;
    }
    if (owner.writing()) owner.encode(codec.get(), stream, nullptr); // drain what the encoder holds
}

// The next queued picture; none once the input is finished and empty, or the writing stopped.
std::optional<H264Input::Queued> H264Input::nextPicture() {
    std::unique_lock guard(lock);
    moved.wait(guard, [&] { return !queue.empty() || finished || !owner.writing(); });
    if (queue.empty() || !owner.writing()) {
        queue.clear();
        return std::nullopt;
    }
    Queued next = std::move(queue.front());
    queue.pop_front();
    moved.notify_all();
    return next;
}

// The picture's own memory as a frame: the encoder takes NV12 as it is, and the picture goes
// back to its pool when the encoder lets go of the frame.
AV::Frame H264Input::frameOf(Queued queued) const {
    AV::Frame frame(av_frame_alloc());
    if (!frame) return frame;
    Picture& picture = *queued.picture;
    const size_t bytes = picture.lumaBytesPerRow() * size_t(picture.height() + (picture.height() + 1) / 2);
    auto held = std::make_unique<std::shared_ptr<Picture>>(std::move(queued.picture));
    frame->buf[0] = av_buffer_create(picture.luma(), bytes, releasePicture, held.get(), AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) return nullptr;
    held.release(); // now owned by the buffer
    frame->data[0] = picture.luma();
    frame->data[1] = picture.chroma();
    frame->linesize[0] = int(picture.lumaBytesPerRow());
    frame->linesize[1] = int(picture.chromaBytesPerRow());
    frame->format = AV_PIX_FMT_NV12;
    frame->width = picture.width();
    frame->height = picture.height();
    frame->pts = av_rescale_q(queued.pts, stream->time_base, codec->time_base);
    return frame;
}

// ---- AACInput

AACInput::AACInput(MP4Writer& owner, AV::Codec codec, AVStream* stream, AV::Frame chunk)
    : owner(owner), codec(std::move(codec)), stream(stream), chunk(std::move(chunk)) {}

AACInput::~AACInput() { join(); }

bool AACInput::readyForMoreData() const {
    std::lock_guard guard(lock);
    if (finished || !owner.writing()) return false;
    const double written = double(nextPts.value_or(0) + filled) / rate;
    return written <= owner.soundLimit();
}

void AACInput::append(std::span<const int16_t> samples, Time time) {
    std::lock_guard guard(lock);
    if (finished || !owner.writing()) owner.refuse();
    if (samples.size() % channels != 0) throw std::runtime_error("sound of half a sample");
    if (!nextPts) {
        const std::optional<int64_t> start = owner.streamTime(time, stream);
        if (!start) throw std::runtime_error("a sound's time is invalid");
        const int64_t frames = int64_t(samples.size() / channels);
        samples = samples.subspan(size_t(std::clamp<int64_t>(-*start, 0, frames)) * channels);
        if (samples.empty()) return; // all of it before the session start
        nextPts = std::max<int64_t>(0, *start);
    }
    take(samples);
    if (!owner.writing()) owner.refuse();
}

// Converts to the encoder's planar floats, a chunk of its frame size at a time.
void AACInput::take(std::span<const int16_t> samples) {
    for (size_t at = 0; at < samples.size() && owner.writing(); at += channels) {
        if (filled == 0 && av_frame_make_writable(chunk.get()) < 0) return owner.fail("out of memory for the sound");
        for (int channel = 0; channel < channels; ++channel)
            reinterpret_cast<float*>(chunk->data[channel])[filled] = float(samples[at + channel]) / 32768.0f;
        if (++filled == codec->frame_size) encodeChunk();
    }
}

void AACInput::encodeChunk() {
    chunk->nb_samples = filled;
    chunk->pts = *nextPts;
    owner.encode(codec.get(), stream, chunk.get());
    *nextPts += filled;
    filled = 0;
}

void AACInput::markFinished() {
    {
        std::lock_guard guard(lock);
        finished = true;
    }
    owner.progressed();
}

void AACInput::requestMediaDataWhenReady(std::function<void()> pump) {
    join();
    pumping = std::thread([this, pump = std::move(pump)] {
        for (;;) {
            owner.waitForProgress([this] { return readyForMoreData() || finishedOrStopped(); });
            if (finishedOrStopped()) return;
            pump();
        }
    });
}

void AACInput::waitUntilFinished() const {
    owner.waitForProgress([this] { return finishedOrStopped(); });
}

bool AACInput::finishedOrStopped() const {
    std::lock_guard guard(lock);
    return finished || !owner.writing();
}

// The last short chunk, then what the encoder holds.
void AACInput::drain() {
    std::lock_guard guard(lock);
    if (!owner.writing() || !nextPts) return;
    if (filled > 0) encodeChunk();
    owner.encode(codec.get(), stream, nullptr);
}

void AACInput::join() { joinUnlessSelf(pumping); }

// ---- MP4Writer

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

// ready() takes the inputs' own locks, so it is asked outside progressLock: the count tells
// whether anything moved since.
template <typename Ready>
void MP4Writer::waitForProgress(Ready ready) const {
    for (;;) {
        const uint64_t seen = progressCount;
        if (ready() || !writing()) return;
        std::unique_lock guard(progressLock);
        progress.wait(guard, [&] { return progressCount != seen; });
    }
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
