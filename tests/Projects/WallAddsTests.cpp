#include "TrelkCore/Projects/WallAdds.h"

#include "TrelkCore/Projects/Projects.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using namespace std::chrono_literals;

Job job(const std::string& id, Job::State state, std::optional<std::string> asset = {},
        std::optional<std::string> setAsset = {}) {
    Job made;
    made.id = id;
    made.state = state;
    made.asset = std::move(asset);
    made.setAsset = std::move(setAsset);
    return made;
}

Asset asset(const std::string& id) {
    Asset listed;
    listed.id = id;
    listed.file = id + ".mp4";
    return listed;
}

class WallAddsTest : public testing::Test {
protected:
    void SetUp() override {
        Project posted;
        posted.id = "p";
        posted.walls = {{"w1", "Left", 1920, 1080, "25"}};
        projects.sync(posted);
    }
    std::vector<std::string> listed() {
        std::vector<std::string> libs;
        if (auto list = projects.project("p")->list)
            for (const ListItem& item : list->items) libs.push_back(item.lib.value_or("-"));
        return libs;
    }
    std::vector<std::string> ties() { return projects.project("p")->ties; }

    Projects projects{std::nullopt};
    WallAdds adds;
    const WallAdd::Time now = std::chrono::system_clock::now();
};

TEST_F(WallAddsTest, MadeAssetsGoOntoTheWallInJobOrderOnceEveryJobHasEnded) {
    adds.add("p", "w1", {std::nullopt, std::nullopt}, "nothing queued");
    EXPECT_TRUE(adds.all().empty());

    adds.add("p", "w1", {"j1", std::nullopt, "j2", "j3"}, "3 videos");
    ASSERT_EQ(adds.pending("p", "w1").size(), 1u);
    EXPECT_EQ(adds.pending("p", "w1")[0].jobs, (std::vector<std::string>{"j1", "j2", "j3"}));
    std::vector<Job> jobs{job("j1", Job::Done{}, "a1"), job("j2", Job::Making{0.5}), job("j3", Job::Done{}, "a3")};
    const std::vector<Asset> assets{asset("a3"), asset("a2"), asset("a1")};
    EXPECT_FALSE(adds.resolve(jobs, assets, projects, now)) << "one job is still making";
    EXPECT_TRUE(listed().empty());

    jobs[1] = job("j2", Job::Done{}, "a2");
    EXPECT_TRUE(adds.resolve(jobs, assets, projects, now));
    EXPECT_EQ(listed(), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(ties(), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_TRUE(adds.all().empty());
}

TEST_F(WallAddsTest, ASetGoesOnceAndAnEmptyWallOnlyTies) {
    adds.add("p", "w1", {"j1", "j2", "j3"}, "Show");
    adds.add("p", "", {"j4"}, "tie.mp4");
    const std::vector<Job> jobs{job("j1", Job::Done{}, "part1", "set"), job("j2", Job::Done{}, "part2", "set"),
                                job("j3", Job::Done{}, "part3", "set"), job("j4", Job::Done{}, "tied")};
    EXPECT_TRUE(adds.resolve(jobs, {asset("set"), asset("tied")}, projects, now));
    EXPECT_EQ(listed(), std::vector<std::string>{"set"});
    EXPECT_EQ(ties(), (std::vector<std::string>{"set", "tied"}));
}

TEST_F(WallAddsTest, AnAddWaitsForTheScanThenGoesWithWhatIsListed) {
    adds.add("p", "w1", {"j1", "j2"}, "2 videos");
    const std::vector<Job> jobs{job("j1", Job::Done{}, "a1"), job("j2", Job::Done{}, "a2")};
    EXPECT_FALSE(adds.resolve(jobs, {asset("a1")}, projects, now));
    EXPECT_EQ(adds.all().at(0).settled, now);
    EXPECT_FALSE(adds.resolve(jobs, {asset("a1")}, projects, now + 29s));
    EXPECT_TRUE(adds.resolve(jobs, {asset("a1")}, projects, now + 30s));
    EXPECT_EQ(listed(), std::vector<std::string>{"a1"});
}

TEST_F(WallAddsTest, AnAddWhoseJobsMadeNothingIsDroppedWithoutTying) {
    adds.add("p", "w1", {"j1", "j2", "gone"}, "2 videos");
    const std::vector<Job> jobs{job("j1", Job::Failed{"no"}), job("j2", Job::Cancelled{})};
    EXPECT_TRUE(adds.resolve(jobs, {asset("a1")}, projects, now));
    EXPECT_TRUE(adds.all().empty());
    EXPECT_TRUE(ties().empty());
    EXPECT_TRUE(listed().empty());
}

} // namespace
