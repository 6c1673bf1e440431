#include "app/Window/JobNotices.h"

#include <gtest/gtest.h>

namespace {

using Notice = JobNotices::Notice;

Job lone(const std::string& id, Job::State state) {
    Job job;
    job.id = id;
    job.master = "/drop/" + id + ".mov";
    job.state = state;
    if (job.is<Job::Done>()) job.part = SetPart{.dir = id, .file = id + ".mp4", .w = 0, .h = 0, .duration = 0};
    return job;
}

Job part(int index, Job::State state) {
    Job job = lone("show_" + std::to_string(index), state);
    job.set = "show";
    job.batch = "1234abcd";
    job.setIndex = index;
    return job;
}

const Job::State queued = Job::Queued{}, making = Job::Making{0.5}, done = Job::Done{}, cancelled = Job::Cancelled{};
const Job::State failed = Job::Failed{"couldn't read the master: broken"};

struct Case {
    std::string what;
    std::vector<std::vector<Job>> lists; // as the model publishes them, the first being the baseline
    std::vector<Notice> told;
};

TEST(JobNotices, OneNoticePerLoneJobOrSetThatEnded) {
    const std::vector<Case> cases{
        {"a lone job made", {{}, {lone("a", making)}, {lone("a", done)}, {lone("a", done)}}, {{"Made · a.mov", "a"}}},
        {"a lone job failed", {{lone("a", queued)}, {lone("a", failed)}}, {{"Failed · a.mov", "couldn't read the master: broken"}}},
        {"a set of three made, told once its last part is done",
         {{},
          {part(0, making), part(1, queued), part(2, queued)},
          {part(0, done), part(1, done), part(2, making)},
          {part(0, done), part(1, done), part(2, done)},
          {part(0, done), part(1, done), part(2, done)}},
         {{"Made · show (3 parts)", "show_0, show_1, show_2"}}},
        {"a set with a failed part is one failure",
         {{part(0, making), part(1, queued), part(2, queued)},
          {part(0, failed), part(1, making), part(2, queued)},
          {part(0, failed), part(1, done), part(2, done)}},
         {{"Failed · show (3 parts)", "set of 3 · 1 failed · couldn't read the master: broken"}}},
        {"a cancel tells nothing",
         {{lone("a", making), part(0, done), part(1, making)},
          {lone("a", cancelled), part(0, done), part(1, cancelled)}},
         {}},
        {"jobs that had ended before the first list tell nothing",
         {{lone("a", done), lone("b", failed), part(0, done), part(1, done)},
          {lone("a", done), lone("b", failed), part(0, done), part(1, done)}},
         {}},
        {"a retried job that then succeeds tells once more",
         {{lone("a", making)}, {lone("a", failed)}, {lone("a2", queued)}, {lone("a2", done)}},
         {{"Failed · a.mov", "couldn't read the master: broken"}, {"Made · a2.mov", "a2"}}},
    };
    for (const Case& each : cases) {
        JobNotices notices;
        std::vector<Notice> told;
        for (const std::vector<Job>& list : each.lists)
            for (const Notice& notice : notices.after(list)) told.push_back(notice);
        EXPECT_EQ(told, each.told) << each.what;
    }
}

} // namespace
