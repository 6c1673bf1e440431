
#include "tests/support/EventLoop.h"
#include "tests/support/HeldEngine.h"
#include "tests/support/HTTPClient.h"
#include "tests/support/Levels.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>

#include <unistd.h>

#include <atomic>

namespace fs = std::filesystem;

namespace {

// A dragged item that answers on a later turn of the event loop, or never holds what is asked.
class Item : public DraggedItem {
public:
    static std::shared_ptr<Item> file(const fs::path& path) {
        auto item = std::make_shared<Item>();
        item->holdsFile = true;
        item->url = QUrl::fromLocalFile(QString::fromStdString(path.string()));
        return item;
    }
    static std::shared_ptr<Item> text(std::string text) {
        auto item = std::make_shared<Item>();
        item->words = std::move(text);
        return item;
    }

    bool hasFileURL() const override { return holdsFile; }
    void loadFileURL(Delivery<QUrl> deliver) override { later(std::move(deliver), url); }
    void loadText(Delivery<std::string> deliver) override { later(std::move(deliver), words); }

    bool holdsFile = false;
    std::optional<QUrl> url;
    std::optional<std::string> words;

private:
    template <typename Thing>
    static void later(Delivery<Thing> deliver, std::optional<Thing> thing) {
        QTimer::singleShot(1, [deliver, thing] { deliver(thing); });
    }
};

// Holds every making, once it has seen at which priority it runs: on its own thread, on a thread
// it starts and in a program it starts.
class PriorityEngine : public HeldEngine {
public:
    int64_t make(const fs::path& master, const MasterInfo& info, const LadderPlan& plan, const fs::path& into,
                 const Progress& progress, const Cancelled& cancelled) override {
        making = Levels::ofThread(getpid(), gettid());
        std::thread([this] { started = Levels::ofThread(getpid(), gettid()); }).join();
        program = Levels::ofProgram();
        thread = gettid();
        return HeldEngine::make(master, info, plan, into, progress, cancelled);
    }

    Levels making, started, program;
    std::atomic<pid_t> thread = 0; // the making's, once the levels above are in
};

// Counts the probes of library files (not the masters the queue makes) that came while the queue
// had work.
class WatchedEngine : public HeldEngine {
public:
    MasterInfo probe(const fs::path& master) override {
        Jobs* jobs = queue;
        if (jobs && master.parent_path().filename() == "library" && std::ranges::any_of(jobs->jobs(), &Job::active))
            ++probesAtWork;
        return HeldEngine::probe(master);
    }

    std::atomic<Jobs*> queue = nullptr;
    std::atomic<int> probesAtWork = 0;
};

class WindowModelTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder / "masters");
        fs::create_directories(folder / "library");
    }
    std::unique_ptr<WindowModels> start() {
        return std::make_unique<WindowModels>(user, folder, &engine, folder / "trelk.conf");
    }
    // "p1" with its wall "w1", as the browser posted it.
    void keepProject() {
        Projects(folder / "service" / "projects.json").sync({"p1", "Show", 0, {{"w1", "Wall", 1920, 1080, "25"}}, {}, {}});
    }
    fs::path master(const std::string& name) {
        writeFile(folder / "masters" / name, "bytes");
        return folder / "masters" / name;
    }
    // The queued jobs' file names with their set, "-" for none.
    static std::vector<std::string> queued(const WindowModel& model) {
        std::vector<std::string> found;
        for (const Job& job : model.service().jobs()) found.push_back(job.master.filename().string() + ":" + job.set.value_or("-"));
        return found;
    }

    EventLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
};

TEST_F(WindowModelTest, TheLibrarysProjectIsKeptWhileTheProjectIs) {
    keepProject();
    QSettings stored(QString::fromStdString((folder / "trelk.conf").string()), QSettings::IniFormat);
    stored.setValue("libraryProject", "gone");
    stored.sync();
    {
        auto models = start();
        WindowModel& model = models->window;
        EXPECT_EQ(model.libraryProject(), std::nullopt);
        model.setLibraryProject("p1");
    }
    stored.sync();
    EXPECT_EQ(stored.value("libraryProject").toString(), "p1");
    auto models = start();
    WindowModel& model = models->window;
    EXPECT_EQ(model.libraryProject(), "p1");
    model.setLibraryProject(std::nullopt);
    stored.sync();
    EXPECT_FALSE(stored.contains("libraryProject"));
}

