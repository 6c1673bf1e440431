#include "TrelkCore/Service/Server.h"

#include "TrelkCore/Service/Connection.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <list>

namespace {

using asio::ip::tcp;

// How long the accept loop rests after a failed accept, such as running out of descriptors.
constexpr auto acceptRetry = std::chrono::milliseconds(100);
// Connections taken in one turn of the loop before the other work has its turn.
constexpr int acceptBurst = 64;

std::optional<tcp::acceptor> listenOn(asio::io_context& io, const asio::ip::address& address, uint16_t port) {
    asio::error_code error;
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint(address, port);
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error && address.is_v6()) acceptor.set_option(asio::ip::v6_only(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (!error) acceptor.native_non_blocking(true, error);
    if (error) return std::nullopt;
    return acceptor;
}

// Descriptors kept back from connections: the files served, the stores, the making's pipes.
constexpr rlim_t reserved = 128;

// The open-file soft limit raised to the hard one, and the connections it leaves room for.
size_t connectionCap() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 512;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return size_t(std::max<rlim_t>(limit.rlim_cur, 2 * reserved) - reserved);
}

// File bodies go out through sendfile, which has no MSG_NOSIGNAL: a peer that left would raise
// SIGPIPE and end the program. Blocked on the server's thread, the send fails with EPIPE instead.
void blockBrokenPipes() {
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
}

} // namespace

struct Server::State {
    explicit State(RequestHandler& handler) : handler(handler) {}

    // One listening socket and the timer of its accept loop.
    struct Listener {
        tcp::acceptor acceptor;
        tcp protocol;
        asio::steady_timer rest;
    };

    void listen(const std::vector<uint16_t>& portList, const Ready& ready);
    void awaitConnections(Listener& listener);
    void acceptWaiting(Listener& listener);
    void restThenAwait(Listener& listener);
    void serve(Files::Descriptor socket, tcp protocol);
    void closeAll();

    asio::io_context io; // first, so that everything bound to it goes before it
    SerialQueue disk;    // upload bodies and their ends; what it still holds runs before io goes
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
    RequestHandler& handler;
    std::atomic<uint32_t> port{0}; // 0 while not listening; read from any thread
    std::list<Listener> listeners;
    std::vector<std::weak_ptr<Connection>> connections; // in the order they came
    const size_t cap = connectionCap();
};

void Server::State::listen(const std::vector<uint16_t>& portList, const Ready& ready) {
    for (uint16_t candidate : portList) {
        if (candidate == 0) continue;
        std::optional<tcp::acceptor> v4 = listenOn(io, asio::ip::address_v4::loopback(), candidate);
        if (!v4) continue;
        listeners.push_back({std::move(*v4), tcp::v4(), asio::steady_timer(io)});
        // A browser may resolve localhost to ::1; machines without IPv6 simply lack it.
        if (std::optional<tcp::acceptor> v6 = listenOn(io, asio::ip::address_v6::loopback(), candidate))
            listeners.push_back({std::move(*v6), tcp::v6(), asio::steady_timer(io)});
        port = candidate;
        for (Listener& listener : listeners) awaitConnections(listener);
        if (ready) ready(candidate);
        return;
    }
    if (ready) ready(std::nullopt);
}

void Server::State::awaitConnections(Listener& listener) {
    listener.acceptor.async_wait(tcp::acceptor::wait_read, [this, &listener](const asio::error_code& error) {
        if (error == asio::error::operation_aborted) return;
        if (error) return restThenAwait(listener);
        acceptWaiting(listener);
    });
}

// Takes the connections waiting, up to a burst: one wait of the loop serves them all. accept4
// makes each socket non-blocking from the start, which asio's accept would do with one more call.
void Server::State::acceptWaiting(Listener& listener) {
    for (int taken = 0; taken < acceptBurst;) {
        Files::Descriptor socket(
            ::accept4(listener.acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (socket) {
            serve(std::move(socket), listener.protocol);
            ++taken;
        } else if (errno == EAGAIN) {
            break;
        } else if (errno != EINTR && errno != ECONNABORTED) {
            return restThenAwait(listener);
        }
    }
    awaitConnections(listener);
}

// Out of descriptors and the like: rest, then try again, without spinning.
void Server::State::restThenAwait(Listener& listener) {
    listener.rest.expires_after(acceptRetry);
    listener.rest.async_wait([this, &listener](const asio::error_code& error) {
        if (!error) awaitConnections(listener);
    });
}

void Server::State::serve(Files::Descriptor socket, tcp protocol) {
    auto connection = std::make_shared<Connection>(io, std::move(socket), protocol, handler, disk);
    connection->start();
    // Most replies are out before start returns; only connections still waiting on something
    // hold another reference, and only they are left to close at a stop.
    if (connection.use_count() == 1) return;
    std::erase_if(connections, [](const std::weak_ptr<Connection>& c) { return c.expired(); });
    // A flood of requests that never end their head must not take the last descriptor from a
    // page: the oldest of them goes.
    if (connections.size() >= cap) {
        auto oldest = std::ranges::find_if(connections, [](const std::weak_ptr<Connection>& weak) {
            std::shared_ptr<Connection> old = weak.lock();
            return old && old->awaitingHead();
        });
        if (oldest != connections.end()) {
            oldest->lock()->cancel();
            connections.erase(oldest); // it lives on until its wait ends, but its socket is closed
        }
    }
    connections.push_back(connection);
}

void Server::State::closeAll() {
    for (Listener& listener : listeners) {
        asio::error_code ignored;
        listener.acceptor.close(ignored);
        listener.rest.cancel();
    }
    listeners.clear();
    for (const std::weak_ptr<Connection>& weak : connections)
        if (std::shared_ptr<Connection> connection = weak.lock()) connection->cancel();
    connections.clear();
}

Server::Server(RequestHandler& handler)
    : state(std::make_unique<State>(handler)), thread([this] {
          blockBrokenPipes();
          state->io.run();
      }) {}

Server::~Server() {
    stop();
    state->work.reset();
    thread.join(); // returns once the closing work has run and nothing is left to do
}

void Server::start(std::vector<uint16_t> portList, Ready ready) {
    asio::post(state->io, [this, portList = std::move(portList), ready = std::move(ready)] {
        state->listen(portList, ready);
    });
}

void Server::stop() {
    state->port = 0; // at once: a caller must not see the port after asking to stop
    asio::post(state->io, [this] { state->closeAll(); });
}

std::optional<uint16_t> Server::port() const {
    uint32_t value = state->port;
    if (value == 0) return std::nullopt;
    return uint16_t(value);
}
