// The file route: one file of one asset, with byte ranges and the validators that let a browser
// keep what it cached only while the file is the same.
#include "TrelkCore/Service/Router.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/Text.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

namespace {

std::string_view contentType(std::string_view name) {
    std::string extension = Text::lowercased(std::filesystem::path(name).extension().string());
    static const std::map<std::string, std::string_view, std::less<>> types{
        {".mp4", "video/mp4"},         {".m4v", "video/mp4"},   {".mov", "video/quicktime"},
        {".webm", "video/webm"},       {".json", "application/json"},
        {".png", "image/png"},         {".jpg", "image/jpeg"},  {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},         {".webp", "image/webp"}, {".avif", "image/avif"},
    };
    auto found = types.find(extension);
    return found == types.end() ? "application/octet-stream" : found->second;
}

HTTPResponse noSuchFile() { return HTTPResponse::error(404, "no such file"); }

std::string hex(uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    do text.insert(text.begin(), digits[value & 15]);
    while (value >>= 4);
    return text;
}

// A file made again gets a new inode or a new time: either changes the tag.
std::string entityTag(const struct stat& info) {
    const uint64_t nanoseconds = uint64_t(info.st_mtim.tv_sec) * 1000000000 + uint64_t(info.st_mtim.tv_nsec);
    return "\"" + hex(info.st_ino) + "-" + hex(uint64_t(info.st_size)) + "-" + hex(nanoseconds) + "\"";
}

// If-None-Match compares weakly: any tag of the list, "W/" or not, or "*".
bool noneMatchHolds(const std::string& list, const std::string& tag) {
    for (std::string_view item : Text::split(list, ',')) {
        item = Text::trim(item);
        if (item.starts_with("W/")) item.remove_prefix(2);
        if (item == "*" || item == tag) return true;
    }
    return false;
}

} // namespace

// Only the library decides which file a name reaches: nothing of the request becomes a path.
HTTPResponse Router::assetFile(const std::string& id, const std::string& name, const HTTPRequest& request) const {
    const Assets listing = sources.assets();
    if (sources.libraryFolder.empty()) return noSuchFile();
    const std::vector<Asset>& all = *listing->assets;
    auto asset = std::ranges::find(all, id, &Asset::id);
    if (asset == all.end()) return noSuchFile();
    std::optional<std::filesystem::path> path = Library::file(name, *asset);
    if (!path) return noSuchFile();
    // The scan's paths are beneath the folder as it standardised it.
    std::filesystem::path root = std::filesystem::absolute(sources.libraryFolder).lexically_normal();
    if (!root.has_filename()) root = root.parent_path();
    // The listing may be seconds old: a folder or file swapped for a link since reaches nothing.
    return file(Files::openRegularBeneath(root, path->lexically_relative(root)), name, request);
}

HTTPResponse Router::file(Files::Descriptor opened, std::string_view name, const HTTPRequest& request) {
    struct stat info;
    if (!opened || ::fstat(opened.get(), &info) != 0 || !S_ISREG(info.st_mode)) return noSuchFile();
    const int64_t size = info.st_size;
    const std::string tag = entityTag(info);
    const std::string modified = Text::httpDate(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::seconds(info.st_mtim.tv_sec))));
    HTTPHeaders headers{{"Content-Type", std::string(contentType(name))},
                        {"Accept-Ranges", "bytes"},
                        {"Cache-Control", "private, max-age=3600"},
                        {"ETag", tag},
                        {"Last-Modified", modified}};
    if (std::optional<std::string> noneMatch = request.header("if-none-match"); noneMatch && noneMatchHolds(*noneMatch, tag)) {
        HTTPResponse unchanged(304, std::move(headers));
        unchanged.headOnly = true;
        return unchanged;
    }
    // A range of a file that has changed since would join old bytes to new: If-Range asks for the whole then.
    std::optional<std::string> range = request.header("range");
    if (std::optional<std::string> ifRange = request.header("if-range"); ifRange && *ifRange != tag && *ifRange != modified)
        range.reset();
    auto source = std::make_shared<const Files::Descriptor>(std::move(opened));
    ByteRange::Result asked = ByteRange::parse(range, size);
    if (const auto* part = std::get_if<ByteRange::Part>(&asked)) {
        headers["Content-Range"] = "bytes " + std::to_string(part->lower) + "-" +
                                   std::to_string(part->upper) + "/" + std::to_string(size);
        return HTTPResponse(206, std::move(headers), HTTPResponse::File{std::move(source), part->lower, part->upper});
    }
    if (std::holds_alternative<ByteRange::Unsatisfiable>(asked)) {
        headers["Content-Range"] = "bytes */" + std::to_string(size);
        return HTTPResponse(416, std::move(headers));
    }
    if (size == 0) return HTTPResponse(200, std::move(headers));
    return HTTPResponse(200, std::move(headers), HTTPResponse::File{std::move(source), 0, size - 1});
}
