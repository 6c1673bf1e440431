#include "TrelkCore/Service/Upload.h"

#include "TrelkCore/Service/UploadRefusal.h"
#include "TrelkCore/Service/Uploads.h"

#include <system_error>

Upload::Upload(std::string id, std::string name, int64_t bytes, std::optional<std::string> set, int of,
               std::filesystem::path temp, Files::Descriptor handle)
    : id(std::move(id)), name(std::move(name)), bytes(bytes), set(std::move(set)), of(of), temp(std::move(temp)),
      handle(std::move(handle)) {}

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
