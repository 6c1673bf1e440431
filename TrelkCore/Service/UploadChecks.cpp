// What an upload must be before its body is read, and what its first bytes must look like.
#include "TrelkCore/Service/Uploads.h"

#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <array>

namespace {

std::string_view lastComponent(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool startsWith(std::string_view start, std::initializer_list<std::string_view> signatures) {
    return std::ranges::any_of(signatures, [&](std::string_view signature) { return start.starts_with(signature); });
}

bool byteIs(std::string_view start, size_t at, char expected) { return start.size() > at && start[at] == expected; }

bool riff(std::string_view start, std::string_view form) {
    return start.starts_with("RIFF") && start.size() >= 12 && start.substr(8, 4) == form;
}

} // namespace

std::optional<std::string> Uploads::cleanName(std::string_view name) {
    std::string text(name);
    std::ranges::replace(text, '\\', '/');
    text = std::string(lastComponent(text));
    std::ranges::replace(text, ':', '-');
    text = std::string(Text::trim(text, " \t\n\r\v\f"));
    if (text.empty() || text.starts_with('.') || text.size() > 200 || !Text::validUTF8(text) ||
        Jobs::partial(text) || Text::hasControl(text) || Text::hasMisleading(text) || !MediaKinds::isMaster(text))
        return std::nullopt;
    return text;
}

std::optional<UploadRefusal> Uploads::check(const std::optional<std::string>& name, std::optional<int64_t> bytes) const {
    if (!name || !cleanName(*name)) return UploadRefusal(415, std::string(notMedia));
    if (!bytes || *bytes < 1) return UploadRefusal(411, "send the file with its size");
    if (*bytes < minBytes) return UploadRefusal(415, "too small to be a video or still");
    if (*bytes > maxBytes) return UploadRefusal(413, "over 256 GB · copy it into Drop here on the Mac");
    const std::optional<int64_t> free = freeSpace ? freeSpace(drop) : std::nullopt;
    if (free && *free < *bytes + spare)
        return UploadRefusal(507, "not enough space on the Mac · " + Text::byteCount(std::max<int64_t>(*free, 0)) + " free");
    return std::nullopt;
}

bool Uploads::looksLikeMovie(std::string_view start) {
    static constexpr std::array<std::string_view, 8> boxes{"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot", "uuid"};
    return start.size() >= 8 && std::ranges::find(boxes, start.substr(4, 4)) != boxes.end();
}

bool Uploads::looksRight(std::string_view start, std::string_view name) {
    using namespace std::string_view_literals;
    const std::string type = MediaKinds::extension(std::string(name));
    if (type == "png") return startsWith(start, {"\x89PNG"sv});
    if (type == "jpg" || type == "jpeg") return startsWith(start, {"\xff\xd8\xff"sv});
    if (type == "gif") return startsWith(start, {"GIF8"sv});
    if (type == "webp") return riff(start, "WEBP");
    if (type == "tif" || type == "tiff") return startsWith(start, {"II*\0"sv, "MM\0*"sv});
    if (type == "bmp") return startsWith(start, {"BM"sv});
    if (type == "psd") return startsWith(start, {"8BPS"sv});
    if (type == "mxf") return startsWith(start, {"\x06\x0e\x2b\x34"sv});
    if (type == "mkv" || type == "webm") return startsWith(start, {"\x1a\x45\xdf\xa3"sv});
    if (type == "avi") return riff(start, "AVI ");
    if (type == "mpg" || type == "mpeg" || type == "vob" || type == "m2v")
        return startsWith(start, {"\0\0\1\xba"sv, "\0\0\1\xb3"sv});
    if (type == "ts") return byteIs(start, 0, 'G');
    if (type == "m2ts" || type == "mts") return byteIs(start, 4, 'G');
    return looksLikeMovie(start);
}
