#pragma once
#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// One entry of the library: a plain video, a still, a package of wide file and strips, or a set.
struct Asset {
    struct Size {
        int64_t w = 0;
        int64_t h = 0;
        bool operator==(const Size&) const = default;
    };
    struct Strip {
        std::string file;
        int64_t x = 0;
        int64_t w = 0;
        bool operator==(const Strip&) const = default;
    };
    struct Part {
        std::string file;
        std::filesystem::path url;
        int64_t w = 0;
        int64_t h = 0;
        double duration = 0;
        bool operator==(const Part&) const = default;
    };

    std::string id;
    std::string name;
    std::filesystem::path folder; // holds the asset's files (a package's or set's manifest)
    std::string file;             // in folder: the file, a package's wide file, a set's first part
    int64_t bytes = 0;            // media files only, manifests not counted
    std::optional<Size> master;   // packages only
    std::vector<Strip> strips;
    std::chrono::system_clock::time_point modified;
    std::optional<double> fps;
    std::vector<Part> parts;
    std::optional<std::filesystem::path> manifest;
    bool ordered = false;
    std::optional<Size> still;
    bool alpha = false;

    bool isSet() const { return !parts.empty(); }
    bool isPackage() const { return master.has_value(); }
    bool isStill() const { return still.has_value(); }

    // The listing object the browser gets.
    nlohmann::json json() const;

    bool operator==(const Asset&) const = default;
};

namespace Library {

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

// What a ".vorlane.json" manifest says of its package.
struct Package {
    std::string name;
    std::string wide;
    Asset::Size master;
    std::vector<Asset::Strip> strips;
    std::optional<double> fps;
};

// Moves one file or folder away; throws when it cannot.
using Trash = std::function<void(const std::filesystem::path&)>;
enum class Confirmed { yes, no };

std::filesystem::path defaultFolder();
// Never fails: a folder that cannot be read gives no assets.
std::vector<Asset> scan(const std::filesystem::path& folder);
std::string id(std::string_view relativePath);
bool safeName(std::string_view name);
// A frame rate from a number or a text such as "25" or "30000/1001".
std::optional<double> rate(const nlohmann::json& value);
// The asset's own file of that name, if it may be served.
std::optional<std::filesystem::path> file(std::string_view name, const Asset& asset);

// Moves the asset's files to the Trash; the first failure ends it and is thrown on.
void remove(const Asset& asset, const Trash& trash);
// Removes the asset when confirmed or used by nothing; false when the user must be asked first.
bool trash(const Asset& asset, const std::vector<std::string>& usedBy, Confirmed confirmed, const Trash& trash);
// The user's Trash: the default trash operation.
void toTrash(const std::filesystem::path& path);

// The file's lower-cased extension, without the dot.
std::string extension(const std::filesystem::path& path);
bool isMaster(const std::filesystem::path& path);
bool isFFContainer(const std::filesystem::path& path);
bool isStill(const std::filesystem::path& path);
bool isStillName(std::string_view name);

std::optional<Asset::Size> stillSize(const std::filesystem::path& path);
bool webmAlpha(const std::filesystem::path& path);
std::optional<Package> package(const std::filesystem::path& manifest);

} // namespace Library

namespace Still {

// The still as a PNG of its full size, orientation applied. Throws TrelkError.
void png(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace Still

// Sizes of stills already read, by path, size and time, so that an unchanged library is not
// read again on the next scan.
class StillSizes {
public:
    static constexpr size_t most = 5000;

    static StillSizes& shared();
    static std::string key(const std::filesystem::path& path);

    std::optional<Asset::Size> find(const std::string& key) const;
    // Empties the cache first when it holds more than `most`.
    void store(const std::string& key, Asset::Size size);

private:
    mutable std::mutex lock; // guards sizes
    std::map<std::string, Asset::Size> sizes;
};
