#include "app/SingleInstance.h"

#include "tests/support/EventLoop.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>

namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public testing::Test {
protected:
    // Asked from another thread, as another process would: this one's loop must answer.
    SingleInstance::Answer askToOpen(SingleInstance& later, const std::string& activationToken = {}) {
        std::future<SingleInstance::Answer> asked = std::async(std::launch::async, [&] { return later.askToOpen(activationToken); });
        EXPECT_TRUE(EventLoop::runUntil([&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return asked.get();
    }

    EventLoop loop;
    TempFolder folder;
};

TEST_F(SingleInstanceTest, ALaterStartFindsTheFirstAndAsksItToOpen) {
    auto first = std::make_unique<SingleInstance>(folder.path());
    std::vector<QString> tokens;
    QObject::connect(first.get(), &SingleInstance::openAsked, [&](const QString& token) { tokens.push_back(token); });
    ASSERT_TRUE(first->claim());

    SingleInstance later(folder.path());
    EXPECT_FALSE(later.claim());
    EXPECT_EQ(askToOpen(later), SingleInstance::Answer::opened);
    EXPECT_EQ(askToOpen(later, "kwin-4712_TIME0"), SingleInstance::Answer::opened) << "the desktop's activation token goes along";
    EXPECT_EQ(askToOpen(later, "two\nlines"), SingleInstance::Answer::opened) << "a token that cannot be sent is left behind";
    EXPECT_EQ(tokens, (std::vector<QString>{"", "kwin-4712_TIME0", ""}));

    first.reset();
    EXPECT_EQ(askToOpen(later), SingleInstance::Answer::none) << "nobody answers once the first has gone";
    EXPECT_TRUE(later.claim()) << "the lock went with it";
}

TEST_F(SingleInstanceTest, AServiceWithoutWindowsSaysSoAndOpensNothing) {
    SingleInstance first(folder.path());
    first.withoutWindows();
    int asked = 0;
    QObject::connect(&first, &SingleInstance::openAsked, [&] { ++asked; });
    ASSERT_TRUE(first.claim());
    SingleInstance later(folder.path());
    EXPECT_EQ(askToOpen(later), SingleInstance::Answer::headless);
    EXPECT_EQ(asked, 0);
}

TEST_F(SingleInstanceTest, ASocketAndLockLeftByACrashedRunDoNotBlockTheNextStart) {
    const fs::path socketPath = folder / "vorlane-trelk.socket";
    int crashed = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(crashed, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(crashed); // the socket file stays, with nobody behind it
    writeFile(folder / "vorlane-trelk.lock", "");

    SingleInstance next(folder.path());
    int opened = 0;
    QObject::connect(&next, &SingleInstance::openAsked, [&] { ++opened; });
    ASSERT_TRUE(next.claim());
    SingleInstance later(folder.path());
    EXPECT_EQ(askToOpen(later), SingleInstance::Answer::opened);
    EXPECT_EQ(opened, 1);
}

TEST_F(SingleInstanceTest, TheFolderIsMadePrivateAndOneOthersCanEnterIsRefused) {
    const fs::path fallback = folder / "fallback";
    EXPECT_TRUE(SingleInstance(fallback).claim());
    EXPECT_EQ(modeOf(fallback) & 0777, 0700u);

    const fs::path shared = folder / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all);
    EXPECT_THROW(SingleInstance(shared).claim(), std::exception);
}

} // namespace
