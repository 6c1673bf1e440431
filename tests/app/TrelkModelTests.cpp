#include "app/Service/TrelkModel.h"

#include "tests/support/EventLoop.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>

#include <optional>

namespace {

class TrelkModelTest : public testing::Test {
protected:
    ServiceSetup setup(std::vector<uint16_t> ports) {
        return {folder / "service", std::move(ports), folder / "library", std::nullopt, &engine};
    }

    void askToPair(uint16_t port) {
        TestReply reply = askServer(port, "POST /trelk/pair HTTP/1.1\r\nOrigin: http://localhost:5173\r\n\r\n");
        ASSERT_EQ(reply.status, 200);
        code = nlohmann::json::parse(reply.body).at("code");
    }

    EventLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    std::string code;
};

TEST_F(TrelkModelTest, WithEveryPortTakenTheServiceStaysOff) {
    TakenPort first, second;
    TrelkModel model(user, setup({first.port(), second.port()}));
    EXPECT_EQ(model.status(), "Trelk off · ports 47615–47617 are taken") << "not ready yet";
    bool ready = false;
    QObject::connect(&model, &TrelkModel::serverReady, [&] { ready = true; });
    ASSERT_TRUE(loop.runUntil([&] { return ready; }));
    EXPECT_EQ(model.port(), std::nullopt);
    EXPECT_EQ(model.status(), "Trelk off · ports 47615–47617 are taken");
}

TEST_F(TrelkModelTest, TheLibrarySummaryCountsItemsAndBytesAndFollowsTheLibrary) {
    TrelkModel model(user, setup({freePort()}));
    EXPECT_EQ(model.librarySummary(), "Library · 0 items · 0 bytes");
    std::filesystem::create_directories(folder / "library" / "Shoot");
    writeFile(folder / "library" / "Shoot" / "clip.mp4", "0123456789");
    model.rescan();
    ASSERT_TRUE(loop.runUntil([&] { return model.assets().size() == 1; }));
    EXPECT_EQ(model.librarySummary(), "Library · 1 item · 10 bytes");
    std::filesystem::create_directories(folder / "library" / "Masters");
    writeFile(folder / "library" / "Masters" / "clip.mov", std::string(1500, 'x'));
    writeFile(folder / "library" / "Shoot" / "clip 2.mp4", "0123456789");
    model.rescan();
    // A pass of the timer may come between the two writes: the summary is the one after both.
    ASSERT_TRUE(loop.runUntil([&] { return model.mastersBytes() == 1500 && model.assets().size() == 2; }));
    EXPECT_EQ(model.librarySummary(), "Library · 2 items · 20 bytes · masters 1.5 KB");
    EXPECT_EQ(engine.probesOf("clip.mp4"), 0) << "only a window shows what a probe finds";
}

TEST_F(TrelkModelTest, PairingAsksTheUserAndCountsEachAllowedBrowser) {
    uint16_t port = freePort();
    TrelkModel model(user, setup({port}));
    ASSERT_TRUE(loop.runUntil([&] { return model.port().has_value(); }));
    EXPECT_EQ(model.port(), port);
    EXPECT_EQ(model.status(), "Not linked · open VorlaneWeb in Chrome to pair");

    askToPair(port);
    ASSERT_TRUE(loop.runUntil([&] { return model.paired() == 1; }));
    ASSERT_EQ(user.alerts.size(), 1u);
    EXPECT_EQ(user.activations, 1);
    EXPECT_EQ(user.alerts[0].message, "Allow VorlaneWeb to use your library?");
    EXPECT_EQ(user.alerts[0].informative, "Code " + code + " · check it matches the page\nhttp://localhost:5173");
    EXPECT_EQ(user.alerts[0].buttons, (std::vector<std::string>{"Allow", "Don't Allow"}));
    EXPECT_EQ(model.status(), "Linked · 1 browser");

    askToPair(port);
    ASSERT_TRUE(loop.runUntil([&] { return model.paired() == 2; }));
    EXPECT_EQ(model.status(), "Linked · 2 browsers");
}

TEST_F(TrelkModelTest, AFloodOfPairRequestsShowsOneDialogAtATimeForTheNewestOnly) {
    uint16_t port = freePort();
    TrelkModel model(user, setup({port}));
    ASSERT_TRUE(loop.runUntil([&] { return model.port().has_value(); }));
    askToPair(port);
    std::string lastCode;
    user.whileOpen = [&] {
        for (int i = 0; i < 10000; ++i) {
            askToPair(port);
            if (i % 100 == 0) QCoreApplication::processEvents();
        }
        lastCode = code;
        QCoreApplication::processEvents();
    };
    // The first request was dropped by the flood while its dialog was open: its Allow pairs nothing.
    ASSERT_TRUE(loop.runUntil([&] { return model.paired() == int(Pairing::mostPending); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(user.mostOpen, 1);
    EXPECT_EQ(user.alerts.size(), 1 + Pairing::mostPending) << "only the requests still pending are asked about";
    EXPECT_NE(user.alerts.back().informative.find("Code " + lastCode), std::string::npos);
}

TEST_F(TrelkModelTest, RefusedPairingAddsNoBrowserAndTokensOutliveARestart) {
    uint16_t port = freePort();
    {
        TrelkModel model(user, setup({port}));
        ASSERT_TRUE(loop.runUntil([&] { return model.port().has_value(); }));
        askToPair(port);
        ASSERT_TRUE(loop.runUntil([&] { return model.paired() == 1; }));
        user.choice = 1;
        askToPair(port);
        ASSERT_TRUE(loop.runUntil([&] { return user.alerts.size() == 2; }));
        EXPECT_EQ(model.paired(), 1);
    }
    TrelkModel again(user, setup({freePort()}));
    EXPECT_EQ(again.paired(), 1);
    EXPECT_EQ(modeOf(folder / "service" / "tokens.json"), 0600u);
}

} // namespace
