#include "app/UpdateChecker.h"

#include "tests/support/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>

namespace {

using Answer = std::function<void(QTcpSocket&)>;

// One reply, then the connection closes: the end of a body without a length.
Answer replying(std::string head, std::string body) {
    return [=](QTcpSocket& socket) {
        socket.write(QByteArray::fromStdString(head + "\r\n\r\n" + body));
        socket.disconnectFromHost();
    };
}
Answer withBody(std::string body) { return replying("HTTP/1.1 200 OK", std::move(body)); }
Answer feed(const std::string& version, const std::string& url = "https://vorlane.app/trelk.deb") {
    return withBody(R"({"version":")" + version + R"(","url":")" + url + R"("})");
}

// The feed is served on loopback with the answer of the moment.
class UpdateCheckerTest : public testing::Test {
protected:
    void SetUp() override {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                if (socket->peek(1 << 16).contains("\r\n\r\n")) answer(*socket);
            });
        });
    }
    std::unique_ptr<UpdateChecker> checker(Version running, std::chrono::milliseconds timeout = std::chrono::milliseconds(300)) {
        const std::string feed = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/downloads/trelk.json";
        return std::make_unique<UpdateChecker>(user, UpdateChecker::Setup{feed, running, timeout});
    }
    // What the user was shown by the check under way when it ends.
    std::string shown(UpdateChecker& checker) {
        EXPECT_TRUE(runUntil([&] { return !checker.checking(); }));
        std::string messages;
        for (const Desktop::Alert& alert : std::exchange(user.alerts, {}))
            messages += alert.message + (alert.buttons.empty() ? "" : " with buttons");
        return messages;
    }
    bool runUntil(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    int argc = 1;
    char name[8] = "trelk";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    ScriptedDesktop user;
    QTcpServer server;
    Answer answer = feed("2.0");
};

TEST_F(UpdateCheckerTest, PublishesANewerVersionAndSaysUpToDateOnlyWhenAskedAloud) {
    const std::tuple<std::string, Version, std::optional<Version>> cases[] = {
        {"1.5", {1, 4, 9}, Version{1, 5, 0}},
        {"1.5", {1, 5, 0}, std::nullopt},
        {"beta", {1, 4, 9}, std::nullopt},
        {"0.0.1", {0, 0, 0}, Version{0, 0, 1}},
    };
    for (const auto& [announced, running, expected] : cases) {
        SCOPED_TRACE(announced + " against " + running.description());
        answer = feed(announced);
        std::unique_ptr<UpdateChecker> update = checker(running);
        EXPECT_EQ(shown(*update), "") << "quiet at start";
        EXPECT_EQ(update->available(), expected);
        EXPECT_EQ(update->downloadURL(), "https://vorlane.app/trelk.deb");
        update->check(false);
        EXPECT_EQ(shown(*update), expected ? "" : "vorlane Trelk is up to date.");
    }
}

TEST_F(UpdateCheckerTest, AFailedCheckSaysSoAndKeepsTheLastResult) {
    const std::pair<std::string, Answer> faults[] = {
        {"silent", [](QTcpSocket&) {}},
        {"redirect loop", replying("HTTP/1.1 302 Found\r\nLocation: /downloads/trelk.json", "")},
        {"huge", withBody(R"({"version":"9.0","url":"https://vorlane.app/"})" + std::string(2 << 20, ' '))},
        {"array", withBody(R"([{"version":"9.0","url":"https://vorlane.app/"}])")},
        {"number version", withBody(R"({"version":9.0,"url":"https://vorlane.app/"})")},
        {"no url", withBody(R"({"version":"9.0"})")},
        {"http url", feed("9.0", "http://vorlane.app/trelk.deb")},
        {"unreachable", {}}, // last: the server stops listening
    };
    for (const auto& [fault, failing] : faults) {
        SCOPED_TRACE(fault);
        answer = feed("2.0");
        std::unique_ptr<UpdateChecker> update = checker({1, 0, 0});
        EXPECT_EQ(shown(*update), "");
        answer = failing;
        if (!failing) server.close();
        update->check(false);
        EXPECT_EQ(shown(*update), "Couldn't check for updates.");
        EXPECT_EQ(update->available(), (Version{2, 0, 0}));
        EXPECT_EQ(update->downloadURL(), "https://vorlane.app/trelk.deb");
    }
}

TEST_F(UpdateCheckerTest, GoesAwayWhileACheckRuns) {
    bool asked = false;
    answer = [&](QTcpSocket&) { asked = true; };
    std::unique_ptr<UpdateChecker> update = checker({1, 0, 0}, std::chrono::seconds(15));
    ASSERT_TRUE(runUntil([&] { return asked; }));
    update.reset();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_TRUE(user.alerts.empty());
}

} // namespace
