#pragma once
#include "TrelkCore/Platform/AVHolders.h"
#include "TrelkCore/Platform/Media.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace Media {

using AV::Muxer;

enum class WriterStatus { unknown, writing, completed, failed, cancelled };

// What an H.264 input encodes; colour tags are the names of colour standards ("ITU_R_709_2").
struct VideoSettings {
    int width = 0;
    int height = 0;
    std::string primaries = "ITU_R_709_2";
    std::string transfer = "ITU_R_709_2";
    std::string matrix = "ITU_R_709_2";
    int64_t averageBitRate = 0;
    int keyFrameInterval = 1;  // frames
    int expectedFrameRate = 1; // pictures per second; key frames come at least this often too
    int threads = 0;           // the encoder's own threads; 0 lets it choose
    int32_t timescale = 90000; // of the stream; picture times are rescaled to it
};

class Writer;

// One H.264 stream of a file. Pictures wait in a small queue and are encoded on a thread of
// the input's own, so that several files are encoded side by side.
class VideoInput {
public:
    static constexpr size_t queueLength = 3;

    ~VideoInput();
    VideoInput(const VideoInput&) = delete;
    VideoInput& operator=(const VideoInput&) = delete;

    // Output pictures of this input's size; they return to it once encoded.
    PicturePool& pool() { return pictures; }
    // The queue has room and the file is being written.
    bool readyForMoreData() const;
    // Queues a picture of this input's size at its presentation time, waiting for room when
    // the queue is full. False when refused; a time not after the last one fails the writer.
    bool append(std::shared_ptr<Picture> picture, Time time);
    // No more pictures: the encoder drains once the queue is empty.
    void markFinished();

private:
    friend class Writer;
    VideoInput(Writer& owner, AV::Codec codec, AVStream* stream);

    struct Queued {
        std::shared_ptr<Picture> picture;
        int64_t pts;
    };
    void start();
    void encodeAll();
    std::optional<Queued> nextPicture();
    AV::Frame frameOf(Queued queued) const;
    void wake();
    void join();
    // Seconds of pictures appended; infinite once finished. Sound may run a little ahead of it.
    double horizon() const { return appendedUntil.load(); }
    bool wroteNothing() const { return !lastPts; }

    Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    PicturePool pictures;
    mutable std::mutex lock; // guards queue, lastPts, finished
    std::condition_variable moved;
    std::deque<Queued> queue;
    std::optional<int64_t> lastPts;
    bool finished = false;
    std::atomic<double> appendedUntil = 0;
    std::thread encoder;
};

// The AAC stream of a file: 48 kHz stereo 16-bit interleaved sound in pieces of any length,
// encoded on the caller's thread.
class AudioInput {
public:
    static constexpr int rate = 48000;
    static constexpr int channels = 2;
    // How far, in seconds, the sound may run ahead of the pictures, to keep the file interleaved.
    static constexpr double lead = 1.0;

    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    bool readyForMoreData() const;
    // Sound starting at time; samples are interleaved left, right. Sound before the session
    // start is dropped. False when refused.
    bool append(std::span<const int16_t> samples, Time time);
    void markFinished();
    // Calls pump on a thread of the input's own whenever it is ready, until it is finished or
    // the writing stops.
    void requestMediaDataWhenReady(std::function<void()> pump);

private:
    friend class Writer;
    AudioInput(Writer& owner, AV::Codec codec, AVStream* stream, AV::Frame chunk);

    void take(std::span<const int16_t> samples);
    void encodeChunk();
    void drain();
    void join();
    bool finishedOrStopped() const;

    Writer& owner;
    AV::Codec codec;
    AVStream* stream;
    mutable std::mutex lock; // guards chunk, filled, nextPts, finished, and the encoder
    AV::Frame chunk;
    int filled = 0;
    std::optional<int64_t> nextPts;
    bool finished = false;
    std::thread pumping;
};

// One MP4 file with its index at the front. Every thread it starts ends before it goes away:
// the destructor cancels writing that has not ended and joins them all.
class Writer {
public:
    // Creates the file; throws std::runtime_error with FFmpeg's text when it cannot.
    static std::unique_ptr<Writer> create(const std::filesystem::path& url);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Both return none when the input is refused (after the start, or settings the encoder will
    // not take); error() then says why.
    VideoInput* addVideo(const VideoSettings& settings);
    AudioInput* addAudio();

    bool startWriting();
    // The source time that becomes the file's time zero.
    void startSession(Time sourceTime);
    // Marks every input finished, drains the encoders and writes the index on a thread of its
    // own, then calls completed there. Writing that has already ended calls it at once.
    void finishWriting(std::function<void()> completed);
    // Stops the encoders; the partly written file stays where it is for the caller to remove.
    void cancelWriting();

    WriterStatus status() const;
    std::string error() const;
    const std::filesystem::path& url() const { return path; }

private:
    friend class VideoInput;
    friend class AudioInput;
    Writer(std::filesystem::path url, Muxer muxer);

    bool writing() const { return status() == WriterStatus::writing; }
    void fail(const std::string& text);
    void end(WriterStatus ending);
    std::optional<int64_t> streamTime(Time time, const AVStream* stream) const;
    double soundLimit() const;
    bool encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
    void complete();
    void joinInputs();
    void closeFile();

    const std::filesystem::path path;
    mutable std::mutex muxing; // guards muxer: the inputs write packets from their own threads
    Muxer muxer;
    mutable std::mutex state; // guards current, errorText, sessionStart
    WriterStatus current = WriterStatus::unknown;
    std::string errorText;
    Time sessionStart;
    std::mutex joining; // lets cancel and the finishing thread join the inputs one at a time
    std::vector<std::unique_ptr<VideoInput>> videos;
    std::unique_ptr<AudioInput> audio;
    std::thread finisher;
};

} // namespace Media
