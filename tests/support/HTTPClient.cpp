#include "tests/support/HTTPClient.h"

#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Service/Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <stdexcept>

TestSocket::TestSocket(uint16_t port, std::string_view address) {
    bool v6 = address.find(':') != std::string_view::npos;
    fd = Files::Descriptor(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    int result;
    std::string text(address);
    if (v6) {
        sockaddr_in6 where{};
        where.sin6_family = AF_INET6;
        where.sin6_port = htons(port);
        inet_pton(AF_INET6, text.c_str(), &where.sin6_addr);
        result = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&where), sizeof where);
    } else {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        inet_pton(AF_INET, text.c_str(), &where.sin_addr);
        result = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&where), sizeof where);
    }
    if (result != 0) throw std::runtime_error("connect: " + std::string(std::strerror(errno)));
}

void TestSocket::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) throw std::runtime_error("send: " + std::string(std::strerror(errno)));
        bytes.remove_prefix(size_t(sent));
    }
}

std::string TestSocket::receive(size_t count) {
    std::string bytes;
    char piece[65536];
    while (bytes.size() < count) {
        ssize_t got = ::recv(fd.get(), piece, std::min(sizeof piece, count - bytes.size()), 0);
        if (got <= 0) break;
        bytes.append(piece, size_t(got));
    }
    return bytes;
}

std::string TestSocket::receiveAll() { return receive(SIZE_MAX); }

TestReply parseReply(std::string_view bytes) {
    TestReply reply;
    size_t headEnd = bytes.find("\r\n\r\n");
    if (!bytes.starts_with("HTTP/1.1 ") || headEnd == std::string_view::npos) return reply;
    std::string_view head = bytes.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    reply.status = int(Text::parseInteger(head.substr(9, 3)).value_or(0));
    while (lineEnd != std::string_view::npos) {
        size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string_view line = head.substr(start, lineEnd == std::string_view::npos ? head.npos : lineEnd - start);
        size_t colon = line.find(": ");
        if (colon != std::string_view::npos)
            reply.headers[std::string(line.substr(0, colon))] = std::string(line.substr(colon + 2));
    }
    reply.body = std::string(bytes.substr(headEnd + 4));
    return reply;
}

TestReply askServer(uint16_t port, std::string_view request) {
    TestSocket socket(port);
    socket.send(request);
    return parseReply(socket.receiveAll());
}

namespace {

// A socket bound to a port of 127.0.0.1 that the system picked.
Files::Descriptor boundSocket(uint16_t& port) {
    Files::Descriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&where), &length) != 0)
        throw std::runtime_error("no free port");
    port = ntohs(where.sin_port);
    return fd;
}

} // namespace

uint16_t freePort() {
    uint16_t port;
    boundSocket(port);
    return port;
}

uint16_t startListening(Server& server) {
    std::promise<std::optional<uint16_t>> ready;
    server.start({freePort()}, [&](std::optional<uint16_t> port) { ready.set_value(port); });
    std::optional<uint16_t> port = ready.get_future().get();
    if (!port) throw std::runtime_error("the server did not listen");
    return *port;
}

TakenPort::TakenPort() : fd(boundSocket(number)) {
    if (::listen(fd.get(), 1) != 0) throw std::runtime_error("listen failed");
}
