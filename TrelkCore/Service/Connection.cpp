#include "TrelkCore/Service/Connection.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr auto lingerTime = std::chrono::seconds(2);
constexpr size_t lingerBytes = 1 << 20;

// Not decorated: nothing is known of the request.
HTTPResponse badRequest() { return HTTPResponse::error(400, "bad request"); }

ssize_t readAt(int fd, char* into, size_t count, int64_t offset) {
    while (true) {
        ssize_t result = ::pread(fd, into, count, off_t(offset));
        if (result >= 0 || errno != EINTR) return result;
    }
}

} // namespace

Connection::Connection(asio::ip::tcp::socket socket, RequestHandler& handler)
    : socket(std::move(socket)), lingering(this->socket.get_executor()), handler(handler) {}

void Connection::start() { doRead(); }

void Connection::cancel() {
    asio::error_code ignored;
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
    asio::async_write(socket, asio::buffer(replyHead),
                      [self = shared_from_this()](const asio::error_code& error, size_t) {
                          self->onHeadSent(error);
                      });
}

void Connection::onHeadSent(const asio::error_code& error) {
    if (error) return cancel();
    if (reply->headOnly) return finish();
    if (const auto* data = std::get_if<std::string>(&reply->body)) {
        asio::async_write(socket, asio::buffer(*data),
                          [self = shared_from_this()](const asio::error_code& error, size_t) {
                              if (error) return self->cancel();
                              self->finish();
                          });
        return;
    }
    const HTTPResponse::File& body = std::get<HTTPResponse::File>(reply->body);
    // The head is out already: a file that cannot be opened leaves the reply short.
    file = Files::openRegular(body.path);
    if (!file) return cancel();
    pumpFile(body.lower, reply->length());
}

void Connection::pumpFile(int64_t offset, int64_t left) {
    if (left < 1) {
        file.reset();
        return finish();
    }
    piece.resize(size_t(std::min<int64_t>(left, filePiece)));
    ssize_t count = readAt(file.get(), piece.data(), piece.size(), offset);
    if (count <= 0) {
        file.reset();
        return cancel();
    }
    asio::async_write(socket, asio::buffer(piece.data(), size_t(count)),
                      [self = shared_from_this(), offset, left](const asio::error_code& error, size_t sent) {
                          if (error) {
                              self->file.reset();
                              return self->cancel();
                          }
                          self->pumpFile(offset + int64_t(sent), left - int64_t(sent));
                      });
}

void Connection::finish() {
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
