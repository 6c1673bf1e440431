#include "TrelkCore/Service/Upload.h"

#include "TrelkCore/Service/UploadRefusal.h"
#include "TrelkCore/Service/Uploads.h"

#include <fcntl.h>

#include <system_error>

Upload::Upload(std::string id, std::string name, int64_t bytes, std::optional<std::string> set, int of,
               std::filesystem::path temp)
    : id(std::move(id)), name(std::move(name)), bytes(bytes), set(std::move(set)), of(of), temp(std::move(temp)) {}

void Upload::open() {
    const std::filesystem::path drop = temp.parent_path();
    std::error_code ignored;
    std::filesystem::create_directories(drop, ignored);
    // A "Drop here" that is a link would put the body, and later the watch's takings, outside the library.
    if (!Files::isRealFolder(drop)) throw UploadRefusal(500, std::string(Uploads::dropUnwritable));
    handle = Files::Descriptor(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!handle) throw UploadRefusal(500, std::string(Uploads::dropUnwritable));
    created = true;
}

void Upload::write(std::string_view piece) {
    if (piece.empty()) return;
    if (int64_t(piece.size()) > bytes - received) throw UploadRefusal(400, "more bytes than it said");
    if (start.size() < startLength) {
        start.append(piece.substr(0, startLength - start.size()));
        if (start.size() == startLength && !Uploads::looksRight(start, name))
            throw UploadRefusal(415, std::string(Uploads::notMedia));
    }
    if (!handle) throw UploadRefusal(500, "the upload was closed");
    try {
        Files::writeAll(handle.get(), piece);
    } catch (const std::system_error&) {
        throw UploadRefusal(507, "couldn't write it on the Mac · is the disk full?");
    }
    received += int64_t(piece.size());
    ++pieces;
}
