#include "TrelkCore/Library/StillSizes.h"

#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Images.h"

#include <charconv>

namespace fs = std::filesystem;

namespace {

std::string secondsText(std::chrono::system_clock::time_point time) {
    const double seconds = std::chrono::duration<double>(time.time_since_epoch()).count();
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
    return std::string(text, end);
}

} // namespace

StillSizes& StillSizes::shared() {
    static StillSizes cache;
    return cache;
}

std::string StillSizes::key(const fs::path& path) {
    std::error_code ignored;
    const std::string where = fs::absolute(path, ignored).lexically_normal().string();
    std::optional<Files::Facts> facts = Files::facts(path);
    if (!facts) return where + "|-1|0.0";
    return where + "|" + std::to_string(facts->size) + "|" + secondsText(facts->modified);
}

std::optional<MediaKinds::Size> StillSizes::find(const std::string& key) const {
    std::lock_guard guard(lock);
    auto found = sizes.find(key);
    if (found == sizes.end()) return std::nullopt;
    return found->second;
}

void StillSizes::store(const std::string& key, MediaKinds::Size size) {
    std::lock_guard guard(lock);
    if (sizes.size() > most) sizes.clear();
    sizes[key] = size;
}

namespace Library {

std::optional<MediaKinds::Size> stillSize(const fs::path& path) {
    const std::string key = StillSizes::key(path);
    if (std::optional<MediaKinds::Size> known = StillSizes::shared().find(key)) return known;
    std::optional<Images::Size> size = Images::size(path); // read outside the cache's lock
    if (!size) return std::nullopt;
    StillSizes::shared().store(key, {size->w, size->h});
    return MediaKinds::Size{size->w, size->h};
}

} // namespace Library
