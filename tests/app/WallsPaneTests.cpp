#include "app/Desktop/WallRow.h"
#include "app/Desktop/WallsPane.h"

#include "TrelkCore/Library/Library.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollArea>
#include <QToolButton>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using Look = WallRow::DragLook;

namespace {

// Two projects: "Show", open now, whose list on "Main" plays a library clip and a file the
// library lost; and "Old", seen an hour ago, which keeps three files.
class WallsPaneTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "library");
        writeFile(folder / "library" / "clip.mp4", "frames");
        const std::vector<ListItem> items{{"i1", "clip.mp4", Library::id("clip.mp4")}, {"i2", "old.mp4", "gone"}};
        post({"show", "Show", 0, {{"main", "Main", 1920, 1080, "25"}, {"side", "Side", 1280, 720, "25"}},
              WallList{"main", 1, items}, {}}, Clock::now());
        post({"old", "Old", 0, {{"led", "Lobby", 3840, 1080, "50"}}, {}, {}}, Clock::now() - 1h, {"a", "b", "c"});
        models = std::make_unique<WindowModels>(user, folder, &engine);
        model = &models->window;
        ASSERT_TRUE(loop.runUntil([&] { return model->probed().size() == 1; }));
        pane = std::make_unique<WallsPane>(*model);
        pane->resize(460, 560);
        pane->show();
    }
    void post(Project project, Clock::time_point at, const std::vector<std::string>& ties = {}) {
        Projects store(folder / "service" / "projects.json");
        store.now = [at] { return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count(); };
        store.sync(project);
        store.tie(ties, project.id);
    }
    // Main, Side, Lobby: as the pane shows them now.
    QList<WallRow*> rows() { return pane->findChild<QScrollArea*>()->widget()->findChildren<WallRow*>(); }
    std::vector<std::string> listed() {
        std::vector<std::string> ids;
        for (const ListItem& item : model->service().projects().front().list->items) ids.push_back(item.id);
        return ids;
    }
    // Waits for the model to publish the change, then redraws as the window would.
    void settle(const std::function<bool()>& changed) {
        ASSERT_TRUE(loop.runUntil(changed));
        pane->refresh();
    }
    // A drag event of this kind, at that point of the row.
    template <typename Event> static void send(QWidget& row, QMimeData& data, QPoint at) {
        Event event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&row, &event);
    }
    static QToolButton& button(QWidget& parent, const QString& name) {
        for (QToolButton* found : parent.findChildren<QToolButton*>())
            if (found->text() == name || found->objectName() == name) return *found;
        throw std::runtime_error("no " + name.toStdString());
    }

    OffscreenLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    std::unique_ptr<WindowModels> models;
    WindowModel* model = nullptr;
    std::unique_ptr<WallsPane> pane;
};

} // namespace

TEST_F(WallsPaneTest, FilesPickTheirZoneByHalfAndTwoVideosDroppedOnTheLeftBecomeOneCue) {
    QMimeData files;
    QList<QUrl> urls;
    for (const char* name : {"show left.mov", "show right.mov"}) {
        writeFile(folder / name, "bytes");
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString((folder / name).string())));
    }
    files.setUrls(urls);
    WallRow& side = *rows().at(1);
    const int middle = side.height() / 2;
    send<QDragEnterEvent>(side, files, {10, middle});
    EXPECT_EQ(side.dragLook(), Look::oneCue);
    send<QDragMoveEvent>(side, files, {side.width() - 10, middle});
    EXPECT_EQ(side.dragLook(), Look::separate);
    send<QDragMoveEvent>(side, files, {10, middle});
    EXPECT_EQ(side.dragLook(), Look::oneCue);
    send<QDropEvent>(side, files, {10, middle});
    EXPECT_EQ(side.dragLook(), Look::none);
    settle([&] { return model->service().jobs().size() == 2 && model->wallPending().size() == 1; });
    EXPECT_TRUE(model->service().jobs()[0].set && model->service().jobs()[0].set == model->service().jobs()[1].set) << "one set";

    WallRow& lobby = *rows().at(2); // the pending line on Side stays in sight
    send<QDragEnterEvent>(lobby, files, {lobby.width() - 10, 4});
    EXPECT_EQ(lobby.dragLook(), Look::separate);
    QCoreApplication::processEvents(); // the row grows to hold the zones
    const fs::path build = fs::path(QCoreApplication::applicationDirPath().toStdString()).parent_path();
    EXPECT_TRUE(pane->grab().save(QString::fromStdString((build / "walls-pane.png").string())));
}

TEST_F(WallsPaneTest, LibraryRowsShowTheOutlineAndJoinTheList) {
    QMimeData row;
    row.setText(QString::fromStdString(Library::id("clip.mp4")));
    WallRow& main = *rows().at(0);
    send<QDragEnterEvent>(main, row, {10, 10});
    EXPECT_EQ(main.dragLook(), Look::outline) << "no zones for library rows";
    send<QDragMoveEvent>(main, row, {main.width() - 10, 10});
    EXPECT_EQ(main.dragLook(), Look::outline);
    send<QDropEvent>(main, row, {10, 10});
    settle([&] { return listed().size() == 3; });
    EXPECT_EQ(model->service().projects().front().list->items.back().lib, Library::id("clip.mp4"));
}

TEST_F(WallsPaneTest, TheListButtonsMoveAndRemoveItems) {
    EXPECT_FALSE(rows().at(0)->findChildren<QToolButton*>("up").front()->isEnabled()) << "the first";
    EXPECT_FALSE(rows().at(0)->findChildren<QToolButton*>("down").back()->isEnabled()) << "the last";
    button(*rows().at(0), "down").click();
    settle([&] { return listed() == std::vector<std::string>{"i2", "i1"}; });
    button(*rows().at(0), "remove").click();
    settle([&] { return listed() == std::vector<std::string>{"i1"}; });
    EXPECT_EQ(rows().at(0)->findChildren<QToolButton*>("remove").size(), 1) << "redrawn";
}

TEST_F(WallsPaneTest, ForgetAsksOnlyWhenTheProjectKeepsFiles) {
    std::vector<QToolButton*> forgets;
    for (QToolButton* found : pane->findChildren<QToolButton*>())
        if (found->text() == "Forget") forgets.push_back(found);
    ASSERT_EQ(forgets.size(), 2u);
    forgets[1]->click(); // "Old" keeps three files
    QMessageBox* asked = pane->findChild<QMessageBox*>();
    ASSERT_NE(asked, nullptr);
    EXPECT_EQ(asked->text(), "Forget Old?");
    EXPECT_EQ(model->service().projects().size(), 2u) << "not before the answer";
    for (QAbstractButton* answer : asked->buttons())
        if (answer->text() == "Forget") answer->click();
    settle([&] { return model->service().projects().size() == 1; });

    button(*pane, "Forget").click(); // "Show" keeps none
    settle([&] { return model->service().projects().empty(); });
    EXPECT_TRUE(pane->findChild<QScrollArea*>()->isHidden());
}
