#pragma once
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <string>

// An HTTP server on loopback in the test's event loop that answers each request with the answer
// of the moment.
class CannedServer {
public:
    using Answer = std::function<void(QTcpSocket&)>;

    // One reply, then the connection closes: the end of a body without a length.
    static Answer replying(std::string head, std::string body) {
        return [=](QTcpSocket& socket) {
            socket.write(QByteArray::fromStdString(head + "\r\n\r\n" + body));
            socket.disconnectFromHost();
        };
    }
    static Answer withBody(std::string body) { return replying("HTTP/1.1 200 OK", std::move(body)); }
    // An update feed announcing the version.
    static Answer feed(const std::string& version, const std::string& url = "https://vorlane.app/trelk.deb") {
        return withBody(R"({"version":")" + version + R"(","url":")" + url + R"("})");
    }

    CannedServer() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                if (socket->peek(1 << 16).contains("\r\n\r\n")) answer(*socket);
            });
        });
    }
    std::string address(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server.serverPort()) + path;
    }
    void close() { server.close(); }

    Answer answer = feed("2.0");

private:
    QTcpServer server;
};
