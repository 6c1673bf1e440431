#include "app/Desktop/LibraryPane.h"
#include "app/Window/TimeLeft.h"

#include "TrelkCore/Library/Library.h"
#include "tests/support/Environment.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class LibraryPaneTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "library" / "Show");
        fs::create_directories(folder / "masters");
    }
    // The library holds these files; "p1" ("Show") plays the first on its wall and keeps the second.
    void open(const std::vector<std::string>& names) {
        for (const std::string& name : names) writeFile(folder / "library" / "Show" / name, std::string(1000, 'x'));
        if (names.size() > 1) {
            WallList list{"w1", 1000, {{"i1", "played", Library::id("Show/" + names[0])}}};
            Projects projects(folder / "service" / "projects.json");
            projects.sync({"p1", "Show", 0, {{"w1", "Wall", 1920, 1080, "25"}}, list, {}});
            projects.tie({Library::id("Show/" + names[1])}, "p1");
        }
        models = std::make_unique<WindowModels>(user, folder, &engine);
        model = &models->window;
        ASSERT_TRUE(loop.runUntil([&] { return model->service().assets().size() == names.size(); }));
        pane = std::make_unique<LibraryPane>(*model, user);
        pane->resize(380, 420);
        pane->show();
    }
    fs::path master(const std::string& name) {
        writeFile(folder / "masters" / name, "x");
        return folder / "masters" / name;
    }
    QListView& list() { return *pane->findChild<QListView*>(); }
    void selectRows(const std::vector<int>& rows) {
        for (int row : rows) list().selectionModel()->select(list().model()->index(row, 0), QItemSelectionModel::Select);
    }
    std::vector<std::string> selectedNames() {
        std::vector<std::string> names;
        for (const Asset& asset : pane->selectedAssets()) names.push_back(asset.name);
        return names;
    }
    // The context menu of the row at row; it goes once the test is back in the event loop.
    QMenu& menuOf(int row) {
        emit list().customContextMenuRequested(list().visualRect(list().model()->index(row, 0)).center());
        QMenu* menu = pane->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).constLast();
        menu->deleteLater();
        return *menu;
    }
    QStringList menuTexts(int row) {
        QStringList texts;
        for (QAction* action : menuOf(row).actions()) texts << action->text();
        return texts;
    }
    // The entry of the "Projects" menu of the row at row, chosen.
    QAction& projectEntry(int row) {
        for (QAction* action : menuOf(row).actions())
            if (action->text() == "Projects") return *action->menu()->actions().at(0);
        throw std::runtime_error("no Projects menu");
    }
    static bool drop(QWidget& target, QMimeData& data) {
        QDragEnterEvent enter({20, 200}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        QDropEvent dropped({20, 200}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    }

    OffscreenLoop loop;
    TempFolder folder;
    // The Trash of the moves these tests make.
    ScopedEnvironment data{"XDG_DATA_HOME", (folder / "data").string()};
    ScriptedDesktop user;
    HeldEngine engine;
    std::unique_ptr<WindowModels> models;
    WindowModel* model = nullptr;
    std::unique_ptr<LibraryPane> pane;
};

} // namespace

TEST_F(LibraryPaneTest, AnEmptyLibrarySaysSoAndTakesDroppedFilesButNoText) {
    open({});
    EXPECT_FALSE(list().isVisible());
    EXPECT_TRUE(std::ranges::any_of(pane->findChildren<QLabel*>(), [](QLabel* label) {
        return label->isVisible() && label->text() == "Drop masters here, or into Drop here, or Add masters…";
    }));

    QMimeData text;
    text.setText("an asset id");
    EXPECT_FALSE(drop(*pane, text));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(master("intro.mov").string()))});
    EXPECT_TRUE(drop(*pane, files));
    ASSERT_TRUE(loop.runUntil([&] { return model->service().jobs().size() == 1; }));
    pane->refresh();
    EXPECT_TRUE(list().isVisible());
    EXPECT_EQ(list().model()->rowCount(), 1);
}

