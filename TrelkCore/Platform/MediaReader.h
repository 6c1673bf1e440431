#pragma once
#include "TrelkCore/Platform/Media.h"
#include "TrelkCore/Platform/MediaAsset.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Media {

struct VideoSample {
    std::shared_ptr<Picture> picture;
    Time presentationTime; // on the stream's own clock: the track's start is not taken off
};

// Interleaved left, right 16-bit samples at 48 kHz.
struct AudioSample {
    std::vector<int16_t> samples;
    Time presentationTime; // at timescale 48000
    size_t frameCount() const { return samples.size() / 2; }
};

// Reads decoded pictures and sound from an asset. Each output reads the file through a
// demuxer and decoder of its own, so the picture loop and the sound pump may run on two
// threads at once; each copy operation is for one thread at a time. Failures throw
// std::runtime_error with FFmpeg's text.
class Reader {
public:
    enum class Status { unknown, reading, completed, failed, cancelled };
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;

    explicit Reader(std::shared_ptr<const MediaAsset> asset);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // NV12 video-range pictures of the track. Throws when there is one already, reading has
    // started, or the track is not a video track of the file; a codec without a decoder here
    // is taken and makes startReading fail. filters, when given, is a libavfilter chain the
    // pictures go through before they are put into NV12; a chain that will not run fails the
    // reading at its first picture.
    void addVideoOutput(const VideoTrack& track, const std::string& filters = {});
    // The track's sound as 48 kHz stereo 16-bit PCM. Throws as for video, and also when the
    // codec has no decoder here.
    void addAudioOutput(const AudioTrack& track);
    // Throws, with status failed, when a decoder is missing or will not open.
    void startReading();

    // None at the end or after a cancel; throws, with status failed, when reading fails.
    std::optional<VideoSample> copyNextVideoSample();
    std::optional<AudioSample> copyNextAudioSample();

    Status status() const;
    // Ends reading; may be called from any thread.
    void cancelReading();

private:
    struct VideoOutput;
    struct AudioOutput;
    enum class Kind { video, audio };

    template <typename Output, typename Sample>
    std::optional<Sample> copyNext(Output* output, Kind kind);
    bool mayCopy() const;
    // Marks the reading failed and throws text.
    [[noreturn]] void fail(const std::string& text);
    void ended(Kind kind);

    std::shared_ptr<const MediaAsset> asset;
    std::unique_ptr<VideoOutput> video;
    std::unique_ptr<AudioOutput> audio;
    std::atomic<bool> cancelled = false;

    mutable std::mutex lock; // guards state, videoEnded, audioEnded
    Status state = Status::unknown;
    bool videoEnded = false;
    bool audioEnded = false;
};

} // namespace Media
