#include "TrelkCore/Service/Connection.h"

#include <sys/sendfile.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace {

constexpr auto lingerTime = std::chrono::seconds(2);
constexpr size_t lingerBytes = 1 << 20;

// Where reads land before they are kept: connections all run on the server's one thread and copy
// out at once, so one area serves them all and a connection costs no 64 KiB of its own.
thread_local std::array<char, HTTPRequest::limit> incoming;

// Not decorated: nothing is known of the request.
HTTPResponse badRequest() { return HTTPResponse::error(400, "bad request"); }

// The count sent, or -1 (errno says why, EAGAIN when the socket has no room). A peer that has
// gone is an error, never a signal. Every reply ends in a close or a half-close, so its last bytes
// may wait for it and leave with its FIN in one segment.
ssize_t sendSome(int socket, std::string_view bytes) {
    while (true) {
        ssize_t result = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_MORE);
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Up to count bytes of the file from offset straight to the socket, in the kernel; the count
// sent, 0 at the file's end, or -1 (errno says why, EAGAIN when the socket has no room).
ssize_t sendFromFile(int socket, int file, int64_t offset, size_t count) {
    while (true) {
        off_t from = off_t(offset);
        ssize_t result = ::sendfile(socket, file, &from, count);
        if (result >= 0 || errno != EINTR) return result;
    }
}

} // namespace

Connection::Connection(asio::io_context& io, Files::Descriptor socket, asio::ip::tcp protocol,
                       RequestHandler& handler, SerialQueue& disk)
    : unwatched(std::move(socket)), watched(io), protocol(protocol), lingering(io), handler(handler), disk(disk) {}

void Connection::start() { receive(); }

void Connection::cancel() {
    if (upload && !std::exchange(uploadEnded, true))
        disk.post([&handler = handler, upload = upload] { handler.uploaded(*upload, UploadRefusal(400, "the connection closed")); });
    asio::error_code ignored;
    file.reset();
    lingering.cancel();
    watched.close(ignored);
    unwatched.reset();
}

int Connection::socket() { return watched.is_open() ? watched.native_handle() : unwatched.get(); }

void Connection::await(asio::socket_base::wait_type wait, Step next) {
    if (!watched.is_open()) {
        asio::error_code failed;
        watched.assign(protocol, unwatched.get(), failed);
        if (failed) return cancel();
        unwatched.release();
    }
    watched.async_wait(wait, [self = shared_from_this(), next](const asio::error_code& error) {
        if (error) return self->cancel();
        (self.get()->*next)();
    });
}

void Connection::receive() {
    while (true) {
        ssize_t count = Files::readSome(socket(), incoming.data(), incoming.size());
        if (count < 0 && errno == EAGAIN) return await(asio::socket_base::wait_read, &Connection::receive);
        // The peer finished or failed before the request was whole: nothing to answer.
        if (count <= 0) return cancel();
        buffer.append(incoming.data(), size_t(count));
        std::optional<HTTPResponse> answer = replyToBuffer();
        if (upload) return openUpload();
        if (answer) return send(std::move(*answer));
    }
}

std::optional<HTTPResponse> Connection::replyToBuffer() {
    try {
        if (!head) {
            head = HTTPRequest::head(buffer, searched);
            searched = buffer.size();
            if (!head) return std::nullopt;
            UploadStart start = handler.upload(head->request);
            if (auto* refuse = std::get_if<UploadStart::Refuse>(&start.value)) return refuse->response;
            if (auto* accept = std::get_if<UploadStart::Accept>(&start.value)) {
                upload = std::move(accept->upload);
                return std::nullopt;
            }
            needed = head->end + HTTPRequest::bodyLength(head->request);
        }
        if (buffer.size() < needed) return std::nullopt;
        requestRead = true;
        return handler.handle(HTTPRequest::parse(buffer).value());
    } catch (const HTTPError&) {
        return badRequest();
    } catch (const std::exception& failure) {
        return HTTPResponse::error(500, failure.what());
    }
}

void Connection::send(HTTPResponse answer) {
    reply = std::move(answer);
    outgoing = reply->head();
    // A body held in memory goes out with the head: one write, one segment for a small reply.
    if (const auto* data = std::get_if<std::string>(&reply->body); data && !reply->headOnly) outgoing += *data;
    sendOutgoing();
}

void Connection::sendOutgoing() {
    while (outgoingSent < outgoing.size()) {
        ssize_t count = sendSome(socket(), std::string_view(outgoing).substr(outgoingSent));
        if (count < 0 && errno == EAGAIN) return await(asio::socket_base::wait_write, &Connection::sendOutgoing);
        if (count < 0) return cancel();
        outgoingSent += size_t(count);
    }
    const auto* body = std::get_if<HTTPResponse::File>(&reply->body);
    if (!body || reply->headOnly) return finish();
    file = body->source;
    if (!file || !*file) return cancel();
    fileOffset = body->lower;
    fileLeft = reply->length();
    sendFile();
}

// Up to one piece a turn of the server's loop, as much as the socket takes, so that a fast reader
// does not keep the other connections waiting.
void Connection::sendFile() {
    for (int64_t turn = std::min<int64_t>(fileLeft, filePiece); turn > 0;) {
        ssize_t sent = sendFromFile(socket(), file->get(), fileOffset, size_t(turn));
        if (sent < 0 && errno == EAGAIN) return await(asio::socket_base::wait_write, &Connection::sendFile);
        // 0: the file became shorter than the head announced. The reply is left short.
        if (sent <= 0) return cancel();
        fileOffset += sent;
        fileLeft -= sent;
        turn -= sent;
    }
    if (fileLeft < 1) {
        file.reset();
        return finish();
    }
    asio::post(watched.get_executor(), [self = shared_from_this()] { self->sendFile(); });
}

void Connection::finish() {
    // Nothing of the request waits unread, so a close now cannot turn into a reset.
    if (requestRead) return cancel();
    ::shutdown(socket(), SHUT_WR);
    lingering.expires_after(lingerTime);
    lingering.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error) self->cancel();
    });
    drain();
}

void Connection::drain() {
    while (true) {
        ssize_t count = Files::readSome(socket(), incoming.data(), incoming.size());
        if (count < 0 && errno == EAGAIN) return await(asio::socket_base::wait_read, &Connection::drain);
        if (count <= 0 || (drained += size_t(count)) > lingerBytes) return cancel();
    }
}
