#include "app/Window/TimeLeft.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

using namespace std::chrono_literals;

constexpr double enoughProgress = 0.05;
constexpr auto enoughTime = 10s;

bool making(const JobGroup& group) {
    return std::ranges::any_of(group.jobs, &Job::is<Job::Making>);
}

double fraction(const Job& job) {
    if (const auto* making = std::get_if<Job::Making>(&job.state)) return making->fraction;
    return job.is<Job::Done>() ? 1 : 0;
}

std::string counted(long count, const std::string& unit) {
    return "About " + std::to_string(count) + " " + unit + (count == 1 ? "" : "s") + " left";
}

// Rounded as a person would say it: tens of seconds, whole minutes, then whole hours.
std::string spoken(double seconds) {
    if (seconds < 55) return counted(std::max(10L, std::lround(seconds / 10) * 10), "second");
    if (seconds < 59.5 * 60) return counted(std::max(1L, std::lround(seconds / 60)), "minute");
    return counted(std::lround(seconds / 3600), "hour");
}

} // namespace

double TimeLeft::progress(const JobGroup& group) {
    if (group.jobs.empty()) return 0;
    const double sum = std::accumulate(group.jobs.begin(), group.jobs.end(), 0.0,
                                       [](double total, const Job& job) { return total + fraction(job); });
    return sum / double(group.jobs.size());
}

void TimeLeft::see(const std::vector<JobGroup>& groups, Clock::time_point now) {
    std::map<std::string, Track> seen;
    for (const JobGroup& group : groups) {
        if (!group.active()) continue;
        const Reading reading{now, progress(group)};
        if (const auto known = tracks.find(group.id); known != tracks.end())
            seen[group.id] = {known->second.first, reading};
        else if (making(group))
            seen[group.id] = {reading, reading};
    }
    tracks = std::move(seen);
}

std::optional<std::string> TimeLeft::of(const std::string& group) const {
    const auto found = tracks.find(group);
    if (found == tracks.end()) return std::nullopt;
    const auto& [first, last] = found->second;
    const double made = last.progress - first.progress;
    const auto spent = last.at - first.at;
    if (made <= 0 || spent <= Clock::duration::zero() || (made < enoughProgress && spent < enoughTime)) return std::nullopt;
    const double rate = made / std::chrono::duration<double>(spent).count();
    return spoken((1 - last.progress) / rate);
}
