#include "app/Desktop/TrayMenu.h"

#include "app/UpdateChecker.h"
#include "tests/support/CannedServer.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QApplication>


namespace fs = std::filesystem;

namespace {

class TrayMenuTest : public testing::Test {
protected:

    // The menu as lines: "text" when enabled, "(text)" when not, "—" for a separator.
    std::vector<std::string> lines() {
        QCoreApplication::processEvents(); // the menu is built again after a change
        std::vector<std::string> found;
        for (QAction* item : menu->menu().actions()) {
            const std::string text = item->text().toStdString();
            found.push_back(item->isSeparator() ? "—" : item->isEnabled() ? text : "(" + text + ")");
        }
        return found;
    }
    void start(CannedServer::Answer feed) {
        server.answer = std::move(feed);
        updates = std::make_unique<UpdateChecker>(
            user, UpdateChecker::Setup{server.address("/trelk.json"), TrelkInfo::current(), std::chrono::minutes(1)});
        menu = std::make_unique<TrayMenu>(model, *updates, user, [this] { ++opened; }, std::chrono::milliseconds(0));
    }
    QAction* item(const std::string& text) {
        for (QAction* item : menu->menu().actions())
            if (item->text().toStdString() == text) return item;
        ADD_FAILURE() << "no item " << text;
        return nullptr;
    }

    OffscreenLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    CannedServer server;
    WindowModels models{user, folder, &engine, std::nullopt, {freePort()}};
    WindowModel& model = models.window;
    std::unique_ptr<UpdateChecker> updates;
    int opened = 0;
    std::unique_ptr<TrayMenu> menu;
};

TEST_F(TrayMenuTest, TheMenuShowsTheStateJobsAndCommands) {
    start([](QTcpSocket&) {}); // the check runs on
    const std::string title = "(vorlane Trelk " + TrelkInfo::current().description() + ")";
    const std::vector<std::string> commands{"Media manager…",        "Add masters…",
                                            "Open Drop here folder", "Open library folder",
                                            "(Forget paired browsers)", "—",
                                            "(Checking…)",           "—",
                                            "Quit vorlane Trelk"};
    std::vector<std::string> idle{title, "(" + model.service().status() + ")", "(Library · 0 items · 0 bytes)", "—"};
    idle.insert(idle.end(), commands.begin(), commands.end());
    EXPECT_EQ(lines(), idle) << "no job section without open jobs";
    EXPECT_EQ(item("Quit vorlane Trelk")->shortcut(), QKeySequence(QKeySequence::Quit));

    fs::create_directories(folder / "masters");
    for (const char* name : {"show.mov", "next.mov", "gone.mov", "bad.mov"}) writeFile(folder / "masters" / name, "x");
    for (const char* name : {"bad.mov", "show.mov", "next.mov", "gone.mov"})
        model.addFiles({folder / "masters" / name}, "w", "p", false);
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 4; }));
    model.cancel(model.service().jobs()[3].id);
    const std::vector<std::string> jobs{"Retry · bad.mov · unreadable", "Cancel · show.mov · making 42%",
                                        "Cancel · next.mov · waiting", "Retry · gone.mov · cancelled"};
    const auto jobLines = [&] {
        const std::vector<std::string> now = lines();
        return std::vector(now.begin() + 4, now.begin() + 8);
    };
    ASSERT_TRUE(loop.runUntil([&] { return jobLines() == jobs; })) << testing::PrintToString(lines());
    EXPECT_EQ(lines()[3], "—");
    EXPECT_EQ(lines()[8], "—");

    item("Retry · gone.mov · cancelled")->trigger();
    item("Cancel · show.mov · making 42%")->trigger();
    const std::vector<std::string> after{"Retry · bad.mov · unreadable", "Retry · show.mov · cancelled",
                                         "Cancel · next.mov · making 42%", "Cancel · gone.mov · waiting"};
    ASSERT_TRUE(loop.runUntil([&] { return jobLines() == after; })) << testing::PrintToString(lines());
}

TEST_F(TrayMenuTest, CommandsReachTheModelAndTheDesktop) {
    start(CannedServer::feed("99.0"));
    ASSERT_TRUE(loop.runUntil([&] {
        const std::vector<std::string> now = lines();
        return std::ranges::find(now, "Download 99.0.0…") + 1 == std::ranges::find(now, "Check for updates…");
    })) << testing::PrintToString(lines());
    item("Download 99.0.0…")->trigger();
    EXPECT_EQ(user.opened, std::vector<std::string>{"https://vorlane.app/trelk.deb"});
    user.opened.clear();

    ASSERT_TRUE(loop.runUntil([&] { return model.service().port().has_value(); }));
    ASSERT_EQ(askServer(*model.service().port(), "POST /trelk/pair HTTP/1.1\r\nOrigin: http://localhost:5173\r\n\r\n").status, 200);
    ASSERT_TRUE(loop.runUntil([&] { return item("Forget paired browsers")->isEnabled(); }));
    item("Forget paired browsers")->trigger();
    EXPECT_EQ(model.service().paired(), 0);
    EXPECT_EQ(lines()[8], "(Forget paired browsers)");

    const int activations = user.activations;
    item("Media manager…")->trigger();
    EXPECT_EQ(user.activations, activations + 1);
    EXPECT_EQ(opened, 1);
    item("Open Drop here folder")->trigger();
    item("Open library folder")->trigger();
    EXPECT_EQ(user.opened, (std::vector<std::string>{model.stores().queue.dropFolder(), model.service().folder()}));
    item("Quit vorlane Trelk")->trigger();
    EXPECT_EQ(user.quits, 1);
    item("Add masters…")->trigger();
    EXPECT_EQ(user.choices.size(), 1u);
}

} // namespace
