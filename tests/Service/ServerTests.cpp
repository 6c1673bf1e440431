#include "TrelkCore/Service/Server.h"

#include "TrelkCore/Service/Router.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <list>
#include <random>

namespace {

// The piece in which the server hands a file body to the kernel: replies several pieces long
// cross its edges.
constexpr size_t filePiece = 1 << 20;

// Answers /file?path=… with the file reply, /large with largeReply's bytes and anything else with
// {"path": …}; refuses /refuse as soon as its head is in.
class TestHandler : public RequestHandler {
public:
    UploadStart upload(const HTTPRequest& head) override {
        if (head.path == "/refuse") return {UploadStart::Refuse{HTTPResponse::error(413, "too big")}};
        return {UploadStart::NotUpload{}};
    }
    HTTPResponse uploaded(Upload&, std::optional<UploadRefusal>) override { return HTTPResponse::error(500, "none"); }
    HTTPResponse handle(const HTTPRequest& request) override {
        if (request.path == "/file") {
            const std::filesystem::path path = request.query.at("path");
            return Router::file(Files::openRegular(path), path.filename().string(), request);
        }
        if (request.path == "/large") return HTTPResponse(200, {}, largeReply);
        return HTTPResponse::json({{"path", request.path}, {"body", request.body}});
    }
    std::string largeReply;
};

// A server on ports of its own, started and ready.
class ServerTest : public testing::Test {
protected:
    std::optional<uint16_t> startOn(std::vector<uint16_t> ports) {
        std::promise<std::optional<uint16_t>> ready;
        int calls = 0;
        server.start(std::move(ports), [&](std::optional<uint16_t> port) {
            if (++calls == 1) ready.set_value(port);
        });
        auto future = ready.get_future();
        if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) ADD_FAILURE() << "never ready";
        return future.get();
    }

    uint16_t start() { return startListening(server); }

    std::string request(std::string_view target, std::string_view extra = "") {
        return "GET " + std::string(target) + " HTTP/1.1\r\nHost: x\r\n" + std::string(extra) + "\r\n";
    }

    std::string randomBytes(size_t count) {
        std::mt19937 generator(7);
        std::string bytes(count, '\0');
        for (char& byte : bytes) byte = char(generator());
        return bytes;
    }

    TestHandler handler;
    Server server{handler};
    TempFolder folder;
};

TEST_F(ServerTest, FallsBackToTheNextPortWhenOneIsTaken) {
    TakenPort taken;
    uint16_t next = freePort();
    EXPECT_EQ(startOn({taken.port(), next}), next);
    EXPECT_EQ(server.port(), next);
    EXPECT_EQ(askServer(next, request("/hello")).status, 200);
}

TEST_F(ServerTest, ReportsNoneOnceWhenEveryPortIsTaken) {
    TakenPort first, second;
    EXPECT_EQ(startOn({first.port(), second.port()}), std::nullopt);
    EXPECT_EQ(server.port(), std::nullopt);
}

TEST_F(ServerTest, EmptyPortListReportsNone) { EXPECT_EQ(startOn({}), std::nullopt); }

TEST_F(ServerTest, AnswersOnIPv6LoopbackToo) {
    uint16_t port = start();
    try {
        TestSocket socket(port, "::1");
        socket.send(request("/six"));
        EXPECT_EQ(parseReply(socket.receiveAll()).body, R"({"body":"","path":"/six"})");
    } catch (const std::runtime_error& noIPv6) {
        GTEST_SKIP() << noIPv6.what();
    }
}

TEST_F(ServerTest, ReadsABodyAndClosesAfterOneReply) {
    uint16_t port = start();
    TestReply reply = askServer(port, "POST /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["Connection"], "close");
    EXPECT_EQ(reply.body, R"({"body":"hello","path":"/echo"})");
}

TEST_F(ServerTest, RequestArrivingInPiecesIsAnsweredOnceWhole) {
    uint16_t port = start();
    TestSocket socket(port);
    std::string whole = "POST /slow HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    for (char byte : whole) socket.send(std::string_view(&byte, 1));
    EXPECT_EQ(parseReply(socket.receiveAll()).body, R"({"body":"abc","path":"/slow"})");
}

TEST_F(ServerTest, UnparsableRequestsGetAnUndecoratedBadRequest) {
    uint16_t port = start();
    for (std::string bad : {std::string("GET / HTTP/2\r\n\r\n"), std::string(HTTPRequest::limit + 1, 'x'),
                            request("/big", "Content-Length: 65537\r\n")}) {
        TestReply reply = askServer(port, bad);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, R"({"error":"bad request"})");
        EXPECT_EQ(reply.headers.count("Access-Control-Allow-Origin"), 0u);
    }
}

