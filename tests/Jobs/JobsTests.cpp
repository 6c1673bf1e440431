#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Library/Sets.h"
#include "tests/Jobs/JobsTesting.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/resource.h>

#include <memory>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

class JobsTest : public testing::Test {
protected:
    fs::path dropped(const std::string& name) const { return jobs->dropFolder() / name; }

    Job made(const fs::path& master, Origin origin = Origin::dropped) {
        std::optional<std::string> id = jobs->add(master, origin);
        EXPECT_TRUE(eventually([&] { return jobs->idle(); }));
        return jobWithID(*jobs, id);
    }

    json records() const { return json::parse(readFile(store), nullptr, false); }

    std::vector<std::string> hiddenInLibrary() const {
        std::vector<std::string> hidden;
        for (const fs::directory_entry& entry : fs::directory_iterator(library))
            if (entry.path().filename().string().starts_with(".")) hidden.push_back(entry.path().filename());
        return hidden;
    }

    TempFolder folder;
    fs::path library = folder / "library";
    fs::path store = folder / "service" / "masters.json";
    TestEngine engine;
    std::unique_ptr<Jobs> jobs = std::make_unique<Jobs>(library, engine, store);
};

const std::vector<std::string> mpeg4{"-c:v", "mpeg4"}; // not usable as it is: always made

TEST_F(JobsTest, ADroppedVideoIsMadeIntoItsFolderAndItsMasterKeptThenMadeAgainIntoTheSameFolder) {
    TestMedia::video(dropped("Sunrise.mp4"), 322, 182, mpeg4);
    Job job = made(dropped("Sunrise.mp4"));
    ASSERT_EQ(stateOf(job), "done");
    const fs::path kept = jobs->mastersFolder() / "Sunrise.mp4";
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(dropped("Sunrise.mp4")));
    EXPECT_EQ(records()[kept.string()]["output"], "Sunrise");
    ASSERT_TRUE(job.part);
    EXPECT_EQ(job.part->dir, "Sunrise");
    EXPECT_EQ((std::pair{job.part->w, job.part->h}), (std::pair{int64_t(322), int64_t(182)}));
    EXPECT_EQ(job.asset, Library::id("Sunrise/" + job.part->file));
    EXPECT_TRUE(fs::exists(library / "Sunrise" / job.part->file));
    EXPECT_EQ(engine.lastInto, library / (".making-" + job.id)) << "made in the folder that moves into place";

    // A new master of the same name replaces the kept one and its renditions, in the same folder.
    TestMedia::video(dropped("Sunrise.mp4"), 642, 362, mpeg4);
    job = made(dropped("Sunrise.mp4"));
    ASSERT_EQ(stateOf(job), "done");
    EXPECT_EQ(job.part->dir, "Sunrise");
    EXPECT_EQ(job.part->w, 642);
    EXPECT_FALSE(fs::exists(library / "Sunrise 2"));
    EXPECT_EQ(records().size(), 1u);
    EXPECT_EQ(hiddenInLibrary(), std::vector<std::string>{}) << "no work folder and no earlier output left";
}

TEST_F(JobsTest, AnH264MasterBrowsersCannotDecodeIsMadeAndKept) {
    // 4:4:4, as an odd-sized H.264 must be: browsers decode 4:2:0 alone.
    TestMedia::video(dropped("Odd.mp4"), 321, 181, {"-c:v", "libx264", "-pix_fmt", "yuv444p"});
    const std::string bytes = readFile(dropped("Odd.mp4"));
    const Job job = made(dropped("Odd.mp4"));
    ASSERT_EQ(stateOf(job), "done");
    EXPECT_NE(readFile(library / "Odd" / "Odd.mp4"), bytes);
    EXPECT_EQ(readFile(jobs->mastersFolder() / "Odd.mp4"), bytes) << "the master is kept";
    EXPECT_EQ(job.part, (SetPart{"Odd", "Odd.mp4", 321, 181, 0.16}));
}

