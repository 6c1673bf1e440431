#pragma once
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/RequestHandler.h"

#include <asio.hpp>

#include <array>
#include <memory>
#include <optional>
#include <string>

// One accepted connection of the server: reads one request, writes its reply, closes.
// Lives on the server's thread and keeps itself alive through its pending operations.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    // Largest piece of a file body handed to the kernel at once; the bytes never pass through
    // this process.
    static constexpr size_t filePiece = 1 << 20;

    Connection(asio::ip::tcp::socket socket, RequestHandler& handler);

    void start();
    // Ends the connection at once, without a reply.
    void cancel();

private:
    void doRead();
    void onRead(const asio::error_code& error, size_t count);
    // The reply to what the buffer holds so far, or none while more bytes are needed.
    std::optional<HTTPResponse> replyToBuffer();

    void send(HTTPResponse reply);
    void onSent(const asio::error_code& error);
    void sendFile(int64_t offset, int64_t left);
    void awaitRoom(int64_t offset, int64_t left);

    // Closes once the reply is out. A reply sent before the whole request was read first
    // half-closes and reads what the peer still sends for a moment, so that it reaches the peer
    // rather than being lost to a reset.
    void finish();
    void drain();

    asio::ip::tcp::socket socket;
    asio::steady_timer lingering;
    RequestHandler& handler;
    std::string buffer;
    std::array<char, HTTPRequest::limit> incoming;
    size_t searched = 0;                  // bytes known to hold no blank line
    std::optional<HTTPRequest::Head> head; // once it has arrived
    size_t needed = 0;                    // bytes of head and body together
    bool requestRead = false;             // to its last byte, before the reply
    std::optional<HTTPResponse> reply;
    std::string replyHead;
    Files::Descriptor file;
    size_t drained = 0;
};