TEST_F(WindowModelTest, PlainVideosAreProbedOnceAndAFailedProbeOnlyAfterItsFileChanged) {
    writeFile(folder / "library" / "clip.mp4", "bytes");
    writeFile(folder / "library" / "bad.mp4", "bytes");
    auto models = start();
    WindowModel& model = models->window;
    // Whatever changes of the assets and their facts, the revision moves with it.
    auto seen = std::tuple(model.libraryRevision(), model.service().assets(), model.probed());
    int unrevised = 0;
    QObject::connect(&model, &WindowModel::changed, [&] {
        auto now = std::tuple(model.libraryRevision(), model.service().assets(), model.probed());
        if (std::get<0>(now) == std::get<0>(seen) && now != seen) ++unrevised;
        seen = std::move(now);
    });
    ASSERT_TRUE(loop.runUntil([&] { return model.probed().size() == 1 && engine.probesOf("bad.mp4") == 1; }));
    const std::string clip = model.service().assets().at(1).id;
    EXPECT_EQ(model.probed().at(clip).w, 16);

    for (const char* name : {"clip.mp4", "bad.mp4"})
        fs::last_write_time(folder / "library" / name, fs::file_time_type::clock::now() + std::chrono::hours(1));
    writeFile(folder / "library" / "last.mp4", "bytes"); // probed after the others, one at a time
    model.service().rescan();
    ASSERT_TRUE(loop.runUntil([&] { return model.probed().size() == 2; }));
    EXPECT_EQ(engine.probesOf("bad.mp4"), 2);
    EXPECT_EQ(engine.probesOf("clip.mp4"), 1) << "its first facts stand";
    EXPECT_EQ(model.probed().at(clip).w, 16);
    EXPECT_EQ(unrevised, 0);
}

TEST_F(WindowModelTest, ALaterStartProbesOnlyWhatChangedAndNothingIsProbedWhileAJobIsAtWork) {
    for (const char* name : {"clip.mp4", "bad.mp4", "other.mp4"}) writeFile(folder / "library" / name, "bytes");
    WatchedEngine watched;
    const auto startWatched = [&] { return std::make_unique<WindowModels>(user, folder, &watched); };
    {
        auto first = startWatched();
        ASSERT_TRUE(loop.runUntil([&] { return first->window.probed().size() == 2 && watched.probesOf("bad.mp4") == 1; }));
    }
    fs::last_write_time(folder / "library" / "other.mp4", fs::file_time_type::clock::now() + std::chrono::hours(1));
    auto models = startWatched();
    WindowModel& model = models->window;
    watched.queue = &model.stores().queue;
    ASSERT_TRUE(loop.runUntil([&] { return model.probed().size() == 2 && watched.probesOf("other.mp4") == 2; }));
    EXPECT_EQ(watched.probesOf("clip.mp4"), 1);
    EXPECT_EQ(watched.probesOf("bad.mp4"), 1) << "it failed on a file that has not changed since";
    EXPECT_EQ(model.probed().at(model.service().assets().at(1).id).w, 16) << "the facts the first start found";
    EXPECT_EQ(model.probed().at(model.service().assets().at(2).id).w, 32);

    EXPECT_TRUE(model.dropMasters({Item::file(master("held.mov"))}));
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 1; }));
    writeFile(folder / "library" / "new.mp4", "bytes");
    model.service().rescan();
    ASSERT_TRUE(loop.runUntil([&] { return model.service().assets().size() == 4; }));
    // Long enough for a probe that should not start to have been made, were it started.
    QElapsedTimer waited;
    waited.start();
    loop.runUntil([&] { return waited.elapsed() > 200; });
    EXPECT_EQ(watched.probesOf("new.mp4"), 0) << "not while the queue has work";
    model.cancel(model.service().jobs().at(0).id);
    ASSERT_TRUE(loop.runUntil([&] { return model.probed().size() == 3; }));
    EXPECT_EQ(watched.probesAtWork, 0);
}

