#pragma once
#include "TrelkCore/Jobs/Job.h"

#include <optional>
#include <string>
#include <vector>

// One row of the job list: the parts of one set made from one drop, or one lone job.
struct JobGroup {
    std::string id; // "s:" + batch + ":" + set, or the lone job's id
    std::optional<std::string> set;
    std::optional<std::string> batch;
    std::vector<Job> jobs; // in part order

    // The rows of a job list, in the order their first jobs stand; finished rows are left out.
    static std::vector<JobGroup> of(const std::vector<Job>& jobs);

    bool isSet() const { return set.has_value(); }
    bool active() const;
    bool stopped() const;
    std::string title() const;
    std::string status() const;
    // The job's short label within the group: its position word, or its name.
    std::string label(const Job& job) const;

    // "waiting", "making 42%", "done", "failed · why", "stopped".
    static std::string state(const Job& job);

    bool operator==(const JobGroup&) const = default;
};
