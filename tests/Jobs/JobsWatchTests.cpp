#include "TrelkCore/Jobs/Jobs.h"

#include "tests/Jobs/JobsTesting.h"
#include "tests/support/StepGate.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The watch with a clock of the test's own; creation dates the file system cannot be told are
// told to the queue.
class JobsWatchTest : public testing::Test {
protected:
    Jobs::Senses senses() {
        Jobs::Senses senses;
        senses.now = [this] {
            std::lock_guard guard(lock);
            return now;
        };
        senses.facts = [this](const fs::path& file) {
            std::optional<Files::Facts> facts = Files::facts(file);
            std::lock_guard guard(lock);
            if (facts && created.contains(file)) facts->created = created[file];
            return facts;
        };
        senses.reached = [this](std::string_view step) { gate.reached(step); };
        return senses;
    }

    void start() { jobs = std::make_unique<Jobs>(library, engine, folder / "service" / "masters.json", senses()); }

    fs::path dropped(const std::string& name, std::chrono::seconds old, std::string_view bytes = "x") {
        const fs::path file = jobs->dropFolder() / name;
        writeFile(file, bytes);
        age(file, old);
        return file;
    }
    // Changed that long before the test's now.
    void age(const fs::path& file, std::chrono::seconds old) {
        fs::last_write_time(file, fs::file_time_type::clock::from_sys(now - old));
    }

    void passes(int count = 1) {
        for (int i = 0; i < count; ++i) jobs->watch();
        ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
    }
    void later(std::chrono::seconds seconds) {
        std::lock_guard guard(lock);
        now += seconds;
    }

    size_t jobsFor(const fs::path& file) const {
        return size_t(std::ranges::count(jobs->jobs(), file, &Job::master));
    }

    TempFolder folder;
    fs::path library = folder / "library";
    TestEngine engine;
    std::mutex lock;
    Jobs::Time now = std::chrono::time_point_cast<Jobs::Time::duration>(std::chrono::system_clock::now());
    std::map<fs::path, Jobs::Time> created;
    StepGate gate;
    std::unique_ptr<Jobs> jobs;
};

TEST_F(JobsWatchTest, AFileIsQueuedOnlyOnceItHasSettled) {
    start();
    const fs::path settled = dropped("settled.mp4", 60s), recent = dropped("recent.mp4", 10s);
    const fs::path placeholder = dropped("copying.mp4", 60s);
    created[placeholder] = Jobs::Time(std::chrono::seconds(443779200 + 3600));
    std::vector<fs::path> never{dropped("download.mp4.part", 60s), dropped("page.crdownload", 60s),
                                dropped("empty.mp4", 60s, ""), dropped(".hidden.mp4", 60s), dropped("notes.txt", 60s)};
    fs::create_directory(jobs->dropFolder() / "folder.mp4");

    passes();
    EXPECT_EQ(jobsFor(settled), 0u) << "seen for the first time";
    passes();
    EXPECT_EQ(jobsFor(settled), 1u);
    EXPECT_TRUE(jobs->jobs().front().dropped());
    EXPECT_EQ(jobsFor(recent), 0u) << "changed 10 s ago";
    later(20s);
    passes(3);
    EXPECT_EQ(jobsFor(recent), 1u);
    EXPECT_EQ(jobsFor(settled), 1u) << "failed, and left alone while unchanged";
    EXPECT_EQ(jobs->jobs().size(), 2u) << "nothing else, however long it stays";
}

TEST_F(JobsWatchTest, ACancelledOrDismissedFileWaitsUntilItChangesAlsoAfterARestart) {
    start();
    const fs::path file = dropped("bad.mp4", 60s);
    passes(2);
    ASSERT_EQ(jobsFor(file), 1u);
    age(file, 40s); // touched
    passes(2);
    EXPECT_EQ(jobsFor(file), 2u) << "queued again once the change settled";

    jobs->clearFailed();
    EXPECT_EQ(jobs->jobs().size(), 0u);
    jobs.reset();
    start();
    passes(3);
    EXPECT_EQ(jobsFor(file), 0u) << "the dismissal outlives the service";
    fs::remove(file);
    passes();
    EXPECT_EQ(readFile(folder / "service" / "dismissed.json"), "{}") << "its mark goes with the file";
}

TEST_F(JobsWatchTest, FilesThatSettleTogetherFormOneSetAndOverlappingPassesQueueOnce) {
    start();
    engine.holding = true;
    const fs::path left = dropped("Show left.mp4", 60s), right = dropped("Show right.mp4", 60s);
    jobs->watch();
    std::thread other([&] { jobs->watch(); });
    jobs->watch();
    other.join();
    EXPECT_EQ(jobsFor(left), 1u);
    EXPECT_EQ(jobsFor(right), 1u);
    const std::vector<Job> queued = jobs->jobs();
    EXPECT_TRUE(queued[0].batch && queued[0].batch == queued[1].batch);
    for (const Job& job : queued) jobs->cancel(job.id);
}

TEST_F(JobsWatchTest, AnEditedKeptMasterIsMadeAgainIntoItsFolder) {
    start();
    const fs::path master = jobs->dropFolder() / "Sunrise.mov";
    TestMedia::video(master, 160, 90, {"-c:v", "mpeg4"});
    age(master, 60s);
    passes(2);
    const fs::path kept = jobs->mastersFolder() / "Sunrise.mov";
    ASSERT_TRUE(fs::exists(kept));
    later(120s);
    age(kept, 60s);
    passes(2);
    ASSERT_EQ(jobsFor(kept), 1u);
    const Job again = jobs->jobs().back();
    EXPECT_FALSE(again.dropped());
    EXPECT_EQ(stateOf(again), "done");
    EXPECT_EQ(again.part->dir, "Sunrise");
    EXPECT_FALSE(fs::exists(library / "Sunrise 2"));
    passes(2);
    EXPECT_EQ(jobsFor(kept), 1u) << "its record has the new date";
}

