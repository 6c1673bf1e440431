#include "app/Window/WallRows.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Making/AVEngine.h"

#include "tests/support/EventLoop.h"
#include "tests/support/ScriptedDesktop.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WindowModels.h"

#include <gtest/gtest.h>

#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

// Probes as the program does; every making waits until it is cancelled, so dropped files stay pending.
class HeldEngine : public AVEngine {
public:
    int64_t make(const fs::path&, const MasterInfo&, const LadderPlan&, const fs::path&, const Progress&,
                 const Cancelled& cancelled) override {
        while (!cancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        throw CancellationError();
    }
};

class WallRowsTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder / "library"); }
    // Stored as the browser posted it at that time, before the model starts.
    void post(Project project, Clock::time_point at, const std::vector<std::string>& ties = {}) {
        Projects store(folder / "service" / "projects.json");
        store.now = [at] { return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count(); };
        store.sync(project);
        store.tie(ties, project.id);
    }

    EventLoop loop;
    TempFolder folder;
    ScriptedDesktop user;
    HeldEngine engine;
    const Clock::time_point now = Clock::now();
};

TEST_F(WallRowsTest, ProjectsSayWhenTheyWereSeenAndAskBeforeForgettingTheirTies) {
    const std::vector<WallInfo> walls{{"w1", "Wall", 1920, 1080, "25"}};
    post({"recent", "Recent", 0, walls, {}, {}}, now - 10s);
    post({"old", "Old", 0, walls, {}, {}}, now - 1h, {"a", "b", "c"});
    WindowModels models(user, folder, &engine);
    WindowModel& model = models.window;
    const std::vector<WallRows::Section> sections = WallRows::sections(model, 0, now);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].seen, "· open");
    EXPECT_EQ(sections[0].forgetAsk, std::nullopt) << "nothing kept: forgotten at once";
    EXPECT_EQ(sections[1].seen, "· seen 1 hour ago");
    EXPECT_EQ(sections[1].forgetAsk,
              (WallRows::ForgetAsk{"Forget Old?", "Its 3 kept files stay in the library, in no project"}));
}

TEST_F(WallRowsTest, AWallShowsItsListHowItsItemsFitAndWhatIsStillBeingMade) {
    TestMedia::video(folder / "library" / "clip.mp4", 64, 36);
    const std::vector<ListItem> items{
        {"i1", "renamed", Library::id("clip.mp4")}, {"i2", "old.mp4", "gone"}, {"i3", "phone.mov", std::nullopt}};
    const std::vector<WallInfo> walls{{"w1", "Main", 1920, 1080, "30"}, {"w2", "Side", 1280, 720, "25"}};
    post({"p1", "Show", 0, walls, WallList{"w1", 1, items}, {}}, now);
    WindowModels models(user, folder, &engine);
    WindowModel& model = models.window;
    ASSERT_TRUE(loop.runUntil([&] { return model.probed().size() == 1; }));
    model.addFiles({TestMedia::video(folder / "made.mp4", 32, 18)}, "w2", "p1", false);
    ASSERT_TRUE(loop.runUntil([&] { return model.wallPending().size() == 1; }));

    const std::vector<WallRows::Row> rows = WallRows::sections(model, 2, now).at(0).rows;
    ASSERT_EQ(rows.size(), 2u);
    using Remark = WallRows::Remark;
    const std::vector<std::string> notes{"Smaller · 64 × 36 on a 1920 × 1080 wall, scaled up",
                                         "25 fps · the wall asks for 30"}; // from the probe: the library has no size
    const std::vector<WallRows::Entry> entries{
        {"i1", 1, "clip.mp4", notes, std::nullopt, false, true},
        {"i2", 2, "old.mp4", {}, Remark{"not in this library", Remark::Tone::warning}, true, true},
        {"i3", 3, "phone.mov", {}, Remark{"a file in that browser", Remark::Tone::secondary}, true, false},
    };
    EXPECT_EQ(rows[0].entries, entries);
    EXPECT_EQ(rows[0].size, "1920 × 1080 · 30");
    EXPECT_EQ(rows[0].count, "list · 3");
    EXPECT_EQ(rows[0].pending, std::vector<std::string>{});
    EXPECT_EQ(rows[1].count, std::nullopt);
    EXPECT_EQ(rows[1].entries, std::vector<WallRows::Entry>{}) << "the list is another wall's";
    EXPECT_EQ(rows[1].pending, std::vector<std::string>{"made.mp4"});
    EXPECT_EQ(rows[1].addTip, "Add the 2 selected to this wall");
    EXPECT_EQ(WallRows::sections(model, 0, now)[0].rows[1].addTip, "Choose videos or stills to add to this wall");
}

} // namespace
