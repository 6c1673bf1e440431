#include "app/Window/LibraryRows.h"

#include "app/Window/LibraryListModel.h"


#include "TrelkCore/Library/Library.h"
#include "tests/support/EventLoop.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QMimeData>

#include <unicode/locid.h>
#include <unicode/timezone.h>

namespace fs = std::filesystem;
using std::chrono::system_clock;

namespace {

Asset asset(const std::string& id, int64_t bytes) {
    Asset made;
    made.id = id;
    made.name = id;
    made.bytes = bytes;
    made.modified = system_clock::from_time_t(1772582400); // 2026-03-04
    return made;
}

class LibraryRowsTest : public testing::Test {
protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
        fs::create_directories(folder / "library" / "Show");
        fs::create_directories(folder / "masters");
    }
    // The library's three assets, and "p1" ("Show") with its wall "w1" playing the first and
    // keeping the second.
    WindowModel* open(const std::vector<std::string>& names) {
        for (const std::string& name : names) writeFile(folder / "library" / "Show" / name, std::string(1000, 'x'));
        WallList list{"w1", 1000, {{"i1", "played", Library::id("Show/" + names[0])}}};
        Projects(folder / "service" / "projects.json").sync({"p1", "Show", 0, {{"w1", "Wall", 1920, 1080, "25"}}, list, {}});
        models = std::make_unique<WindowModels>(user, folder, &engine);
        WindowModel* model = &models->window;
        model->stores().projects.tie({Library::id("Show/" + names[1])}, "p1");
        EXPECT_TRUE(EventLoop::runUntil([&] {
            return model->service().assets().size() == 3 && model->service().projects().at(0).files().size() == 2;
        }));
        return model;
    }

    EventLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    std::unique_ptr<WindowModels> models;
};

TEST_F(LibraryRowsTest, AProjectAndASearchNarrowTheRowsAndTheirCaption) {
    WindowModel* model = open({"Alpha.mp4", "Gamma.mp4", "beta.mp4"});
    EXPECT_EQ(LibraryRows::of(*model, "").summary, model->service().librarySummary());
    model->setLibraryProject("p1");
    LibraryRows rows = LibraryRows::of(*model, "");
    EXPECT_EQ(rows.shown.size(), 2u);
    EXPECT_EQ(rows.summary, "2 items · 2 KB");
    rows = LibraryRows::of(*model, " \n GAM\t");
    ASSERT_EQ(rows.shown.size(), 1u);
    EXPECT_EQ(rows.shown[0].name, "Gamma.mp4");
    EXPECT_EQ(rows.summary, "1 item · 1 KB");
    EXPECT_EQ(LibraryRows::of(*model, "beta").emptyText, "Nothing matches") << "the search comes after the project";
    model->stores().projects.untie({rows.shown[0].id}, "p1");
    ASSERT_TRUE(EventLoop::runUntil([&] { return LibraryRows::of(*model, "").shown.size() == 1; }));
    EXPECT_EQ(LibraryRows::of(*model, "").shown[0].name, "Alpha.mp4");
}

TEST_F(LibraryRowsTest, TheDeleteCommandStopsSetsRemovesEndedRowsAndAsksForTheAssets) {
    WindowModel* model = open({"a.mp4", "b.mp4", "c.mp4"});
    for (const char* name : {"bad.mov", "s left.mov", "s right.mov"}) writeFile(folder / "masters" / name, "x");
    model->addFiles({folder / "masters" / "bad.mov"}, "w1", "p1", false);
    model->addFiles({folder / "masters" / "s left.mov", folder / "masters" / "s right.mov"}, "w1", "p1", true);
    ASSERT_TRUE(EventLoop::runUntil([&] { return model->anyStopped() && model->service().jobs()[1].is<Job::Making>(); }));
    std::set<std::string> selection;
    for (const JobGroup& group : JobGroup::of(model->service().jobs())) selection.insert(LibraryRows::tag(group));
    for (const Asset& asset : std::vector(model->service().assets().begin(), model->service().assets().begin() + 2))
        selection.insert(LibraryRows::tag(asset));

    const std::vector<Asset> removing = LibraryRows::deleteSelection(*model, selection);
    ASSERT_EQ(removing.size(), 2u);
    EXPECT_EQ(LibraryRows::trashTitle(removing), "Move 2 items to the Trash?");
    EXPECT_EQ(LibraryRows::trashMessage(*model, removing), "In use · Show · Wall");
    EXPECT_EQ(LibraryRows::trashMessage(*model, {removing[1]}), "The file goes to the Trash.");
    ASSERT_TRUE(EventLoop::runUntil([&] {
        return model->service().jobs().size() == 2 && std::ranges::all_of(model->service().jobs(), &Job::is<Job::Cancelled>);
    })) << "the failed row went, the set stopped whole";

    const std::vector<LibraryRows::ProjectEntry> entries{{"p1", "✓ Show · on its walls", false, false}};
    EXPECT_EQ(LibraryRows::projectEntries(model->service().projects(), {removing[0]}), entries);
    EXPECT_EQ(LibraryRows::projectEntries(model->service().projects(), removing)[0].title, "✓ Show") << "both kept";
    EXPECT_EQ(LibraryRows::projectEntries(model->service().projects(), model->service().assets())[0].title, "Show");
}

