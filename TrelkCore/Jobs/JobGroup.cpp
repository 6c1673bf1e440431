#include "TrelkCore/Jobs/JobGroup.h"

#include "TrelkCore/Library/Sets.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

std::string keyOf(const Job& job) {
    if (job.set && job.batch) return "s:" + *job.batch + ":" + *job.set;
    return job.id;
}

// By part, then as they stood in the list: a retried part sits at the end of the list yet
// keeps its place in the set.
std::vector<Job> inPartOrder(const std::vector<Job>& listed) {
    std::vector<std::pair<std::pair<int64_t, int64_t>, size_t>> places;
    for (size_t i = 0; i < listed.size(); ++i)
        places.push_back({{listed[i].setIndex.value_or(int64_t(i)), int64_t(i)}, i});
    std::ranges::sort(places);
    std::vector<Job> sorted;
    for (const auto& [place, i] : places) sorted.push_back(listed[i]);
    return sorted;
}

std::string percent(double fraction) {
    // Guards the conversion against progress that was never a fraction.
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return std::to_string(int64_t(clamped * 100)) + "%";
}

} // namespace

std::vector<JobGroup> JobGroup::of(const std::vector<Job>& jobs) {
    std::vector<std::string> keys;
    std::map<std::string, std::vector<Job>> members;
    for (const Job& job : jobs) {
        std::string key = keyOf(job);
        std::vector<Job>& listed = members[key];
        if (listed.empty()) keys.push_back(key);
        listed.push_back(job);
    }
    std::vector<JobGroup> groups;
    for (const std::string& key : keys) {
        const std::vector<Job>& listed = members[key];
        if (std::ranges::all_of(listed, [](const Job& job) { return job.is<Job::Done>(); })) continue;
        const bool isSet = key.starts_with("s:");
        groups.push_back({.id = key,
                          .set = isSet ? listed.front().set : std::nullopt,
                          .batch = isSet ? listed.front().batch : std::nullopt,
                          .jobs = inPartOrder(listed)});
    }
    return groups;
}

bool JobGroup::active() const { return std::ranges::any_of(jobs, &Job::active); }

bool JobGroup::stopped() const { return !active() && std::ranges::any_of(jobs, &Job::stopped); }

std::string JobGroup::title() const {
    if (set) return *set;
    return jobs.empty() ? std::string() : jobs.front().name();
}

std::string JobGroup::label(const Job& job) const {
    const auto found = std::ranges::find(jobs, job.id, &Job::id);
    if (found == jobs.end()) return job.name();
    std::vector<std::string> names;
    for (const Job& member : jobs) names.push_back(member.name());
    return SetName::labels(names)[size_t(found - jobs.begin())];
}

std::string JobGroup::state(const Job& job) {
    if (const auto* making = std::get_if<Job::Making>(&job.state)) return "making " + percent(making->fraction);
    if (const auto* failed = std::get_if<Job::Failed>(&job.state)) return "failed · " + failed->message;
    if (job.is<Job::Queued>()) return "waiting";
    if (job.is<Job::Done>()) return "done";
    return "stopped";
}

std::string JobGroup::status() const {
    if (!isSet()) return jobs.empty() ? std::string() : state(jobs.front());
    const auto n = std::to_string(jobs.size());
    const auto made = std::ranges::count_if(jobs, &Job::is<Job::Done>);
    const auto failed = std::ranges::count_if(jobs, &Job::is<Job::Failed>);
    const std::string d = std::to_string(made);
    const std::string head = "set of " + n + " · ";
    if (std::ranges::any_of(jobs, &Job::is<Job::Making>))
        return head + "making " + std::to_string(std::min<size_t>(jobs.size(), made + 1)) + " of " + n;
    if (std::ranges::any_of(jobs, &Job::is<Job::Queued>))
        return head + (made >= 1 ? d + " of " + n + " made · waiting" : "waiting");
    if (failed >= 1) return head + std::to_string(failed) + " failed";
    return head + (made >= 1 ? "stopped · " + d + " of " + n + " made" : "stopped");
}
