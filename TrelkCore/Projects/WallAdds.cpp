#include "TrelkCore/Projects/WallAdds.h"

#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Projects/Projects.h"

#include <algorithm>

namespace {

std::vector<Job> foundJobs(const WallAdd& add, const std::vector<Job>& jobs) {
    std::vector<Job> found;
    for (const std::string& id : add.jobs)
        if (auto job = std::ranges::find(jobs, id, &Job::id); job != jobs.end()) found.push_back(*job);
    return found;
}

// A set's parts give the set's asset once; a lone job its own.
std::vector<std::string> madeIDs(const std::vector<Job>& found) {
    std::vector<std::string> made;
    for (const Job& job : found) {
        if (!job.is<Job::Done>()) continue;
        const std::optional<std::string>& id = job.setAsset ? job.setAsset : job.asset;
        if (id && std::ranges::find(made, *id) == made.end()) made.push_back(*id);
    }
    return made;
}

std::vector<std::string> idsOf(const std::vector<Asset>& assets) {
    std::vector<std::string> ids;
    for (const Asset& asset : assets) ids.push_back(asset.id);
    return ids;
}

struct Ready {
    WallAdd add;
    std::vector<Asset> assets;
};

// The add's fate: kept (perhaps newly settled), or gone, with the assets to apply if any.
bool keeps(WallAdd& add, const std::vector<Job>& jobs, const std::vector<Asset>& assets, WallAdd::Time now,
           std::vector<Ready>& ready) {
    const std::vector<Job> found = foundJobs(add, jobs);
    if (std::ranges::any_of(found, &Job::active)) return true;
    const std::vector<std::string> made = madeIDs(found);
    std::vector<Asset> listed;
    for (const std::string& id : made)
        // The first asset of a repeated id counts.
        if (auto asset = std::ranges::find(assets, id, &Asset::id); asset != assets.end()) listed.push_back(*asset);
    if (!made.empty() && listed.size() < made.size()) {
        if (!add.settled) add.settled = now;
        if (now - *add.settled < WallAdds::scanWait) return true;
    }
    if (!listed.empty()) ready.push_back({add, std::move(listed)});
    return false;
}

} // namespace

std::vector<WallAdd> WallAdds::all() const {
    std::lock_guard guard(lock);
    return list;
}

std::vector<WallAdd> WallAdds::pending(const std::string& project, const std::string& wall) const {
    std::vector<WallAdd> found;
    std::lock_guard guard(lock);
    std::ranges::copy_if(list, std::back_inserter(found),
                         [&](const WallAdd& add) { return add.project == project && add.wall == wall; });
    return found;
}

void WallAdds::add(const std::string& project, const std::string& wall,
                   const std::vector<std::optional<std::string>>& jobs, const std::string& name) {
    std::vector<std::string> queued;
    for (const std::optional<std::string>& job : jobs)
        if (job) queued.push_back(*job);
    if (queued.empty()) return;
    WallAdd add{"w" + Crypto::randomHex(4), project, wall, std::move(queued), name, std::nullopt};
    std::lock_guard guard(lock);
    list.push_back(std::move(add));
}

bool WallAdds::resolve(const std::vector<Job>& jobs, const std::vector<Asset>& assets, Projects& projects,
                       WallAdd::Time now) {
    std::vector<Ready> ready;
    bool shrank = false;
    {
        std::lock_guard guard(lock);
        const size_t before = list.size();
        std::erase_if(list, [&](WallAdd& add) { return !keeps(add, jobs, assets, now, ready); });
        shrank = list.size() < before;
    }
    // The store takes its own lock: never called under this one.
    for (const Ready& done : ready) {
        projects.tie(idsOf(done.assets), done.add.project);
        if (!done.add.wall.empty()) projects.add(done.assets, done.add.project, done.add.wall);
    }
    return shrank;
}

