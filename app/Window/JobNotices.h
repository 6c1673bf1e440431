#pragma once
#include "TrelkCore/Jobs/Job.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

// What the desktop is told when work ends: one notice per lone job and one per set of one drop
// once its last part has ended. Cancels tell nothing, nor do jobs that had ended before the
// first list was seen.
class JobNotices {
public:
    struct Notice {
        std::string title;
        std::string body;
        bool operator==(const Notice&) const = default;
    };

    // The notices the new job list calls for now.
    std::vector<Notice> after(const std::vector<Job>& jobs);

private:
    std::optional<std::set<std::string>> told; // ended jobs already accounted for; none before the first list
};
