#pragma once
#include "TrelkCore/Platform/Media.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace Media {

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

// One H.264 stream of a file. Pictures wait in a small queue and are encoded on a thread of
// the input's own, so that several files are encoded side by side.
class VideoInput {
public:
    static constexpr size_t queueLength = 3;

    virtual ~VideoInput() = default;

    // Output pictures of this input's size; they return to it once encoded.
    virtual PicturePool& pool() = 0;
    // The queue has room and the file is being written.
    virtual bool readyForMoreData() const = 0;
    // Blocks until the queue has room or the writing has stopped, so that the next picture is
    // decoded only once there is a place for it.
    virtual void waitForRoom() const = 0;
    // Queues a picture of this input's size at its presentation time, waiting for room when
    // the queue is full. A picture of another size, or a time not after the last one, fails the
    // writer. Throws std::runtime_error with the writer's failure when the picture is refused.
    virtual void append(std::shared_ptr<Picture> picture, Time time) = 0;
    // No more pictures: the encoder drains once the queue is empty.
    virtual void markFinished() = 0;
};

// The AAC stream of a file: 48 kHz stereo 16-bit interleaved sound in pieces of any length,
// encoded on the caller's thread.
class AudioInput {
public:
    static constexpr int rate = 48000;
    static constexpr int channels = 2;
    // How far, in seconds, the sound may run ahead of the pictures, to keep the file interleaved.
    static constexpr double lead = 1.0;

    virtual ~AudioInput() = default;

    virtual bool readyForMoreData() const = 0;
    // Sound starting at time; samples are interleaved left, right. Sound before the session
    // start is dropped. Throws std::runtime_error when the sound is refused.
    virtual void append(std::span<const int16_t> samples, Time time) = 0;
    virtual void markFinished() = 0;
    // Calls pump on a thread of the input's own whenever it is ready, until it is finished or
    // the writing stops.
    virtual void requestMediaDataWhenReady(std::function<void()> pump) = 0;
    // Blocks until the input is marked finished or the writing stops.
    virtual void waitUntilFinished() const = 0;
};

// One MP4 file with its index at the front. Every thread it starts ends before it goes away:
// the destructor cancels writing that has not ended and joins them all. Failures throw
// std::runtime_error with the libraries' own text.
class Writer {
public:
    // Creates the file.
    static std::unique_ptr<Writer> create(const std::filesystem::path& url);
    virtual ~Writer() = default;

    // Both throw when the input is refused: after the start, or settings the encoder will not take.
    virtual VideoInput& addVideo(const VideoSettings& settings) = 0;
    virtual AudioInput& addAudio() = 0;

    virtual void startWriting() = 0;
    // The source time that becomes the file's time zero.
    virtual void startSession(Time sourceTime) = 0;
    // Marks every input finished, then drains the encoders and writes the index on a thread of
    // its own; several files finish side by side.
    virtual void finishWriting() = 0;
    // Waits for the finishing; throws unless the file was completed.
    virtual void waitUntilFinished() = 0;
    // Stops the encoders; the partly written file stays where it is for the caller to remove.
    virtual void cancelWriting() = 0;

    virtual WriterStatus status() const = 0;
    virtual const std::filesystem::path& url() const = 0;
};

} // namespace Media