TEST_F(WindowModelTest, DropsOnTheLibrary) {
    auto models = start();
    WindowModel& model = models->window;
    auto web = Item::text("https://example.com/a.mov");
    EXPECT_FALSE(model.dropMasters({web, Item::text("clip.mov")})) << "nothing there is a file";

    auto notLocal = Item::file("x");
    notLocal->url = QUrl("https://example.com/a.mov");
    auto failing = Item::file("x");
    failing->url.reset();
    EXPECT_TRUE(model.dropMasters({notLocal, failing, Item::file(master("one.mov"))}));
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 1; }));
    EXPECT_EQ(queued(model), std::vector<std::string>{"one.mov:-"});
    EXPECT_TRUE(model.dropMasters({Item::file(master("one.mov"))}));
    EXPECT_TRUE(model.dropMasters({Item::file(master("two.mov"))}));
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 2; }));
    EXPECT_EQ(queued(model), (std::vector<std::string>{"one.mov:-", "two.mov:-"})) << "never queued twice";

    DraggedItems many;
    for (int i = 300; i > 0; --i) many.push_back(Item::file(master("part " + std::to_string(i) + ".mov")));
    EXPECT_TRUE(model.dropMasters(many));
    ASSERT_TRUE(loop.runUntil([&] { return model.dropPlan().has_value(); }));
    EXPECT_EQ(model.dropPlan()->files.size(), 300u);
    EXPECT_EQ(model.dropPlan()->files.front().filename(), "part 1.mov") << "in the order of their names";
    EXPECT_EQ(model.service().jobs().size(), 2u) << "nothing is queued before the user says how";
    DropPlan plan = *model.dropPlan();
    plan.files.resize(2);
    plan.grouping = Grouping::oneCue;
    model.confirmDrop(plan);
    EXPECT_EQ(model.dropPlan(), std::nullopt);
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 4; }));
    EXPECT_EQ(queued(model)[2], "part 1.mov:part");
}

TEST_F(WindowModelTest, FilesDroppedOnAWallAreGroupedAndNamedByWhatTheyMake) {
    struct Case {
        std::vector<std::string> files;
        bool oneCue;
        std::vector<std::string> jobs;
        std::string name;
    };
    const std::vector<Case> cases{
        {{"a right.mov", "still.png", "a left.mov"}, true, {"a left.mov:a", "a right.mov:a", "still.png:-"},
         "2 videos + 1 still"},
        {{"show right.mov", "show left.mov"}, true, {"show left.mov:show", "show right.mov:show"}, "show"},
        {{"lone left.mov"}, true, {"lone left.mov:-"}, "lone left.mov"},
        {{"x left.mov", "x right.mov"}, false, {"x left.mov:-", "x right.mov:-"}, "2 videos"},
    };
    for (const Case& test : cases) {
        TempFolder service;
        WindowModels models(user, service, &engine);
        WindowModel& model = models.window;
        DraggedItems items;
        for (const std::string& name : test.files) items.push_back(Item::file(master(name)));
        model.dropFiles(items, "w1", "p1", test.oneCue);
        ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == test.files.size(); })) << test.name;
        std::vector<std::string> jobs = queued(model);
        std::ranges::sort(jobs);
        EXPECT_EQ(jobs, test.jobs) << test.name;
        ASSERT_EQ(model.wallPending().size(), 1u);
        EXPECT_EQ(model.wallPending()[0].name, test.name);
        EXPECT_EQ(model.wallPending()[0].wall, "w1");
    }
}

TEST_F(WindowModelTest, ChosenMastersAreQueuedAndTiedToTheLibrarysProjectOnly) {
    keepProject();
    auto models = start();
    WindowModel& model = models->window;
    model.addMasters();
    EXPECT_EQ(user.activations, 1);
    ASSERT_EQ(user.choices.size(), 1u);
    EXPECT_EQ(user.choices[0].confirm, "Add");
    EXPECT_EQ(user.choices[0].extensions, WindowModel::masterKinds());
    EXPECT_TRUE(model.service().jobs().empty()) << "cancelled";

    user.chosen = {{master("a left.mov"), master("a right.mov")}};
    model.addMasters();
    EXPECT_TRUE(model.wallPending().empty()) << "no project shown";
    model.setLibraryProject("p1");
    user.chosen = {{master("b.mov")}};
    model.addMasters();
    ASSERT_EQ(model.wallPending().size(), 1u);
    EXPECT_EQ(model.wallPending()[0].wall, "");
    user.chosen = {{master("c left.mov"), master("c right.mov")}};
    model.add({}, "w1", "p1");
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 5; }));
    std::vector<std::string> jobs = queued(model);
    EXPECT_EQ(std::vector(jobs.begin(), jobs.begin() + 2), (std::vector<std::string>{"a left.mov:a", "a right.mov:a"}));
    EXPECT_EQ(std::vector(jobs.begin() + 3, jobs.end()), (std::vector<std::string>{"c left.mov:-", "c right.mov:-"}))
        << "a wall's own chooser makes separate cues";
}

