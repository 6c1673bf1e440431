#include "app/Window/JobNotices.h"

#include "TrelkCore/Jobs/JobGroup.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <iterator>

namespace {

using Notice = JobNotices::Notice;

bool sameGroup(const Job& job, const Job& other) {
    if (!job.set || !job.batch) return job.id == other.id;
    return other.set == job.set && other.batch == job.batch;
}

// The library folders the parts went to, in part order.
std::string folders(std::vector<Job> parts) {
    std::ranges::stable_sort(parts, {}, [](const Job& job) { return job.setIndex.value_or(0); });
    std::vector<std::string> dirs;
    for (const Job& job : parts)
        if (job.part && std::ranges::find(dirs, job.part->dir) == dirs.end()) dirs.push_back(job.part->dir);
    return Text::joined(dirs, ", ");
}

// Ended parts of one group: a cancel among them tells nothing.
std::optional<Notice> noticeFor(const std::vector<Job>& parts) {
    if (std::ranges::any_of(parts, &Job::is<Job::Cancelled>)) return std::nullopt;
    const JobGroup group{.id = {}, .set = parts.front().set, .batch = parts.front().batch, .jobs = parts};
    std::string title = group.title();
    if (group.isSet()) title += " (" + std::to_string(parts.size()) + " parts)";
    const auto failed = std::ranges::find_if(parts, &Job::is<Job::Failed>);
    if (failed == parts.end()) return Notice{"Made · " + title, folders(parts)};
    const std::string why = std::get<Job::Failed>(failed->state).message;
    return Notice{"Failed · " + title, group.isSet() ? group.status() + " · " + why : why};
}

} // namespace

std::vector<JobNotices::Notice> JobNotices::after(const std::vector<Job>& jobs) {
    std::set<std::string> ended;
    for (const Job& job : jobs)
        if (!job.active()) ended.insert(job.id);
    std::vector<Notice> notices;
    if (told) {
        for (const Job& job : jobs) {
            if (job.active() || told->contains(job.id)) continue;
            std::vector<Job> parts;
            std::ranges::copy_if(jobs, std::back_inserter(parts), [&](const Job& other) { return sameGroup(job, other); });
            if (std::ranges::any_of(parts, &Job::active)) continue; // the rest of the drop is still at work
            for (const Job& part : parts) told->insert(part.id);
            if (std::optional<Notice> notice = noticeFor(parts)) notices.push_back(*notice);
        }
    }
    // Jobs that left the list are forgotten; a retry comes back under a new id.
    std::set<std::string> kept;
    std::ranges::set_intersection(told.value_or(ended), ended, std::inserter(kept, kept.end()));
    told = std::move(kept);
    return notices;
}
