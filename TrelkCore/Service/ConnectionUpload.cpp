// An upload's body: received on the server's thread into one piece while the disk queue writes
// the other, so that at most two pieces are held and a slow disk slows the sender, through the
// socket's window, rather than the server.
#include "TrelkCore/Service/Connection.h"
#include "TrelkCore/Service/Uploads.h"

#include <cerrno>
#include <cstring>

namespace {

// Runs on the disk queue. Anything other than a refusal is a failure of our own to write.
template <class Step> std::optional<UploadRefusal> refusalOf(Step step) {
    try {
        step();
        return std::nullopt;
    } catch (const UploadRefusal& refusal) {
        return refusal;
    } catch (const std::exception&) {
        return UploadRefusal(500, std::string(Uploads::dropUnwritable));
    }
}

} // namespace

// Nothing of the body is read before its file is there: a refusal then still comes before it.
void Connection::openUpload() {
    disk.post([self = shared_from_this(), executor = watched.get_executor(), upload = upload]() mutable {
        std::optional<HTTPResponse> refusal;
        if (std::optional<UploadRefusal> failure = refusalOf([&] { upload->open(); }))
            refusal = self->handler.uploaded(*upload, std::move(failure));
        asio::post(executor, [self = std::move(self), refusal = std::move(refusal)]() mutable {
            self->uploadOpened(std::move(refusal));
        });
    });
}

void Connection::uploadOpened(std::optional<HTTPResponse> refusal) {
    if (uploadEnded) return; // cancelled meanwhile: its abort follows on the disk queue
    if (!refusal) return startBody();
    uploadEnded = true;
    send(std::move(*refusal));
}

// The bytes that came with the head are the first piece.
void Connection::startBody() {
    const std::string_view first = std::string_view(buffer).substr(head->end);
    bodyLeft = std::max<int64_t>(0, upload->bytes - int64_t(first.size()));
    filling.capacity = std::max(bodyPiece, first.size());
    filling.bytes = std::make_unique_for_overwrite<char[]>(filling.capacity);
    filling.size = first.size();
    std::memcpy(filling.bytes.get(), first.data(), first.size());
    std::string().swap(buffer);
    if (filling.size > 0) writePiece();
    receiveBody();
}

// Never more than the announced length: what follows the body is not part of it.
void Connection::receiveBody() {
    while (!uploadEnded && bodyLeft > 0) {
        if (!filling.bytes) {
            filling.capacity = bodyPiece;
            filling.bytes = std::make_unique_for_overwrite<char[]>(bodyPiece);
        }
        if (filling.size == filling.capacity) {
            paused = true;
            return;
        }
        const size_t room = size_t(std::min<int64_t>(int64_t(filling.capacity - filling.size), bodyLeft));
        ssize_t count = Files::readSome(socket(), filling.bytes.get() + filling.size, room);
        if (count < 0 && errno == EAGAIN) return await(asio::socket_base::wait_read, &Connection::receiveBody);
        // The peer left or failed before the last byte: the upload goes, and nothing is answered.
        if (count <= 0) return cancel();
        filling.size += size_t(count);
        bodyLeft -= count;
        if (!writing) writePiece();
    }
}

void Connection::writePiece() {
    writing = true;
    Piece piece = std::exchange(filling, std::move(spare));
    filling.size = 0;
    disk.post([self = shared_from_this(), executor = watched.get_executor(), upload = upload,
               piece = std::move(piece)]() mutable {
        std::optional<UploadRefusal> failure = refusalOf([&] { upload->write({piece.bytes.get(), piece.size}); });
        asio::post(executor, [self = std::move(self), piece = std::move(piece), failure = std::move(failure)]() mutable {
            self->pieceWritten(std::move(piece), std::move(failure));
        });
    });
}

void Connection::pieceWritten(Piece piece, std::optional<UploadRefusal> failure) {
    writing = false;
    if (uploadEnded) return; // cancelled meanwhile: its abort follows on the disk queue
    if (failure) return endUpload(std::move(failure));
    spare = std::move(piece);
    if (filling.size > 0) {
        writePiece();
    } else if (bodyLeft == 0) {
        return endUpload(std::nullopt);
    }
    if (std::exchange(paused, false)) receiveBody();
}

// The reply is made on the disk queue, after the last write: finishing moves and queues the file.
void Connection::endUpload(std::optional<UploadRefusal> failure) {
    uploadEnded = true;
    requestRead = !failure;
    filling = {};
    spare = {};
    disk.post([self = shared_from_this(), executor = watched.get_executor(), upload = upload,
               failure = std::move(failure)]() mutable {
        HTTPResponse reply = self->handler.uploaded(*upload, std::move(failure));
        asio::post(executor, [self = std::move(self), reply = std::move(reply)]() mutable { self->send(std::move(reply)); });
    });
}
