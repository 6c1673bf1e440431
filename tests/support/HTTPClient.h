#pragma once
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Service/HTTP.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A plain blocking TCP client for talking to the server over real sockets.
class TestSocket {
public:
    // Connects to 127.0.0.1 (or ::1) on port; throws when it cannot.
    explicit TestSocket(uint16_t port, std::string_view address = "127.0.0.1");

    void send(std::string_view bytes);
    // Everything until the server closes (or resets) the connection.
    std::string receiveAll();
    // Up to count bytes; fewer only when the connection ends.
    std::string receive(size_t count);
    int descriptor() const { return fd.get(); }

private:
    Files::Descriptor fd;
};

struct TestReply {
    int status = 0;
    HTTPHeaders headers; // names as the server wrote them
    std::string body;
};

// Splits what the server sent into status, headers and body; status 0 when it is not a reply.
TestReply parseReply(std::string_view bytes);

// One request with its reply.
TestReply askServer(uint16_t port, std::string_view request);

// A port that nothing listens on right now.
uint16_t freePort();

class Server;
// Starts the server on a free port and waits until it listens there; throws when it does not.
uint16_t startListening(Server& server);

// Holds a port of 127.0.0.1 taken, the way another program would, until it goes away.
class TakenPort {
public:
    TakenPort();
    uint16_t port() const { return number; }

private:
    Files::Descriptor fd;
    uint16_t number;
};
