#include "app/Desktop/CleanupSheet.h"
#include "app/Desktop/DropSheet.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Projects/Projects.h"
#include "tests/support/OffscreenLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

namespace fs = std::filesystem;

namespace {

class DroppedFile : public DraggedItem {
public:
    explicit DroppedFile(const fs::path& path) : url(QUrl::fromLocalFile(QString::fromStdString(path.string()))) {}
    bool hasFileURL() const override { return true; }
    void loadFileURL(Delivery<QUrl> deliver) override { deliver(url); }
    void loadText(Delivery<std::string> deliver) override { deliver(std::nullopt); }

private:
    QUrl url;
};

class SheetsTest : public testing::Test {
protected:

    void SetUp() override { fs::create_directories(folder / "library"); }
    // The masters these tests drop are no media: the model's own engine fails them at once.
    void startModel() {
        models = std::make_unique<WindowModels>(user, folder, nullptr);
        model = &models->window;
    }
    // A plan for these masters, as a drop on the library makes it.
    void dropMasters(const std::vector<std::string>& names) {
        DraggedItems items;
        for (const std::string& name : names) {
            writeFile(folder / name, "bytes");
            items.push_back(std::make_shared<DroppedFile>(folder / name));
        }
        startModel();
        ASSERT_TRUE(model->dropMasters(items));
        ASSERT_TRUE(loop.runUntil([&] { return model->dropPlan().has_value(); }));
    }

    template <typename Widget> static Widget& child(QWidget& parent, const QString& text) {
        for (Widget* widget : parent.findChildren<Widget*>())
            if (widget->text() == text) return *widget;
        throw std::runtime_error("no " + text.toStdString());
    }
    static void press(QWidget& widget, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&widget, &down);
    }
    // Beside the test programs' folder, where the build keeps what it shows.
    static void screenshot(QWidget& sheet, const std::string& name) {
        const fs::path build = fs::path(QCoreApplication::applicationDirPath().toStdString()).parent_path();
        EXPECT_TRUE(sheet.grab().save(QString::fromStdString((build / name).string())));
    }

    static auto handles(DropSheet& sheet) {
        return std::ranges::count_if(sheet.findChildren<QLabel*>("handle"), &QWidget::isVisible);
    }
    // A drag of the file at from, let go on the upper half of the row at before, or under the last.
    static void dragFile(DropSheet& sheet, int from, int before) {
        QListWidget& list = *sheet.findChild<QListWidget*>();
        list.setCurrentRow(from);
        const QPoint at = before < list.count()
                              ? list.visualItemRect(list.item(before)).topLeft() + QPoint(4, 2)
                              : list.visualItemRect(list.item(before - 1)).bottomLeft() + QPoint(4, 4);
        std::unique_ptr<QMimeData> row(list.model()->mimeData({list.currentIndex()}));
        QDragEnterEvent enter(at, Qt::MoveAction, row.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &enter);
        QDropEvent drop(at, Qt::MoveAction, row.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &drop);
    }

    OffscreenLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    std::unique_ptr<WindowModels> models;
    WindowModel* model = nullptr;
};

} // namespace

TEST_F(SheetsTest, OnlyTheOneCueHasHandlesASetNameAndAnOrderAndCancelQueuesNothing) {
    dropMasters({"show right.mov", "show left.mov", "intro.mov"});
    DropSheet sheet(*model);
    sheet.show();
    EXPECT_TRUE(child<QPushButton>(sheet, "By name").isChecked());
    QLabel& setName = child<QLabel>(sheet, QString::fromStdString(model->dropPlan()->setName()) +
                                               " · left to right · drag to reorder");
    child<QPushButton>(sheet, "One cue").click();
    EXPECT_TRUE(setName.isVisible());
    EXPECT_EQ(handles(sheet), 3);
    EXPECT_TRUE(child<QLabel>(sheet, QString::fromStdString(sheet.plan().summary())).isVisible()) << "it follows";

    for (const char* other : {"By name", "Separate"}) {
        child<QPushButton>(sheet, other).click();
        EXPECT_FALSE(setName.isVisible()) << other;
        EXPECT_EQ(handles(sheet), 0) << other;
        dragFile(sheet, 2, 0);
        EXPECT_EQ(sheet.plan().files, model->dropPlan()->files) << other;
    }
    press(sheet, Qt::Key_Escape);
    EXPECT_EQ(model->dropPlan(), std::nullopt);
    QCoreApplication::processEvents(); // what the queue has to say, if anything
    EXPECT_TRUE(model->service().jobs().empty());
}

TEST_F(SheetsTest, MakeQueuesTheOneCueInTheOrderShown) {
    dropMasters({"show right.mov", "show left.mov", "intro.mov"});
    DropSheet sheet(*model);
    sheet.show();
    child<QPushButton>(sheet, "One cue").click();
    dragFile(sheet, 2, 0); // upwards
    dragFile(sheet, 0, 2); // downwards: before the row that stood there
    const std::vector<std::string> shown{"show left.mov", "intro.mov", "show right.mov"};
    EXPECT_EQ(sheet.plan().names(), shown);
    screenshot(sheet, "drop-sheet.png");

    press(sheet, Qt::Key_Return);
    EXPECT_EQ(model->dropPlan(), std::nullopt);
    ASSERT_TRUE(loop.runUntil([&] { return model->service().jobs().size() == 3; }));
    std::vector<std::string> queued;
    for (const Job& job : model->service().jobs()) {
        queued.push_back(job.master.filename().string());
        EXPECT_TRUE(job.set && job.set == model->service().jobs().front().set) << "one set";
    }
    EXPECT_EQ(queued, shown);
}

TEST_F(SheetsTest, TheCleanupSheetMovesNothingWithEveryGroupOffAndCancelsItsPlan) {
    writeFile(folder / "library" / "clip one.mp4", "12345");
    writeFile(folder / "library" / "clip two.mp4", "1234567");
    {
        Projects projects(folder / "service" / "projects.json");
        projects.sync({"p1", "Show", 0, {}, {}, {}});
        projects.tie({Library::id("clip two.mp4")}, "p1");
    }
    startModel();
    ASSERT_TRUE(loop.runUntil([&] { return model->service().assets().size() == 2; }));
    model->openCleanup();
    CleanupSheet sheet(*model);
    sheet.show();
    QPushButton& trash = child<QPushButton>(sheet, "Move to Trash");
    EXPECT_TRUE(child<QLabel>(sheet, "To the Trash: 5 bytes").isVisible()) << "what is switched on at first";

    child<QCheckBox>(sheet, "Only Show's").click();
    EXPECT_TRUE(child<QLabel>(sheet, "To the Trash: 12 bytes").isVisible());
    for (QToolButton* show : sheet.findChildren<QToolButton*>())
        show->click();
    EXPECT_TRUE(child<QLabel>(sheet, "7 bytes").isVisible()) << "the items of an open group";
    screenshot(sheet, "cleanup-sheet.png");

    child<QCheckBox>(sheet, "Only Show's").click();
    child<QCheckBox>(sheet, "Not used by any wall").click();
    EXPECT_TRUE(child<QLabel>(sheet, "Nothing chosen").isVisible());
    EXPECT_FALSE(trash.isEnabled());
    press(sheet, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible()) << "nothing to move";
    EXPECT_TRUE(model->cleanup() && model->cleanup()->front().on) << "the sheet edits a copy";

    child<QPushButton>(sheet, "Cancel").click();
    EXPECT_EQ(model->cleanup(), std::nullopt);
    EXPECT_TRUE(fs::exists(folder / "library" / "clip one.mp4"));
}