TEST_F(LibraryRowsTest, AJobThatChangesRedrawsItsOwnRowOnly) {
    WindowModel* model = open({"a.mp4", "b.mp4", "c.mp4"});
    writeFile(folder / "masters" / "one.mov", "x");
    ASSERT_TRUE(EventLoop::runUntil([&] { return model->probed().size() == 3; })) << "probes wait for no making";
    model->addFiles({folder / "masters" / "one.mov"}, "w1", "p1", false);
    const std::vector<Job>& jobs = model->service().jobs();
    ASSERT_TRUE(EventLoop::runUntil([&] { return !jobs.empty() && jobs[0].is<Job::Making>(); }));
    LibraryListModel list;
    list.update(LibraryRows::of(*model, ""), model->probed());
    ASSERT_EQ(list.rowCount(), 4);
    EXPECT_EQ(list.data(list.index(1), LibraryListModel::DetailRole).toString().toStdString(),
              LibraryRows::detail(model->service().assets()[0], model->probed().at(model->service().assets()[0].id)));
    int resets = 0;
    std::vector<int> changed;
    QObject::connect(&list, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&list, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from) { changed.push_back(from.row()); });

    model->cancel(model->service().jobs()[0].id);
    ASSERT_TRUE(EventLoop::runUntil([&] { return model->service().jobs()[0].is<Job::Cancelled>(); }));
    list.update(LibraryRows::of(*model, ""), model->probed());
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(changed, std::vector<int>{0});
    EXPECT_TRUE(list.data(list.index(0), LibraryListModel::StoppedRole).toBool());
    std::unique_ptr<QMimeData> dragged(list.mimeData({list.index(3), list.index(0), list.index(1)}));
    EXPECT_EQ(dragged->text().toStdString(), model->service().assets()[0].id + "\n" + model->service().assets()[2].id)
        << "assets only, in the order shown";
    EXPECT_FALSE(list.flags(list.index(0)) & Qt::ItemIsDragEnabled);
    list.update(LibraryRows::of(*model, "b.mp4"), model->probed());
    EXPECT_EQ(resets, 1) << "other rows: the list is built again";
}

TEST(LibraryRowsTexts, TheDetailOfEachKindOfAsset) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    Asset set = asset("set", 2'400'000);
    set.parts = {{"l.mp4", "l", 1920, 1080, 2}, {"r.mp4", "r", 1920, 1080, 2}};
    set.fps = 25;
    Asset package = asset("package", 1000);
    package.master = {{3840, 2160}};
    Asset still = asset("still", 1000);
    still.still = {{640, 480}};
    still.fps = 25;
    MasterInfo probed;
    probed.w = 1280;
    probed.h = 720;
    probed.fps = 30000.0 / 1001;
    probed.duration = 65;
    probed.codec = "avc1";
    EXPECT_EQ(LibraryRows::detail(set, std::nullopt), "Set · 2 parts · 1920×1080 + 1920×1080 · 25 fps · 2.4 MB · Mar 4");
    EXPECT_EQ(LibraryRows::detail(package, std::nullopt), "3840 × 2160 · 0 strips · 1 KB · Mar 4");
    EXPECT_EQ(LibraryRows::detail(still, probed), "Still · 640 × 480 · 1 KB · Mar 4") << "a still has no rate";
    EXPECT_EQ(LibraryRows::detail(asset("clip", 1000), probed), "1280 × 720 · H.264 · 29.97 fps · 1:05 · 1 KB · Mar 4");
    EXPECT_NE(LibraryRows::help(asset("clip", 1000), probed).find("1:05"), std::string::npos);
    probed.fps = 0;
    EXPECT_EQ(LibraryRows::detail(asset("clip", 1000), probed), "1280 × 720 · H.264 · 1:05 · 1 KB · Mar 4")
        << "a probe that found no rate names none";
}

} // namespace