TEST_F(JobsTest, AWideMasterBecomesAPackageThatNoSetLists) {
    TestMedia::video(dropped("Wide.mp4"), 7680, 64);
    const Job job = made(dropped("Wide.mp4"));
    ASSERT_EQ(stateOf(job), "done");
    EXPECT_FALSE(job.part);
    EXPECT_EQ(job.asset, Library::id("Wide/Wide.vorlane.json"));
    EXPECT_TRUE(fs::exists(library / "Wide" / "Wide.vorlane.json"));
    EXPECT_EQ(Library::scan(library).size(), 1u);
}

TEST_F(JobsTest, StillsAreUsedAsTheyAreOrConverted) {
    TestMedia::still(dropped("Logo.png"), 64, 48);
    TestMedia::still(dropped("Photo.tif"), 64, 48);
    ASSERT_EQ(stateOf(made(dropped("Logo.png"))), "done");
    EXPECT_TRUE(fs::exists(library / "Logo" / "Logo.png"));
    EXPECT_FALSE(fs::exists(dropped("Logo.png")));
    EXPECT_FALSE(fs::exists(jobs->mastersFolder())) << "a still used as it is is no kept master";

    ASSERT_EQ(stateOf(made(dropped("Photo.tif"))), "done");
    EXPECT_TRUE(fs::exists(library / "Photo" / "Photo.png"));
    const fs::path kept = jobs->mastersFolder() / "Photo.tif";
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_EQ(records()[kept.string()]["output"], "Photo");
}

TEST_F(JobsTest, AMasterAddedFromElsewhereIsCopiedAndStaysWhereItIs) {
    const fs::path master = TestMedia::video(folder / "Clip.mp4", 320, 180);
    ASSERT_EQ(stateOf(made(master, Origin::inPlace)), "done");
    EXPECT_TRUE(fs::exists(master));
    EXPECT_EQ(fs::hard_link_count(master), 1u);
    EXPECT_EQ(readFile(library / "Clip" / "Clip.mp4"), readFile(master));
    EXPECT_EQ(records()[master.string()]["output"], "Clip");
}

