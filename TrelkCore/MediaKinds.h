#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

// What kinds of media files there are, by extension, and the sizes and strips that describe
// pictures: shared by the library listing and the making.
namespace MediaKinds {

using Types = std::set<std::string, std::less<>>;
inline const Types videoTypes{"mp4", "m4v", "mov"};
inline const Types alphaTypes{"webm"};
inline const Types stillTypes{"png", "jpg", "jpeg", "gif", "webp", "avif"};
inline const Types stillMadeTypes{"tif", "tiff", "heic", "heif", "bmp", "psd"};
inline const Types ffContainerTypes{"mxf", "mkv", "webm", "avi", "mpg", "mpeg", "m2v", "vob", "ts", "m2ts", "mts"};
inline const Types masterTypes = [] {
    Types all = videoTypes;
    for (const Types* more : {&stillTypes, &stillMadeTypes, &ffContainerTypes}) all.insert(more->begin(), more->end());
    return all;
}();

struct Size {
    int64_t w = 0;
    int64_t h = 0;
    bool operator==(const Size&) const = default;
};

// A full-height slice of a wide picture: its file, and the columns it covers.
struct Strip {
    std::string file;
    int64_t x = 0;
    int64_t w = 0;
    bool operator==(const Strip&) const = default;
};

// The file's lower-cased extension, without the dot.
std::string extension(const std::filesystem::path& path);
bool isMaster(const std::filesystem::path& path);
bool isFFContainer(const std::filesystem::path& path);
bool isStill(const std::filesystem::path& path);
bool isStillName(std::string_view name);

} // namespace MediaKinds
