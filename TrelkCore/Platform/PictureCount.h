#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>

namespace Media {

// The first video stream of a file as its container tells it, without decoding a picture.
struct PictureCount {
    int width = 0;
    int height = 0;
    int64_t pictures = 0; // the packets whose bytes are all in the file

    // Reads the file to its end. Throws std::runtime_error with FFmpeg's text when it cannot be
    // opened or read to the end, or holds no video.
    static PictureCount of(const std::filesystem::path& file);
};

// How long the first video stream says it lasts, in seconds. None when the file cannot be read,
// or states only its own length while holding sound too, which may outlast the pictures.
std::optional<double> statedPictureSeconds(const std::filesystem::path& file);

} // namespace Media