TEST_F(JobsTest, ALibraryWithoutRoomFailsTheJobAndLosesNothing) {
    const fs::path master = TestMedia::video(folder / "Clip.mp4", 320, 180);
    const std::string bytes = readFile(master);
    // Files may not grow past half the master: the copy runs out of room as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit tight = before;
    tight.rlim_cur = bytes.size() / 2;
    setrlimit(RLIMIT_FSIZE, &tight);
    const Job job = made(master, Origin::inPlace);
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(stateOf(job), "failed: copy: File too large");
    EXPECT_EQ(readFile(master), bytes);
    EXPECT_EQ(hiddenInLibrary(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(library / "Clip"));
}

TEST_F(JobsTest, TheQueuesOwnFolderNamesAndTakenNamesAreNeverOutputs) {
    fs::create_directories(library / "Masters 2");
    TestMedia::still(dropped("Masters.png"), 16, 16);
    TestMedia::still(dropped("Drop here.png"), 16, 16);
    EXPECT_EQ(made(dropped("Masters.png")).asset, Library::id("Masters 3/Masters.png"));
    EXPECT_EQ(made(dropped("Drop here.png")).asset, Library::id("Drop here 2/Drop here.png"));
}

TEST_F(JobsTest, ASetWithOneFailedPartListsTheTwoMadeInTheirOrder) {
    for (const char* name : {"Show left.mp4", "Show right.mp4"}) TestMedia::video(dropped(name), 320, 180);
    writeFile(dropped("Show centre.mp4"), "not a video");
    std::vector<std::optional<std::string>> ids = jobs->addAll(
        {dropped("Show right.mp4"), dropped("Show centre.mp4"), dropped("Show left.mp4")}, Origin::dropped,
        Grouping::oneCue);
    ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
    EXPECT_TRUE(stateOf(jobWithID(*jobs, ids[1])).starts_with("failed: "));
    EXPECT_TRUE(fs::exists(dropped("Show centre.mp4"))) << "a failed master stays";
    std::optional<SetManifest> manifest = SetManifest::read(library / SetName::fileName(*jobWithID(*jobs, ids[0]).set));
    ASSERT_TRUE(manifest);
    ASSERT_EQ(manifest->parts.size(), 2u);
    EXPECT_EQ(manifest->parts[0].file, "Show right.mp4");
    EXPECT_EQ(manifest->parts[1].file, "Show left.mp4");
    EXPECT_EQ(manifest->ordered, true);
    EXPECT_EQ(jobWithID(*jobs, ids[2]).setAsset, Library::id(SetName::fileName(manifest->name)));
}

TEST_F(JobsTest, FailuresAndCancelsEndAsTheySayAndLeaveTheMasterWhereItWas) {
    EXPECT_EQ(stateOf(made(dropped("Gone.mp4"))), "failed: the master isn't there any more");
    writeFile(dropped("Broken.png"), "not a picture");
    EXPECT_EQ(stateOf(made(dropped("Broken.png"))), "failed: couldn't read this picture");
    EXPECT_TRUE(fs::exists(dropped("Broken.png")));
    writeFile(dropped("Broken.mp4"), "not a movie");
    const Job broken = made(dropped("Broken.mp4"));
    EXPECT_EQ(stateOf(broken), "failed: Invalid data found when processing input") << "the reader's own words";
    EXPECT_EQ(std::get<Job::Failed>(broken.state).told,
              "couldn't read the master: Invalid data found when processing input") << "for the terminal";

    TestMedia::video(dropped("Long.mp4"), 322, 182, mpeg4);
    engine.holding = true;
    std::optional<std::string> id = jobs->add(dropped("Long.mp4"), Origin::dropped);
    ASSERT_TRUE(eventually([&] { return engine.makes == 1; }));
    jobs->cancel(*id);
    EXPECT_EQ(stateOf(jobWithID(*jobs, id)), "cancelled") << "at once";
    ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
    EXPECT_EQ(stateOf(jobWithID(*jobs, id)), "cancelled");
    EXPECT_TRUE(fs::exists(dropped("Long.mp4")));
    EXPECT_EQ(fs::hard_link_count(dropped("Long.mp4")), 1u);
    EXPECT_EQ(hiddenInLibrary(), std::vector<std::string>{});
}

TEST_F(JobsTest, QueueOperationsWhileTheFirstJobIsMaking) {
    engine.holding = true;
    std::vector<fs::path> masters;
    for (const char* name : {"a left.mp4", "a right.mp4", "b.png", "c.mp4"}) {
        masters.push_back(dropped(name));
        writeFile(masters.back(), "x");
    }
    TestMedia::video(masters[0], 322, 182, mpeg4);
    EXPECT_TRUE(jobs->addAll({}, Origin::dropped, Grouping::byName).empty());
    std::vector<std::optional<std::string>> ids = jobs->addAll(masters, Origin::dropped, Grouping::byName);
    ASSERT_TRUE(eventually([&] { return engine.makes == 1; }));
    const Job left = jobWithID(*jobs, ids[0]), right = jobWithID(*jobs, ids[1]), still = jobWithID(*jobs, ids[2]);
    EXPECT_EQ(left.batch, right.batch);
    EXPECT_EQ((std::pair{left.setIndex, right.setIndex}), (std::pair{std::optional<int64_t>(0), std::optional<int64_t>(1)}));
    EXPECT_FALSE(still.batch || still.set) << "stills never join a set";
    EXPECT_FALSE(jobWithID(*jobs, ids[3]).set);
    EXPECT_EQ(jobs->addAll({masters[3], masters[3]}, Origin::dropped, Grouping::separate),
              (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));

    jobs->cancel(*ids[3]);
    EXPECT_EQ(stateOf(jobWithID(*jobs, ids[3])), "cancelled");
    jobs->retry(*ids[3]);
    EXPECT_EQ(jobs->jobs().back().master, masters[3]);
    EXPECT_NE(jobs->jobs().back().id, *ids[3]);
    jobs->retry(jobs->jobs().back().id); // active: nothing happens
    EXPECT_EQ(jobs->jobs().size(), 4u);
}

TEST_F(JobsTest, OnlyThirtyFinishedJobsAreKeptAndProgressIsAnnouncedInHundredths) {
    jobs->setProgressPause(std::chrono::milliseconds(0));
    for (int i = 0; i < 31; ++i) made(dropped("gone " + std::to_string(i) + ".mp4"));
    EXPECT_EQ(jobs->jobs().size(), 31u) << "pruned only when a job is added";

    std::mutex shownLock;
    std::vector<double> shown;
    jobs->onChange([&] {
        for (const Job& job : jobs->jobs())
            if (const auto* making = std::get_if<Job::Making>(&job.state)) {
                std::lock_guard guard(shownLock);
                shown.push_back(making->fraction);
            }
    });
    engine.fractions = {0.004, 0.008, 0.015};
    engine.holding = true;
    TestMedia::video(dropped("Slow.mp4"), 322, 182, mpeg4);
    // Held until the start has been announced, so that the list then read still says 0.
    engine.gate.hold("make");
    std::optional<std::string> id = jobs->add(dropped("Slow.mp4"), Origin::dropped);
    EXPECT_EQ(jobs->jobs().size(), 31u);
    EXPECT_EQ(jobs->jobs().front().name(), "gone 1.mp4");
    engine.gate.release("make");
    ASSERT_TRUE(eventually([&] { return jobWithID(*jobs, id).state == Job::State(Job::Making{0.015}); }));
    jobs->cancel(*id);
    ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
    std::lock_guard guard(shownLock);
    EXPECT_EQ(shown, (std::vector<double>{0, 0.004, 0.015}));
}

TEST_F(JobsTest, ProgressWithinThePauseIsKeptButNotAnnounced) {
    jobs->setProgressPause(std::chrono::hours(1));
    std::atomic<int> told = 0;
    jobs->onChange([&] { ++told; });
    engine.fractions = {0.004, 0.5, 0.9};
    engine.holding = true;
    TestMedia::video(dropped("Slow.mp4"), 322, 182, mpeg4);
    std::optional<std::string> id = jobs->add(dropped("Slow.mp4"), Origin::dropped);
    ASSERT_TRUE(eventually([&] { return jobWithID(*jobs, id).state == Job::State(Job::Making{0.9}); }));
    EXPECT_EQ(told, 3) << "queued, started, and the first step only";
    jobs->cancel(*id);
    ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
}

TEST_F(JobsTest, StoresThatAreNotRecordsReadAsEmptyAndAreSetAside) {
    for (const std::string& bad : {std::string("[1, 2]"), std::string(R"({"/m.mp4": {"modified": 1, "output": "../x"}})")}) {
        jobs.reset();
        fs::create_directories(store.parent_path());
        writeFile(store, bad);
        jobs = std::make_unique<Jobs>(library, engine, store);
        TestMedia::still(dropped("Photo.tif"), 16, 16);
        ASSERT_EQ(stateOf(made(dropped("Photo.tif"))), "done");
        EXPECT_EQ(records().size(), 1u) << bad;
        EXPECT_EQ(readFile(fs::path(store) += ".unreadable"), bad);
        fs::remove(fs::path(store) += ".unreadable");
    }
    // A set under way that is not one, or names a part outside the library, is not taken up.
    const fs::path sets = store.parent_path() / "sets.json";
    const std::string outside = R"([{"set": "Show", "batch": "12345678", "jobs": [{"id": "j12345678", )"
                                R"("master": "/m.mov", "dropped": true, "ordered": false, )"
                                R"("part": {"dir": "..", "file": "library", "w": 16, "h": 16, "duration": 1}}]}])";
    for (const std::string& bad : {std::string(R"({"set": "Show"})"), outside}) {
        jobs.reset();
        writeFile(sets, bad);
        jobs = std::make_unique<Jobs>(library, engine, store);
        EXPECT_TRUE(jobs->jobs().empty()) << bad;
        EXPECT_EQ(readFile(sets), bad) << "kept until a save sets it aside";
    }
}

} // namespace
