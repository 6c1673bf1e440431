#pragma once
#include "TrelkCore/Platform/Media.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Media {

struct TimeRange {
    Time start;
    Time duration;
};

// What a track's samples are: the codec as a four-character code, read most significant byte
// first ('avc1' is 0x61766331), and the colour standards it states.
struct FormatDescription {
    uint32_t mediaSubType = 0; // 0 when the codec has no code here
    std::optional<std::string> colorPrimaries;
    std::optional<std::string> transferFunction;
    std::optional<std::string> yCbCrMatrix;
    int depth = 24; // 32 when the pictures carry alpha
    std::string profile;     // FFmpeg's name of the codec's profile ("High"); empty when unknown
    std::string pixelFormat; // FFmpeg's name of the pictures' format ("yuv420p"); empty when unknown
};

struct VideoTrack {
    int streamIndex = -1;
    int naturalWidth = 0;
    int naturalHeight = 0;
    double nominalFrameRate = 0; // 0 when unknown
    std::optional<Time> minFrameDuration; // only when the stream states a constant rate
    std::optional<Time> baseFrameDuration; // of the rate all its timestamps fit, when known
    TimeRange timeRange; // of the pictures alone
    std::vector<FormatDescription> formatDescriptions;
    std::optional<std::array<int32_t, 9>> displayMatrix; // how the pictures are turned to be shown
    std::string fieldOrder; // FFmpeg's name: "progressive", "tt", "bb", "tb", "bt"; "" when unknown
};

struct AudioTrack {
    int streamIndex = -1;
    int sampleRate = 0;
    int channels = 0;
    TimeRange timeRange;
};

// The facts of a media file, read once when it is opened; readers open the file again.
class MediaAsset {
public:
    // Throws std::runtime_error with FFmpeg's text when the file cannot be opened or has no
    // stream that can be read.
    static std::shared_ptr<const MediaAsset> open(const std::filesystem::path& file);

    const std::filesystem::path& file() const { return path; }
    const std::vector<VideoTrack>& videoTracks() const { return video; }
    const std::vector<AudioTrack>& audioTracks() const { return audio; }
    double duration() const { return seconds; } // 0 when unknown

private:
    MediaAsset() = default;

    std::filesystem::path path;
    std::vector<VideoTrack> video;
    std::vector<AudioTrack> audio;
    double seconds = 0;
};

} // namespace Media
