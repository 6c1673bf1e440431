#include "TrelkCore/Jobs/DropPlan.h"
#include "TrelkCore/Jobs/JobGroup.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inDrop(const std::vector<std::string>& names) {
    std::vector<fs::path> files;
    for (const std::string& name : names) files.push_back(fs::path("/drop") / name);
    return files;
}

TEST(DropPlanTest, OrdersAndProposesGroupings) {
    const std::string longName = std::string(4000, 'x') + "_left.mov";
    struct Case {
        std::vector<std::string> dropped;
        std::vector<std::string> ordered;
        Grouping grouping;
        std::vector<Grouping> choices;
        std::string summary;
    };
    const Case cases[] = {
        {{}, {}, Grouping::separate, {Grouping::separate}, "0 files → "},
        {{"clip.mov", "b.jpg", "A.png", "d.heic"}, {"A.png", "b.jpg", "clip.mov", "d.heic"}, Grouping::separate,
         {Grouping::separate}, "4 files → 3 stills + 1 video"},
        {{"Show_right.mov", "Show_left.mov", "Show centre.mov"}, {"Show_left.mov", "Show centre.mov", "Show_right.mov"},
         Grouping::oneCue, {Grouping::oneCue, Grouping::separate}, "3 files → 1 set (Left · Centre · Right)"},
        {{"clip 10.mov", "Clip 9.mov"}, {"Clip 9.mov", "clip 10.mov"}, Grouping::separate,
         {Grouping::oneCue, Grouping::separate}, "2 files → 2 videos"},
        {{"still.png", "Other.mov", "Show_right.mov", "Show_centre.mov", "Show_left.mov"},
         {"Show_left.mov", "Show_centre.mov", "Show_right.mov", "Other.mov", "still.png"}, Grouping::byName,
         {Grouping::byName, Grouping::oneCue, Grouping::separate}, "5 files → 1 still + 1 set + 1 video"},
        // Keys compare exactly: the composed and the decomposed é are two sets of one.
        {{"Cafe\xCC\x81_right.mov", "Caf\xC3\xA9_left.mov"}, {"Caf\xC3\xA9_left.mov", "Cafe\xCC\x81_right.mov"},
         Grouping::separate, {Grouping::oneCue, Grouping::separate}, "2 files → 2 videos"},
        {{"\xFF\xFE_right.mov", "\xFF\xFE_left.mov"}, {"\xFF\xFE_left.mov", "\xFF\xFE_right.mov"}, Grouping::oneCue,
         {Grouping::oneCue, Grouping::separate}, "2 files → 1 set (Left · Right)"},
        {{"y_right.mov", longName}, {longName, "y_right.mov"}, Grouping::separate,
         {Grouping::oneCue, Grouping::separate}, "2 files → 2 videos"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.dropped));
        const DropPlan plan(inDrop(c.dropped));
        EXPECT_EQ(plan.files, inDrop(c.ordered));
        EXPECT_EQ(plan.grouping, c.grouping);
        EXPECT_EQ(plan.choices, c.choices);
        EXPECT_EQ(plan.summary(), c.summary);
    }
}

TEST(DropPlanTest, MovesCountsAndNames) {
    DropPlan plan(inDrop({"a.mov", "b.mov", "d.mov"}));
    plan.move(5, 0);
    plan.move(-1, 0);
    EXPECT_EQ(plan.files, inDrop({"a.mov", "b.mov", "d.mov"}));
    plan.move(0, 99);
    EXPECT_EQ(plan.files, inDrop({"b.mov", "d.mov", "a.mov"}));
    plan.move(2, -4);
    EXPECT_EQ(plan.files, inDrop({"a.mov", "b.mov", "d.mov"}));
    plan.grouping = Grouping::byName; // no sets among these names: no empty part in the summary
    EXPECT_EQ(plan.summary(), "3 files → 3 videos");

    EXPECT_EQ(DropPlan::count(0, "set"), "");
    EXPECT_EQ(DropPlan::count(1, "set"), "1 set");
    EXPECT_EQ(DropPlan::count(3, "video"), "3 videos");
    EXPECT_EQ(DropPlan::things({"a.mov", "b.MOV", "c.PNG"}), "2 videos + 1 still");
    EXPECT_EQ(DropPlan::things({"c.tiff"}), "1 still");
    EXPECT_EQ(DropPlan::things({}), "");

    for (Grouping grouping : allGroupings) EXPECT_EQ(groupingFromRaw(rawValue(grouping)), grouping);
    EXPECT_EQ(groupingFromRaw("OneCue"), std::nullopt);
    EXPECT_EQ(label(Grouping::byName), "By name");
}