TEST_F(LibraryPaneTest, DeleteStopsTheSetRemovesTheFailedRowAndMovesTheAssetsOnceConfirmed) {
    open({"a.mp4", "b.mp4", "c.mp4"});
    model->addFiles({master("bad.mov")}, "w1", "p1", false);
    model->addFiles({master("show left.mov"), master("show right.mov")}, "w1", "p1", true);
    model->addFiles({master("intro.mov")}, "w1", "p1", false);
    ASSERT_TRUE(loop.runUntil([&] { return model->anyStopped() && model->service().jobs()[1].is<Job::Making>(); }));
    pane->refresh();
    ASSERT_EQ(list().model()->rowCount(), 6); // three job rows, three assets
    EXPECT_EQ(menuTexts(0), (QStringList{"Try again", "Remove"})) << "the menu key reaches a job row's buttons";
    EXPECT_EQ(menuTexts(1), QStringList{"Stop"});
    selectRows({0, 1, 3, 4});
    const fs::path build = fs::path(QCoreApplication::applicationDirPath().toStdString()).parent_path();
    EXPECT_TRUE(pane->grab().save(QString::fromStdString((build / "library-pane.png").string())));
    for (QAction* action : list().actions())
        if (action->shortcut() == QKeySequence::Delete) action->trigger();
    EXPECT_TRUE(pane->selectedAssets().empty());
    QMessageBox& box = *pane->findChild<QMessageBox*>();
    EXPECT_EQ(box.text(), "Move 2 items to the Trash?");
    ASSERT_TRUE(loop.runUntil([&] {
        return model->service().jobs().size() == 3 && model->service().jobs()[0].is<Job::Cancelled>() && model->service().jobs()[1].is<Job::Cancelled>();
    })) << "the failed row went, the set stopped whole";
    EXPECT_TRUE(model->service().jobs()[2].active()) << "what was not selected goes on";

    for (QAbstractButton* button : box.buttons())
        if (button->text() == "Move to Trash") button->click();
    EXPECT_TRUE(user.alerts.empty());
    EXPECT_FALSE(fs::exists(folder / "library" / "Show" / "a.mp4"));
    EXPECT_FALSE(fs::exists(folder / "library" / "Show" / "b.mp4"));
    EXPECT_TRUE(fs::exists(folder / "library" / "Show" / "c.mp4"));
}

TEST_F(LibraryPaneTest, TheProjectsMenuTiesAndUntiesTheSelectionWhichSurvivesARefresh) {
    open({"a.mp4", "b.mp4", "c.mp4"});
    pane->refresh();
    selectRows({1, 2});
    writeFile(folder / "library" / "Show" / "d.mp4", "x");
    model->service().rescan();
    ASSERT_TRUE(loop.runUntil([&] { return model->service().assets().size() == 4; }));
    pane->refresh();
    EXPECT_EQ(selectedNames(), (std::vector<std::string>{"b.mp4", "c.mp4"})) << "a new row rebuilds the list";

    QAction& onWalls = projectEntry(0);
    EXPECT_EQ(onWalls.text(), "✓ Show · on its walls") << "a row outside the selection is its own target";
    EXPECT_FALSE(onWalls.isEnabled());
    QAction& tie = projectEntry(2);
    EXPECT_EQ(tie.text(), "Show");
    tie.trigger();
    ASSERT_TRUE(loop.runUntil([&] { return model->service().projects()[0].files().size() == 3; }));
    pane->refresh();
    QAction& untie = projectEntry(1);
    EXPECT_EQ(untie.text(), "✓ Show");
    untie.trigger();
    ASSERT_TRUE(loop.runUntil([&] { return model->service().projects()[0].files().size() == 1; })) << "only the one played";

    const QRect last = list().visualRect(list().model()->index(3, 0));
    const QPoint trash(last.right() - 18, last.center().y());
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, trash, list().viewport()->mapToGlobal(trash), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list().viewport(), &click);
    }
    const QMessageBox* asked = pane->findChild<QMessageBox*>();
    ASSERT_NE(asked, nullptr);
    EXPECT_EQ(asked->text(), "Move d.mp4 to the Trash?");
    EXPECT_EQ(selectedNames(), (std::vector<std::string>{"b.mp4", "c.mp4"})) << "the button is no click on the row";
}

TEST(TimeLeft, SpeaksOnlyOnceAGroupHasMadeEnoughAndForgetsThoseGone) {
    auto group = [](double making, std::optional<Job::State> other = std::nullopt) {
        JobGroup made;
        made.id = "g";
        made.jobs.resize(other ? 2 : 1);
        made.jobs[0].state = Job::Making{making};
        if (other) made.jobs[1].state = *other;
        return made;
    };
    EXPECT_DOUBLE_EQ(TimeLeft::progress(group(0.5, Job::Done{})), 0.75);
    EXPECT_DOUBLE_EQ(TimeLeft::progress(group(0.5, Job::Queued{})), 0.25);

    struct Case {
        TimeLeft::Clock::duration later;
        double progress;
        std::optional<std::string> said;
    };
    const std::vector<Case> cases{
        {5s, 0.14, std::nullopt},                    // 4 % in 5 s: too little to tell
        {2s, 0.16, "About 30 seconds left"},        // 6 % in 2 s
        {10s, 0.15, "About 3 minutes left"},        // 5 % in 10 s
        {10s, 0.101, "About 2 hours left"},         // slowly, but for 10 s
        {20s, 0.1, std::nullopt},                   // no progress at all
    };
    const TimeLeft::Clock::time_point start;
    for (const Case& each : cases) {
        TimeLeft left;
        left.see({group(0.1)}, start);
        left.see({group(each.progress)}, start + each.later);
        EXPECT_EQ(left.of("g"), each.said) << each.progress;
        left.see({}, start + each.later);
        left.see({group(0.9)}, start + 2 * each.later);
        EXPECT_EQ(left.of("g"), std::nullopt) << "begun again";
    }
}