TEST_F(ServerTest, RefusalAsSoonAsTheHeadIsInReachesAClientStillSending) {
    uint16_t port = start();
    TestSocket socket(port);
    socket.send("POST /refuse HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n");
    socket.send(std::string(200000, 'x')); // more of a body the server never wants
    TestReply reply = parseReply(socket.receiveAll());
    EXPECT_EQ(reply.status, 413);
    EXPECT_EQ(reply.body, R"({"error":"too big"})");
}

TEST_F(ServerTest, PeerThatClosesBeforeTheRequestIsWholeGetsNothing) {
    uint16_t port = start();
    TestSocket socket(port);
    socket.send("GET /half HTTP/1.1\r\n");
    ::shutdown(socket.descriptor(), SHUT_WR);
    EXPECT_EQ(socket.receiveAll(), "");
}

TEST_F(ServerTest, SendsAFileInPiecesWithItsRange) {
    const std::string bytes = randomBytes(3 * filePiece + 12345);
    writeFile(folder / "big.mov", bytes);
    uint16_t port = start();
    std::string target = "/file?path=" + (folder / "big.mov").string();

    TestReply whole = askServer(port, request(target));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers["Content-Length"], std::to_string(bytes.size()));
    EXPECT_TRUE(whole.body == bytes);

    const int64_t lower = 1000, upper = int64_t(2 * filePiece + 77);
    TestReply part = askServer(port, request(target, "Range: bytes=1000-" + std::to_string(upper) + "\r\n"));
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.headers["Content-Range"],
              "bytes 1000-" + std::to_string(upper) + "/" + std::to_string(bytes.size()));
    EXPECT_TRUE(part.body == bytes.substr(size_t(lower), size_t(upper - lower + 1)));
}

TEST_F(ServerTest, ReplyHeldInMemoryLargerThanTheSocketTakesArrivesWhole) {
    handler.largeReply = randomBytes(16 * filePiece + 3);
    uint16_t port = start();
    TestReply reply = askServer(port, request("/large"));
    EXPECT_EQ(reply.headers["Content-Length"], std::to_string(handler.largeReply.size()));
    EXPECT_TRUE(reply.body == handler.largeReply);
}

// The reply sends from the file it opened: one cut short meanwhile leaves the reply short.
TEST_F(ServerTest, FileCutShortAfterTheReplyWasMadeLeavesAShortReply) {
    const auto path = folder / "gone.mov";
    writeFile(path, "0123456789");
    HTTPResponse reply = Router::file(Files::openRegular(path), "gone.mov", HTTPRequest("GET", "/", {}, {}));
    std::filesystem::resize_file(path, 0);
    class Fixed : public TestHandler {
    public:
        explicit Fixed(HTTPResponse reply) : reply(std::move(reply)) {}
        HTTPResponse handle(const HTTPRequest&) override { return reply; }
        HTTPResponse reply;
    } fixed(reply);
    Server other(fixed);
    TestReply got = askServer(startListening(other), request("/gone"));
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.headers["Content-Length"], "10");
    EXPECT_EQ(got.body, "");
}

TEST_F(ServerTest, FileThatChangesWhileSentNeverGoesPastItsAnnouncedLength) {
    // Larger than every socket buffer of the loopback: the server is mid-file while the reader waits.
    const std::string bytes = randomBytes(64 * filePiece);
    const auto path = folder / "changing.mov";
    uint16_t port = start();
    for (bool shrinks : {true, false}) {
        SCOPED_TRACE(shrinks ? "shrinks" : "grows");
        writeFile(path, bytes);
        TestSocket reader(port);
        reader.send(request("/file?path=" + path.string()));
        std::string received = reader.receive(4096);
        if (shrinks)
            std::filesystem::resize_file(path, 2 * filePiece);
        else
            std::ofstream(path, std::ios::app) << std::string(filePiece, 'x');
        TestReply reply = parseReply(received + reader.receiveAll());
        EXPECT_EQ(reply.headers["Content-Length"], std::to_string(bytes.size()));
        if (shrinks) {
            EXPECT_LT(reply.body.size(), bytes.size()) << "the connection ends short";
            EXPECT_TRUE(bytes.starts_with(reply.body));
        } else {
            EXPECT_TRUE(reply.body == bytes);
        }
    }
}

