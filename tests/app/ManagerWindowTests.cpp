#include "app/Desktop/CleanupSheet.h"
#include "app/Desktop/DropSheet.h"
#include "app/Desktop/ManagerWindow.h"
#include "app/Desktop/MimeItems.h"

#include "tests/support/HTTPClient.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QUrl>

namespace fs = std::filesystem;

namespace {

class ManagerWindowTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "library");
        models = std::make_unique<WindowModels>(user, folder, &engine, std::nullopt, std::vector<uint16_t>{freePort()});
        model = &models->window;
        ManagerWindow::open(window, *model, user, &commands);
    }
    void TearDown() override { delete window; }

    // Two masters dropped on the library: the model plans how they become jobs.
    void dropTwoMasters() {
        QList<QUrl> urls;
        for (const char* name : {"a.mov", "b.mov"}) {
            writeFile(folder / name, "bytes");
            urls << QUrl::fromLocalFile(QString::fromStdString((folder / name).string()));
        }
        QMimeData dragged;
        dragged.setUrls(urls);
        ASSERT_TRUE(model->dropMasters(mimeItems(dragged)));
    }
    template <typename Sheet> Sheet* shown() {
        Sheet* sheet = window ? window->findChild<Sheet*>() : nullptr;
        return sheet && sheet->isVisible() ? sheet : nullptr;
    }
    static void press(QWidget& widget, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&widget, &down);
    }

    OffscreenLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    QMenu commands;
    std::unique_ptr<WindowModels> models;
    WindowModel* model = nullptr;
    QPointer<ManagerWindow> window;
};

} // namespace

TEST_F(ManagerWindowTest, ItsPanesSitSideBySideWithTheMenuAndTheSearchKey) {
    EXPECT_EQ(window->windowTitle(), "vorlane Trelk");
    const QList<int> widths = window->findChild<QSplitter*>()->sizes();
    ASSERT_EQ(widths.size(), 2);
    EXPECT_GE(widths[0], 300);
    EXPECT_GE(widths[1], 340);
    EXPECT_TRUE(window->menuBar()->actions().contains(commands.menuAction())) << "without a tray, the menu is here";

    window->activateWindow();
    ASSERT_TRUE(loop.runUntil([&] { return QApplication::activeWindow() == window; }));
    const QList<QAction*> actions = window->actions();
    const auto find = std::ranges::find(actions, QKeySequence(QKeySequence::Find), &QAction::shortcut);
    ASSERT_NE(find, actions.end());
    (*find)->trigger();
    EXPECT_TRUE(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
}

TEST_F(ManagerWindowTest, PlansShowAsSheetsInTurnAlsoAfterTheWindowWasClosed) {
    dropTwoMasters();
    ASSERT_TRUE(loop.runUntil([&] { return shown<DropSheet>(); }));
    model->openCleanup();
    QElapsedTimer clock;
    clock.start();
    loop.runUntil([&] { return clock.elapsed() > 200; }); // past the window's next redraw
    EXPECT_FALSE(shown<CleanupSheet>()) << "one sheet at a time";
    press(*shown<DropSheet>(), Qt::Key_Escape);
    EXPECT_EQ(model->dropPlan(), std::nullopt);
    ASSERT_TRUE(loop.runUntil([&] { return shown<CleanupSheet>(); }));

    // Closed, the window goes with its sheet and the service runs on; the plan waits for it.
    window->close();
    ASSERT_TRUE(loop.runUntil([&] { return !window; }));
    EXPECT_TRUE(model->cleanup().has_value());
    EXPECT_TRUE(model->service().port().has_value());
    ManagerWindow::open(window, *model, user);
    ASSERT_TRUE(loop.runUntil([&] { return shown<CleanupSheet>(); }));
    press(*shown<CleanupSheet>(), Qt::Key_Escape);
    EXPECT_EQ(model->cleanup(), std::nullopt);
}
