#pragma once
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/SerialQueue.h"
#include "TrelkCore/Service/HTTP.h"
#include "TrelkCore/Service/RequestHandler.h"

#include <asio.hpp>

#include <memory>
#include <optional>
#include <string>

// One accepted connection of the server: reads one request, writes its reply, closes.
// Lives on the server's thread and keeps itself alive through its pending operations.
//
// An upload's file is created on the disk queue, and its body received here and written there,
// one piece at a time while the next arrives: a disk that stalls holds up that upload alone,
// never the server's thread.
//
// Every read and write is tried at once on the non-blocking socket; only when one would block is
// the socket handed to the server's loop to wait. A request that is in when the connection is
// accepted and a reply the socket takes at once never cost the loop anything.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    // Largest piece of a file body handed to the kernel in one turn of the server's loop; the
    // bytes never pass through this process.
    static constexpr size_t filePiece = 1 << 20;

    // Largest piece of an upload's body written in one go.
    static constexpr size_t bodyPiece = 1 << 20;

    // The socket must be connected and non-blocking.
    Connection(asio::io_context& io, Files::Descriptor socket, asio::ip::tcp protocol, RequestHandler& handler,
               SerialQueue& disk);

    void start();
    // Whether the request's head has still not all arrived.
    bool awaitingHead() const { return !head && !reply; }
    // Ends the connection at once, without a reply; an upload under way is aborted.
    void cancel();

private:
    using Step = void (Connection::*)();
    // Runs next once the socket is ready for the wait.
    void await(asio::socket_base::wait_type wait, Step next);
    int socket();

    void receive();
    // The reply to what the buffer holds so far, or none while more bytes are needed.
    std::optional<HTTPResponse> replyToBuffer();

    // Upload bodies (ConnectionUpload.cpp).
    struct Piece {
        std::unique_ptr<char[]> bytes;
        size_t capacity = 0;
        size_t size = 0;
    };
    void openUpload();
    void uploadOpened(std::optional<HTTPResponse> refusal);
    void startBody();
    void receiveBody();
    void writePiece();
    void pieceWritten(Piece piece, std::optional<UploadRefusal> failure);
    void endUpload(std::optional<UploadRefusal> failure);

    void send(HTTPResponse reply);
    void sendOutgoing();
    void sendFile();

    // Closes once the reply is out. A reply sent before the whole request was read first
    // half-closes and reads what the peer still sends for a moment, so that it reaches the peer
    // rather than being lost to a reset.
    void finish();
    void drain();

    Files::Descriptor unwatched; // the socket until the loop first waits on it
    asio::ip::tcp::socket watched; // then the socket, owned by the loop
    asio::ip::tcp protocol;
    asio::steady_timer lingering;
    RequestHandler& handler;
    SerialQueue& disk;
    std::string buffer;
    size_t searched = 0;                  // bytes known to hold no blank line
    std::optional<HTTPRequest::Head> head; // once it has arrived
    size_t needed = 0;                    // bytes of head and body together
    bool requestRead = false;             // to its last byte, before the reply
    std::shared_ptr<Upload> upload;       // accepted: the body goes into it
    int64_t bodyLeft = 0;                 // bytes of the body still to receive
    Piece filling;                        // receives while the disk writes the other
    Piece spare;
    bool writing = false;                 // a piece is with the disk queue
    bool paused = false;                  // filling is full: the disk must catch up
    bool uploadEnded = false;             // its end is with the disk queue
    std::optional<HTTPResponse> reply;
    std::string outgoing;                 // the head, and a body held in memory
    size_t outgoingSent = 0;
    std::shared_ptr<const Files::Descriptor> file;
    int64_t fileOffset = 0;
    int64_t fileLeft = 0;
    size_t drained = 0;
};
