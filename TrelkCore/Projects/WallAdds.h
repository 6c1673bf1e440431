#pragma once
#include "TrelkCore/Jobs/Job.h"
#include "TrelkCore/Library/Asset.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Projects;

// Masters dropped on a wall are made first: the promise that what their jobs make goes onto
// that wall once it is made, and listed.
struct WallAdd {
    using Time = std::chrono::system_clock::time_point;

    std::string id;
    std::string project;
    std::string wall; // empty: tie to the project only
    std::vector<std::string> jobs;
    std::string name; // what the window shows while it waits
    std::optional<Time> settled; // when its jobs had all ended but not all it made was listed

    bool operator==(const WallAdd&) const = default;
};

// The pending promises, in memory only: they end with the run.
class WallAdds {
public:
    // How long an add whose jobs have ended waits for the library to list what they made.
    static constexpr auto scanWait = std::chrono::seconds(30);

    std::vector<WallAdd> all() const;
    std::vector<WallAdd> pending(const std::string& project, const std::string& wall) const;
    // jobs as the queue's addAll gave them; the ones it did not queue are left out.
    void add(const std::string& project, const std::string& wall, const std::vector<std::optional<std::string>>& jobs,
             const std::string& name);
    // Applies the adds whose jobs have ended; true when any add went.
    bool resolve(const std::vector<Job>& jobs, const std::vector<Asset>& assets, Projects& projects, WallAdd::Time now);

private:
    mutable std::mutex lock; // guards list
    std::vector<WallAdd> list;
};
