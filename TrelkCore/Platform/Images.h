#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>

// Still pictures through libvips: header facts without decoding pixels, and PNG writing.
namespace Images {

struct Size {
    int64_t w;
    int64_t h;
    bool operator==(const Size&) const = default;
};

// The pixel size as shown, from the header alone: EXIF orientations 5 to 8 swap width and
// height. None when the file holds no readable picture or its size is not above 0.
std::optional<Size> size(const std::filesystem::path& path);

enum class PNGResult { written, unreadable, unwritable };

// The first picture of source at its full size, orientation applied, as a PNG file at target.
PNGResult writePNG(const std::filesystem::path& source, const std::filesystem::path& target);

} // namespace Images