TEST_F(ServerTest, ClientLeavingMidFileDoesNotHurtTheNext) {
    writeFile(folder / "long.mov", randomBytes(32 * filePiece));
    uint16_t port = start();
    {
        TestSocket leaving(port);
        leaving.send(request("/file?path=" + (folder / "long.mov").string()));
        EXPECT_EQ(leaving.receive(1000).substr(0, 12), "HTTP/1.1 200");
    } // closed with most of the file unread
    EXPECT_EQ(askServer(port, request("/after")).body, R"({"body":"","path":"/after"})");
}

TEST_F(ServerTest, SlowClientDoesNotBlockAnother) {
    uint16_t port = start();
    TestSocket slow(port);
    slow.send("GET /slow HTTP/1.1\r\nHost:");
    EXPECT_EQ(askServer(port, request("/quick")).body, R"({"body":"","path":"/quick"})");
    slow.send(" x\r\n\r\n");
    EXPECT_EQ(parseReply(slow.receiveAll()).body, R"({"body":"","path":"/slow"})");
}

TEST_F(ServerTest, AcceptLoopSurvivesRunningOutOfDescriptors) {
    uint16_t port = start();
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    // Room for a few more descriptors only: the idle clients below use them all up.
    rlimit tight = old;
    tight.rlim_cur = rlim_t(::dup(0));
    ::close(int(tight.rlim_cur));
    tight.rlim_cur += 16;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::list<TestSocket> idle;
    try {
        for (int i = 0; i < 64; ++i) idle.emplace_back(port).send("GET /idle");
    } catch (const std::runtime_error&) {} // this process is out of descriptors too
    EXPECT_GT(idle.size(), 4u);
    EXPECT_LT(idle.size(), 64u) << "the descriptors never ran out";
    idle.clear();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(askServer(port, request("/again")).body, R"({"body":"","path":"/again"})");
}

// A flood of requests that never finish their head, from another process, as many as the
// open-file limit allows: the oldest of them go, and a page's request is still answered. Run in
// a process of its own, as a lowered hard limit cannot be raised again.
[[noreturn]] void floodThenAskAsAPage() {
    ::alarm(30); // a page locked out would wait for ever
    rlimit low{600, 600};
    if (setrlimit(RLIMIT_NOFILE, &low) != 0) std::_Exit(2);
    TestHandler handler;
    Server flooded(handler);
    const uint16_t port = startListening(flooded);
    // Two flooding processes: each has the same limit, and together they go past it.
    int ready[2];
    if (::pipe(ready) != 0) std::_Exit(3);
    pid_t floods[2];
    for (pid_t& flood : floods) {
        flood = ::fork();
        if (flood != 0) continue;
        // System calls alone: another thread may hold a lock at the fork. Ends with its parent.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 400; ++i) {
            const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
            if (socket < 0 || ::connect(socket, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) break;
            ::send(socket, "GET /flood HTTP/1.1\r\n", 21, MSG_NOSIGNAL);
        }
        if (::write(ready[1], "x", 1) != 1) std::_Exit(1);
        ::pause();
        std::_Exit(0);
    }
    char done[2];
    if (::read(ready[0], &done[0], 1) != 1 || ::read(ready[0], &done[1], 1) != 1) std::_Exit(4);
    const bool answered = askServer(port, "GET /page HTTP/1.1\r\nHost: x\r\n\r\n").body == R"({"body":"","path":"/page"})";
    for (pid_t flood : floods) {
        ::kill(flood, SIGKILL);
        ::waitpid(flood, nullptr, 0);
    }
    std::_Exit(answered ? 0 : 1);
}

TEST(ServerFlood, AFloodOfUnfinishedHeadsNeverLocksOutAPage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(floodThenAskAsAPage(), testing::ExitedWithCode(0), "");
}

TEST_F(ServerTest, StopClosesTheListenerAndOpenConnections) {
    uint16_t port = start();
    TestSocket open(port);
    open.send("GET /never");
    server.stop();
    EXPECT_EQ(open.receiveAll(), "");
    EXPECT_THROW(TestSocket{port}, std::runtime_error);
    EXPECT_EQ(server.port(), std::nullopt);
}

} // namespace