Job job(const std::string& id, Job::State state, std::optional<std::string> set = {}, std::optional<int64_t> index = {}) {
    Job made;
    made.id = id;
    made.master = "/drop/" + id + ".mov";
    made.state = state;
    made.set = set;
    made.setIndex = index;
    if (set) made.batch = "b1";
    return made;
}

std::vector<std::string> ids(const std::vector<Job>& jobs) {
    std::vector<std::string> result;
    for (const Job& each : jobs) result.push_back(each.id);
    return result;
}

TEST(JobGroupTest, FoldsTheListIntoRows) {
    const std::optional<std::string> set = "Show";
    std::vector<Job> list{job("lone1", Job::Queued{}), job("Show_right", Job::Queued{}, set, 1),
                          job("lone2", Job::Failed{"no"}), job("Show_left", Job::Queued{}, set, 0),
                          job("other", Job::Done{})};
    std::vector<JobGroup> groups = JobGroup::of(list);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].id, "lone1");
    EXPECT_EQ(groups[1].id, "s:b1:Show");
    EXPECT_EQ(groups[1].batch, "b1");
    EXPECT_EQ(groups[2].id, "lone2");
    EXPECT_EQ(ids(groups[1].jobs), (std::vector<std::string>{"Show_left", "Show_right"}));
    EXPECT_EQ(groups[1].title(), "Show");
    EXPECT_EQ(groups[1].label(list[1]), "Right");
    EXPECT_EQ(groups[1].label(list[0]), "lone1.mov");
    EXPECT_EQ(groups[2].title(), "lone2.mov");
    EXPECT_TRUE(groups[2].stopped());
    EXPECT_FALSE(groups[2].isSet());

    // A retried part stands last in the list, yet keeps its place in its set.
    std::rotate(list.begin() + 1, list.begin() + 2, list.end());
    groups = JobGroup::of(list);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(ids(groups[2].jobs), (std::vector<std::string>{"Show_left", "Show_right"}));

    for (Job& each : list) each.state = Job::Done{};
    list[0].state = Job::Cancelled{};
    groups = JobGroup::of(list);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].id, "lone1");
}

TEST(JobGroupTest, StatusTexts) {
    const Job::State queued = Job::Queued{}, done = Job::Done{}, cancelled = Job::Cancelled{};
    const Job::State making = Job::Making{0.5}, failed = Job::Failed{"no"};
    const std::pair<std::vector<Job::State>, std::string> sets[] = {
        {{done, making, queued}, "set of 3 · making 2 of 3"},
        {{done, queued, queued}, "set of 3 · 1 of 3 made · waiting"},
        {{queued, queued}, "set of 2 · waiting"},
        {{failed, failed, cancelled}, "set of 3 · 2 failed"},
        {{done, done, cancelled}, "set of 3 · stopped · 2 of 3 made"},
        {{cancelled, cancelled}, "set of 2 · stopped"},
    };
    for (const auto& [states, status] : sets) {
        JobGroup group{"s:b1:Show", "Show", "b1", {}};
        for (const Job::State& state : states) group.jobs.push_back(job("p", state, "Show", 0));
        EXPECT_EQ(group.status(), status);
    }
    const std::pair<Job::State, std::string> lone[] = {
        {queued, "waiting"},          {Job::Making{0.4267}, "making 42%"}, {done, "done"},
        {failed, "failed · no"},      {cancelled, "stopped"},              {Job::Making{NAN}, "making 0%"},
        {Job::Making{7}, "making 100%"},
    };
    for (const auto& [state, text] : lone) EXPECT_EQ((JobGroup{"j", {}, {}, {job("j", state)}}.status()), text);
    EXPECT_EQ(JobGroup{}.status(), "");
    EXPECT_EQ(JobGroup{}.title(), "");
}

} // namespace
