#include "TrelkCore/Service/Connection.h"

#include <sys/sendfile.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr auto lingerTime = std::chrono::seconds(2);
constexpr size_t lingerBytes = 1 << 20;

// Not decorated: nothing is known of the request.
HTTPResponse badRequest() { return HTTPResponse::error(400, "bad request"); }

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

Connection::Connection(asio::ip::tcp::socket socket, RequestHandler& handler)
    : socket(std::move(socket)), lingering(this->socket.get_executor()), handler(handler) {}

void Connection::start() { doRead(); }

void Connection::cancel() {
    asio::error_code ignored;
    file.reset();
    lingering.cancel();
    socket.close(ignored);
}

void Connection::doRead() {
    socket.async_read_some(asio::buffer(incoming),
                           [self = shared_from_this()](const asio::error_code& error, size_t count) {
                               self->onRead(error, count);
                           });
}

void Connection::onRead(const asio::error_code& error, size_t count) {
    buffer.append(incoming.data(), count);
    if (std::optional<HTTPResponse> answer = replyToBuffer()) return send(std::move(*answer));
    // The peer finished or failed before the request was whole: nothing to answer.
    if (error) return cancel();
    doRead();
}

std::optional<HTTPResponse> Connection::replyToBuffer() {
    try {
        if (!head) {
            head = HTTPRequest::head(buffer, searched);
            searched = buffer.size();
            if (!head) return std::nullopt;
            UploadStart start = handler.upload(head->request);
            if (auto* refuse = std::get_if<UploadStart::Refuse>(&start.value)) return refuse->response;
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
    replyHead = reply->head();
    // A body held in memory goes out with the head: one write, one segment for a small reply.
    const auto* data = std::get_if<std::string>(&reply->body);
    std::string_view body = data && !reply->headOnly ? std::string_view(*data) : std::string_view();
    std::array<asio::const_buffer, 2> pieces{asio::buffer(replyHead), asio::buffer(body)};
    asio::async_write(socket, pieces, [self = shared_from_this()](const asio::error_code& error, size_t) {
        self->onSent(error);
    });
}

void Connection::onSent(const asio::error_code& error) {
    if (error) return cancel();
    if (reply->headOnly || std::holds_alternative<std::string>(reply->body)) return finish();
    const HTTPResponse::File& body = std::get<HTTPResponse::File>(reply->body);
    // The head is out already: a file that cannot be opened leaves the reply short.
    file = Files::openRegular(body.path);
    asio::error_code failed;
    if (file) socket.native_non_blocking(true, failed);
    if (!file || failed) return cancel();
    sendFile(body.lower, reply->length());
}

// Up to one piece a turn of the server's loop, as much as the socket takes, so that a fast reader
// does not keep the other connections waiting.
void Connection::sendFile(int64_t offset, int64_t left) {
    for (int64_t turn = std::min<int64_t>(left, filePiece); turn > 0;) {
        ssize_t sent = sendFromFile(socket.native_handle(), file.get(), offset, size_t(turn));
        if (sent < 0 && errno == EAGAIN) return awaitRoom(offset, left);
        // 0: the file became shorter than the head announced. The reply is left short.
        if (sent <= 0) return cancel();
        offset += sent;
        left -= sent;
        turn -= sent;
    }
    if (left < 1) {
        file.reset();
        return finish();
    }
    asio::post(socket.get_executor(), [self = shared_from_this(), offset, left] { self->sendFile(offset, left); });
}

void Connection::awaitRoom(int64_t offset, int64_t left) {
    socket.async_wait(asio::socket_base::wait_write,
                      [self = shared_from_this(), offset, left](const asio::error_code& error) {
                          if (error) return self->cancel();
                          self->sendFile(offset, left);
                      });
}

void Connection::finish() {
    // Nothing of the request waits unread, so a close now cannot turn into a reset.
    if (requestRead) return cancel();
    asio::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    lingering.expires_after(lingerTime);
    lingering.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error) self->cancel();
    });
    drain();
}

void Connection::drain() {
    socket.async_read_some(asio::buffer(incoming),
                           [self = shared_from_this()](const asio::error_code& error, size_t count) {
                               self->drained += count;
                               if (error || self->drained > lingerBytes) return self->cancel();
                               self->drain();
                           });
}
