#include "app/SingleInstance.h"

#include "TrelkCore/Error.h"

#include <QLocalSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char openedAnswer[] = "ok\n";
constexpr char headlessAnswer[] = "headless\n";
constexpr int patienceMs = 2000;
constexpr qsizetype longestToken = 512;
constexpr qint64 longestRequest = longestToken + 8;

bool validToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= longestToken &&
           std::ranges::all_of(token, [](char c) { return c > ' ' && c < 0x7f; });
}

// "open", with the activation token the later start was given when there is one.
QByteArray openRequest(const std::string& activationToken) {
    const QByteArray token = QByteArray::fromStdString(activationToken);
    return validToken(token) ? "open " + token + "\n" : "open\n";
}

// The token of an open request, empty when it has none; none when the line is no such request.
std::optional<QString> requestedToken(const QByteArray& line) {
    if (line == "open\n") return QString();
    if (!line.startsWith("open ") || !line.endsWith('\n')) return std::nullopt;
    const QByteArray token = line.sliced(5).chopped(1);
    if (!validToken(token)) return std::nullopt;
    return QString::fromLatin1(token);
}

} // namespace

fs::path SingleInstance::standardFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && fs::path(runtime).is_absolute())
        return runtime;
    return fs::temp_directory_path() / ("vorlane-trelk-" + std::to_string(::getuid()));
}

SingleInstance::SingleInstance(fs::path folder)
    : folder(std::move(folder)), socketPath(this->folder / "vorlane-trelk.socket") {
    connect(&server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

// The lock and the socket must be out of other users' reach: under a shared temporary folder
// anyone could have made the folder first.
void SingleInstance::privateFolder() const {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::system_error(errno, std::generic_category(), folder.string());
    struct stat facts {};
    if (::lstat(folder.c_str(), &facts) != 0)
        throw std::system_error(errno, std::generic_category(), folder.string());
    if (!S_ISDIR(facts.st_mode) || facts.st_uid != ::geteuid() || (facts.st_mode & 077) != 0)
        throw TrelkError("the folder for the running instance is not private to this user: " + folder.string());
}

bool SingleInstance::claimLock() {
    if (lock) return true;
    privateFolder();
    const fs::path lockPath = folder / "vorlane-trelk.lock";
    Files::Descriptor file(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file) throw std::system_error(errno, std::generic_category(), lockPath.string());
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return false;
        throw std::system_error(errno, std::generic_category(), lockPath.string());
    }
    lock = std::move(file);
    return true;
}

bool SingleInstance::claim() {
    if (server.isListening()) return true;
    if (!claimLock()) return false;
    // Holding the lock, any socket file is a crashed run's.
    QLocalServer::removeServer(QString::fromStdString(socketPath.string()));
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(QString::fromStdString(socketPath.string())))
        throw TrelkError("couldn't listen on " + socketPath.string() + ": " + server.errorString().toStdString());
    return true;
}

SingleInstance::Answer SingleInstance::askToOpen(const std::string& activationToken) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath.string()));
    if (!socket.waitForConnected(patienceMs)) return Answer::none;
    socket.write(openRequest(activationToken));
    if (!socket.waitForBytesWritten(patienceMs)) return Answer::none;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(patienceMs)) return Answer::none;
    const QByteArray answer = socket.readLine();
    if (answer == openedAnswer) return Answer::opened;
    return answer == headlessAnswer ? Answer::headless : Answer::none;
}

// A later start of the program, of this user (the folder is private): one request line, then
// the answer. Anything else, or silence, is dropped.
void SingleInstance::accept() {
    while (QLocalSocket* peer = server.nextPendingConnection()) {
        const auto drop = [peer] {
            peer->abort();
            peer->deleteLater();
        };
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        QTimer::singleShot(patienceMs, peer, drop);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer, drop] {
            if (!peer->canReadLine()) {
                if (peer->bytesAvailable() > longestRequest) drop();
                return;
            }
            const std::optional<QString> token = requestedToken(peer->readLine(longestRequest + 1));
            if (!token) return drop();
            if (windows) emit openAsked(*token);
            peer->write(windows ? openedAnswer : headlessAnswer);
            peer->disconnectFromServer();
        });
    }
}
