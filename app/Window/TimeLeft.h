#pragma once
#include "TrelkCore/Jobs/JobGroup.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// How long a making group has left, from the rate it has made progress at since it was first
// seen making. Says nothing until there is enough of it to be honest: 5 % made or 10 s gone.
class TimeLeft {
public:
    using Clock = std::chrono::steady_clock;

    // The groups listed now; those no longer listed, or no longer at work, are forgotten.
    void see(const std::vector<JobGroup>& groups, Clock::time_point now);
    // "About 3 minutes left", or none.
    std::optional<std::string> of(const std::string& group) const;

    // The mean of its jobs' fractions: done counts whole, waiting or ended as nothing.
    static double progress(const JobGroup& group);

private:
    struct Reading {
        Clock::time_point at;
        double progress = 0;
    };
    struct Track {
        Reading first;
        Reading last;
    };
    std::map<std::string, Track> tracks;
};