TEST_F(WindowModelTest, StoppingAndDismissingWorkOnWholeSets) {
    auto models = start();
    WindowModel& model = models->window;
    model.dropFiles({Item::file(master("bad.mov"))}, "w1", "p1", false);
    model.dropFiles({Item::file(master("s left.mov")), Item::file(master("s right.mov"))}, "w1", "p1", true);
    ASSERT_TRUE(loop.runUntil([&] {
        return model.service().jobs().size() == 3 && model.anyStopped() && model.service().jobs()[1].is<Job::Making>();
    }));
    const uint64_t revision = model.libraryRevision();
    model.dismiss(JobGroup::of(model.service().jobs()));
    ASSERT_TRUE(loop.runUntil([&] { return model.service().jobs().size() == 2; }));
    EXPECT_EQ(queued(model), (std::vector<std::string>{"s left.mov:s", "s right.mov:s"})) << "the running set stays";
    EXPECT_EQ(model.wallPending().size(), 1u) << "the failed job's addition is settled";

    model.cancel(model.service().jobs()[1].id);
    ASSERT_TRUE(loop.runUntil([&] {
        return std::ranges::all_of(model.service().jobs(), [](const Job& job) { return job.is<Job::Cancelled>(); });
    }));
    EXPECT_TRUE(model.anyStopped());
    EXPECT_TRUE(model.wallPending().empty());
    EXPECT_EQ(model.libraryRevision(), revision) << "jobs alone leave the library's asset rows be";
}

TEST_F(WindowModelTest, LibraryRowsDroppedOnAWallJoinItsList) {
    keepProject();
    writeFile(folder / "library" / "clip.mp4", "bytes");
    auto models = start();
    WindowModel& model = models->window;
    ASSERT_TRUE(loop.runUntil([&] { return model.service().assets().size() == 1; }));
    auto silent = Item::text("x");
    silent->words.reset();
    model.drop({Item::text("no such asset"), silent, Item::text(model.service().assets()[0].id)}, "w1", "p1");
    ASSERT_TRUE(loop.runUntil([&] { return model.service().projects().at(0).list.has_value(); }));
    ASSERT_EQ(model.service().projects()[0].list->items.size(), 1u);
    EXPECT_EQ(model.service().projects()[0].list->items[0].lib, model.service().assets()[0].id);
}

TEST_F(WindowModelTest, TheMakingYieldsToTheServiceWhichKeepsItsPriority) {
    const Levels normal = Levels::ofThread(getpid(), gettid());
    const Levels background = Levels::background(normal);
    PriorityEngine making;
    WindowModels models(user, folder, &making, std::nullopt, {freePort()});
    WindowModel& model = models.window;
    ASSERT_TRUE(loop.runUntil([&] { return model.service().port().has_value(); }));
    EXPECT_TRUE(model.dropMasters({Item::file(master("clip.mov"))}));
    ASSERT_TRUE(loop.runUntil([&] { return making.thread != 0; }));
    EXPECT_EQ(making.making, background);
    EXPECT_EQ(making.started, background) << "encoders' threads";
    EXPECT_EQ(making.program, background) << "ffmpeg and ffprobe";

    // The server answers while the making runs; it and every other thread keep their priority.
    EXPECT_EQ(askServer(*model.service().port(), "GET /trelk/hello HTTP/1.1\r\n\r\n").status, 200);
    std::map<pid_t, Levels> others = Levels::ofThreads(getpid());
    others.erase(making.thread);
    for (const auto& [thread, levels] : others) EXPECT_EQ(levels, normal) << "thread " << thread;
    EXPECT_GE(others.size(), 3u) << "the main thread, the server's and its disk queue's at least";
}

} // namespace