// A pass lists the master while its making is about to end; the making ends before the pass
// decides. The master is not queued again: first a dropped one, then the kept one edited.
TEST_F(JobsWatchTest, AMakingThatEndsWhileAPassListsIsNotQueuedAgain) {
    start();
    const fs::path master = jobs->dropFolder() / "Sunrise.mov", kept = jobs->mastersFolder() / "Sunrise.mov";
    TestMedia::video(master, 160, 90, {"-c:v", "mpeg4"});
    age(master, 60s);
    const auto endsWhileListed = [&](const std::function<void()>& change) {
        gate.hold("placed");
        change();
        jobs->watch();
        jobs->watch();
        ASSERT_TRUE(gate.awaited("placed"));
        gate.hold("listed");
        std::thread pass([&] { jobs->watch(); });
        ASSERT_TRUE(gate.awaited("listed"));
        gate.release("placed");
        ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
        gate.release("listed");
        pass.join();
    };
    endsWhileListed([] {});
    EXPECT_EQ(jobsFor(master), 1u);
    EXPECT_TRUE(fs::exists(kept));
    endsWhileListed([&] {
        later(120s);
        age(kept, 60s);
    });
    EXPECT_EQ(jobsFor(kept), 1u);
    passes(2);
    for (const Job& job : jobs->jobs()) EXPECT_EQ(stateOf(job), "done") << job.name();
    EXPECT_EQ(jobs->jobs().size(), 2u);
}

// Cancelled past its last chance to stop, the making goes on to the end: meanwhile its master
// is still the making's, not a new drop.
TEST_F(JobsWatchTest, AMasterWhoseMakingIsBeingStoppedIsNotQueuedAgain) {
    start();
    const fs::path master = jobs->dropFolder() / "Dusk.mov";
    TestMedia::video(master, 160, 90, {"-c:v", "mpeg4"});
    age(master, 60s);
    gate.hold("placed");
    jobs->watch();
    jobs->watch();
    ASSERT_TRUE(gate.awaited("placed"));
    jobs->cancel(jobs->jobs().front().id);
    jobs->watch();
    gate.release("placed");
    ASSERT_TRUE(eventually([&] { return jobs->idle(); }));
    ASSERT_EQ(jobsFor(master), 1u);
    EXPECT_EQ(stateOf(jobs->jobs().front()), "done");
}

TEST_F(JobsWatchTest, ADropFolderThatIsAFileGivesNothing) {
    start();
    fs::remove(jobs->dropFolder());
    writeFile(jobs->dropFolder(), "a file");
    passes(2);
    EXPECT_TRUE(jobs->jobs().empty());
}

// Through a linked "Drop here" the watch would move files from outside into the library.
TEST_F(JobsWatchTest, ALinkedDropFolderIsNotWatched) {
    start();
    TempFolder outside;
    writeFile(outside / "victim.mov", "an hour old");
    fs::last_write_time(outside / "victim.mov", fs::file_time_type::clock::from_sys(now - 3600s));
    fs::remove(jobs->dropFolder());
    fs::create_directory_symlink(outside.path(), jobs->dropFolder());
    passes(2);
    EXPECT_TRUE(jobs->jobs().empty());
    EXPECT_EQ(readFile(outside / "victim.mov"), "an hour old");
}

// A file in "Masters" that no record kept is the user's: never replaced, and never through a link.
TEST_F(JobsWatchTest, AKeptMasterNeverReplacesAFileItDidNotKeep) {
    start();
    TestMedia::video(jobs->dropFolder() / "clip.mov", 160, 90, {"-c:v", "mpeg4"});
    age(jobs->dropFolder() / "clip.mov", 60s);
    fs::create_directories(jobs->mastersFolder());
    writeFile(jobs->mastersFolder() / "clip.mov", "the user's own");
    passes(2);
    EXPECT_EQ(readFile(jobs->mastersFolder() / "clip.mov"), "the user's own");
    EXPECT_TRUE(fs::exists(jobs->mastersFolder() / "clip 2.mov"));
    for (const KeptMaster& kept : jobs->keptMasters())
        EXPECT_EQ(kept.output, kept.url.filename() == "clip 2.mov" ? std::optional<std::string>("clip") : std::nullopt);

    TempFolder documents;
    writeFile(documents / "take.mov", "the user's own");
    fs::remove_all(jobs->mastersFolder());
    fs::create_directory_symlink(documents.path(), jobs->mastersFolder());
    TestMedia::video(jobs->dropFolder() / "take.mov", 160, 90, {"-c:v", "mpeg4"});
    age(jobs->dropFolder() / "take.mov", 60s);
    passes(2);
    ASSERT_EQ(jobsFor(jobs->dropFolder() / "take.mov"), 1u);
    EXPECT_EQ(stateOf(jobs->jobs().back()), "failed: won't keep masters in a linked folder · make Masters a folder of its own");
    EXPECT_EQ(readFile(documents / "take.mov"), "the user's own");
    EXPECT_EQ(std::distance(fs::directory_iterator(documents.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(jobs->dropFolder() / "take.mov"));
    EXPECT_TRUE(jobs->keptMasters().empty());

    // The record of "clip 2.mov" now names a file of the linked folder: it is not made again.
    later(120s);
    TestMedia::video(documents / "clip 2.mov", 160, 90, {"-c:v", "mpeg4"});
    age(documents / "clip 2.mov", 60s);
    passes(2);
    EXPECT_EQ(jobsFor(jobs->mastersFolder() / "clip 2.mov"), 0u);
}

} // namespace
