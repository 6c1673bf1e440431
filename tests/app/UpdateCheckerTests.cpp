#include "app/UpdateChecker.h"

#include "tests/support/CannedServer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <functional>
#include <memory>

namespace {

using Answer = CannedServer::Answer;

// The feed is served on loopback with the answer of the moment.
class UpdateCheckerTest : public testing::Test {
protected:
    std::unique_ptr<UpdateChecker> checker(Version running, std::chrono::milliseconds timeout = std::chrono::milliseconds(300)) {
        return std::make_unique<UpdateChecker>(
            user, UpdateChecker::Setup{server.address("/downloads/trelk.json"), running, timeout});
    }
    // What the user was shown by the check under way when it ends.
    std::string shown(UpdateChecker& checker) {
        EXPECT_TRUE(EventLoop::runUntil([&] { return !checker.checking(); }));
        std::string messages;
        for (const DesktopServices::Alert& alert : std::exchange(user.alerts, {}))
            messages += alert.message + (alert.buttons.empty() ? "" : " with buttons");
        return messages;
    }
    EventLoop loop;
    ScriptedDesktop user;
    CannedServer server;
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
        server.answer = CannedServer::feed(announced);
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
        {"redirect loop", CannedServer::replying("HTTP/1.1 302 Found\r\nLocation: /downloads/trelk.json", "")},
        {"huge", CannedServer::withBody(R"({"version":"9.0","url":"https://vorlane.app/"})" + std::string(2 << 20, ' '))},
        {"array", CannedServer::withBody(R"([{"version":"9.0","url":"https://vorlane.app/"}])")},
        {"number version", CannedServer::withBody(R"({"version":9.0,"url":"https://vorlane.app/"})")},
        {"no url", CannedServer::withBody(R"({"version":"9.0"})")},
        {"http url", CannedServer::feed("9.0", "http://vorlane.app/trelk.deb")},
        {"unreachable", {}}, // last: the server stops listening
    };
    for (const auto& [fault, failing] : faults) {
        SCOPED_TRACE(fault);
        server.answer = CannedServer::feed("2.0");
        std::unique_ptr<UpdateChecker> update = checker({1, 0, 0});
        EXPECT_EQ(shown(*update), "");
        server.answer = failing;
        if (!failing) server.close();
        update->check(false);
        EXPECT_EQ(shown(*update), "Couldn't check for updates.");
        EXPECT_EQ(update->available(), (Version{2, 0, 0}));
        EXPECT_EQ(update->downloadURL(), "https://vorlane.app/trelk.deb");
    }
}

TEST_F(UpdateCheckerTest, GoesAwayWhileACheckRuns) {
    bool asked = false;
    server.answer = [&](QTcpSocket&) { asked = true; };
    std::unique_ptr<UpdateChecker> update = checker({1, 0, 0}, std::chrono::seconds(15));
    ASSERT_TRUE(EventLoop::runUntil([&] { return asked; }));
    update.reset();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_TRUE(user.alerts.empty());
}

} // namespace
