#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Library/Sets.h"

#include "tests/Jobs/JobsTesting.h"
#include "tests/support/Child.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

struct Road {
    std::string master;
    std::function<void(const fs::path&)> make;
    std::string output; // the folder its renditions go to
    bool kept;          // the master is kept in "Masters"
};

void PrintTo(const Road& road, std::ostream* out) { *out << road.master; }

const std::vector<Road> roads{
    {"Sunrise.mov", [](const fs::path& file) { TestMedia::video(file, 160, 90, {"-c:v", "mpeg4"}); }, "Sunrise", true},
    {"Phone.mp4", [](const fs::path& file) { TestMedia::video(file, 160, 90); }, "Phone", false}, // used as it is
    {"Photo.tif", [](const fs::path& file) { TestMedia::still(file, 32, 24); }, "Photo", true},
};

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::ranges::sort(names);
    return names;
}

class JobsCrashTest : public testing::TestWithParam<std::tuple<Road, std::string>> {
protected:
    // A service that makes the dropped master, killed when the making reaches the step.
    void killedAt(const std::string& step) {
        Child child(TRELK_CRASH_CHILD, {step, library.string(), store.string(), master.string()});
        EXPECT_EQ(child.readLine(), "reached");
        child.signal(SIGKILL);
        child.wait();
    }

    TempFolder folder;
    fs::path library = folder / "library";
    fs::path store = folder / "service" / "masters.json";
    fs::path master = library / "Drop here" / std::get<0>(GetParam()).master;
};

TEST_P(JobsCrashTest, AKillAtAnyStepLosesNothingAndTheRestartMakesItOnce) {
    const auto& [road, step] = GetParam();
    fs::create_directories(master.parent_path());
    road.make(master);
    const std::string bytes = readFile(master);
    killedAt(step);

    TestEngine engine;
    Jobs::Senses senses;
    senses.now = [] { return std::chrono::system_clock::now() + std::chrono::hours(1); };
    Jobs jobs(library, engine, store, senses);
    for (const std::string& name : entries(library)) EXPECT_FALSE(name.starts_with(".")) << name << " left";
    const fs::path kept = jobs.mastersFolder() / road.master, own = library / road.output / road.master;
    EXPECT_TRUE(readFile(master) == bytes || readFile(kept) == bytes || readFile(own) == bytes) << "lost";

    jobs.watch();
    jobs.watch();
    ASSERT_TRUE(eventually([&] { return jobs.idle(); }));
    EXPECT_EQ(entries(jobs.dropFolder()), std::vector<std::string>{});
    std::vector<std::string> expected{"Drop here", road.output};
    if (road.kept) expected.push_back("Masters");
    std::ranges::sort(expected);
    EXPECT_EQ(entries(library), expected) << "made once, into one folder";
    EXPECT_EQ(readFile(road.kept ? kept : own), bytes);
    if (road.kept) {
        EXPECT_EQ(json::parse(readFile(store))[kept.string()]["output"], road.output);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRoadAndStep, JobsCrashTest,
                         testing::Combine(testing::ValuesIn(roads), testing::Values("made", "recorded", "placed")),
                         [](const auto& info) {
                             return fs::path(std::get<0>(info.param).master).stem().string() + "_" +
                                    std::get<1>(info.param);
                         });

// Two parts of one set dropped together, the service killed between them.
class JobsSetCrashTest : public testing::TestWithParam<std::string> {
protected:
    TempFolder folder;
    fs::path library = folder / "library";
    fs::path store = folder / "service" / "masters.json";
    fs::path drop = library / "Drop here";
};

TEST_P(JobsSetCrashTest, TheRestartFinishesTheSet) {
    fs::create_directories(drop);
    std::vector<std::string> arguments{GetParam(), library.string(), store.string()};
    for (const std::string name : {"Show_left.mov", "Show_right.mov"}) {
        TestMedia::video(drop / name, 160, 90, {"-c:v", "mpeg4"});
        arguments.push_back((drop / name).string());
    }
    Child child(TRELK_CRASH_CHILD, arguments);
    EXPECT_EQ(child.readLine(), "reached");
    child.signal(SIGKILL);
    child.wait();

    TestEngine engine;
    Jobs::Senses senses;
    senses.now = [] { return std::chrono::system_clock::now() + std::chrono::hours(1); };
    Jobs jobs(library, engine, store, senses);
    jobs.watch();
    jobs.watch();
    ASSERT_TRUE(eventually([&] { return jobs.idle(); }));
    const std::string manifest = SetName::fileName("Show");
    EXPECT_EQ(entries(library), (std::vector<std::string>{"Drop here", "Masters", manifest, "Show_left", "Show_right"}));
    std::optional<SetManifest> set = SetManifest::read(library / manifest);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->parts.size(), 2u);
    EXPECT_EQ(set->parts[0].dir, "Show_left");
    EXPECT_EQ(set->parts[1].dir, "Show_right");
    for (const SetPart& part : set->parts) EXPECT_TRUE(fs::exists(library / part.dir / part.file)) << part.file;
    EXPECT_EQ(readFile(folder / "service" / "sets.json"), "[]") << "nothing left under way";
}

// While the second part is made; once the first is in place, before its master moves; once both
// are made, before the manifest is written.
INSTANTIATE_TEST_SUITE_P(BetweenTwoParts, JobsSetCrashTest, testing::Values("made#2", "placed#1", "ended#2"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::ranges::replace(name, '#', '_');
                             return name;
                         });

TEST(JobsLeftovers, AnEarlierOutputMovedAsideGoesBackOrGoes) {
    TempFolder folder;
    const fs::path library = folder / "library";
    const std::string uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    for (const std::string& name : std::vector<std::string>{".old-" + uuid + "-Swapped", "Swapped", ".old-" + uuid + "-Interrupted", ".making-j12345678"})
        fs::create_directories(library / name);
    writeFile(library / (".old-" + uuid + "-Swapped") / "Swapped.mp4", "earlier");
    writeFile(library / "Swapped" / "Swapped.mp4", "newer");
    writeFile(library / (".old-" + uuid + "-Interrupted") / "Interrupted.mp4", "earlier");
    writeFile(library / ".making-j12345678" / "Interrupted.mp4", "half");
    TestEngine engine;
    Jobs jobs(library, engine, std::nullopt);
    EXPECT_EQ(entries(library), (std::vector<std::string>{"Drop here", "Interrupted", "Swapped"}));
    EXPECT_EQ(readFile(library / "Swapped" / "Swapped.mp4"), "newer");
    EXPECT_EQ(readFile(library / "Interrupted" / "Interrupted.mp4"), "earlier");
}

} // namespace
