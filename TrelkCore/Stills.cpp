#include "TrelkCore/Library.h"

#include "TrelkCore/Error.h"
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

std::optional<Asset::Size> StillSizes::find(const std::string& key) const {
    std::lock_guard guard(lock);
    auto found = sizes.find(key);
    if (found == sizes.end()) return std::nullopt;
    return found->second;
}

void StillSizes::store(const std::string& key, Asset::Size size) {
    std::lock_guard guard(lock);
    if (sizes.size() > most) sizes.clear();
    sizes[key] = size;
}

namespace Library {

std::optional<Asset::Size> stillSize(const fs::path& path) {
    const std::string key = StillSizes::key(path);
    if (std::optional<Asset::Size> known = StillSizes::shared().find(key)) return known;
    std::optional<Images::Size> size = Images::size(path); // read outside the cache's lock
    if (!size) return std::nullopt;
    StillSizes::shared().store(key, {size->w, size->h});
    return Asset::Size{size->w, size->h};
}

} // namespace Library

namespace Still {

void png(const fs::path& from, const fs::path& to) {
    if (!Library::stillSize(from)) throw TrelkError("couldn't read this picture");
    switch (Images::writePNG(from, to)) {
    case Images::PNGResult::written: return;
    case Images::PNGResult::unreadable: throw TrelkError("couldn't read this picture");
    case Images::PNGResult::unwritable: throw TrelkError("couldn't write the PNG");
    }
}

} // namespace Still
