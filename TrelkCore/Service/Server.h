#pragma once
#include "TrelkCore/Service/RequestHandler.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The HTTP/1.1 listener on the loopback addresses: one request per connection, all of it on
// one thread of its own, which is the only place the handler runs.
class Server {
public:
    static constexpr std::array<uint16_t, 3> ports{47615, 47616, 47617};

    using Ready = std::function<void(std::optional<uint16_t> port)>;

    // Raises the process's open-file soft limit to its hard limit, and keeps the connections
    // below it.
    explicit Server(RequestHandler& handler);
    // Waits for the server's thread to end.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on the first port of the list that 127.0.0.1 can bind (and ::1 too, when the
    // machine has it); ready is called once, on the server's thread, with that port or none.
    void start(std::vector<uint16_t> portList, Ready ready);
    // Closes the listener and every connection.
    void stop();

    std::optional<uint16_t> port() const;

private:
    struct State;
    std::unique_ptr<State> state;
    std::thread thread;
};
