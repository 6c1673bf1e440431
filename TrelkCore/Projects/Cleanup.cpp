#include "TrelkCore/Projects/Cleanup.h"

#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Projects/Projects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <numeric>
#include <set>

namespace fs = std::filesystem;

namespace {

using Users = std::map<std::string, std::set<std::string>>; // asset id → ids of the projects using it

Users usersOf(const std::vector<Project>& projects) {
    Users users;
    for (const Project& project : projects)
        for (const std::string& file : project.files()) users[file].insert(project.id);
    return users;
}

CleanupItem itemOf(const Asset& asset) { return {"a:" + asset.id, asset.name, asset.bytes, asset}; }
CleanupItem itemOf(const KeptMaster& master) {
    return {"m:" + master.url.string(), master.url.filename().string(), master.bytes, master.url};
}

void addGroup(std::vector<CleanupGroup>& groups, CleanupGroup group) {
    if (!group.items.empty()) groups.push_back(std::move(group));
}

// Only an output known to be missing makes an orphan: one that cannot be looked at counts as there.
bool outputMissing(const KeptMaster& master, const fs::path& library) {
    if (!master.output) return true;
    struct stat info;
    return ::lstat((library / *master.output).c_str(), &info) != 0 && errno == ENOENT;
}

bool readableFolder(const fs::path& folder) {
    struct stat info;
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder.c_str(), R_OK | X_OK) == 0;
}

} // namespace

int64_t CleanupGroup::bytes() const {
    return std::accumulate(items.begin(), items.end(), int64_t(0),
                           [](int64_t sum, const CleanupItem& item) { return sum + item.bytes; });
}

std::vector<CleanupGroup> Cleanup::plan(const std::vector<Asset>& assets, const std::vector<Project>& projects,
                                        const std::vector<KeptMaster>& masters, const fs::path& library) {
    if (!readableFolder(library)) return {};
    const Users users = usersOf(projects);
    std::vector<CleanupGroup> groups;

    CleanupGroup unused{"unused", "Not used by any wall", "No project Trelk has seen uses or keeps them", {}, true};
    for (const Asset& asset : assets)
        if (!users.contains(asset.id)) unused.items.push_back(itemOf(asset));
    addGroup(groups, std::move(unused));

    for (const Project& project : projects) {
        CleanupGroup only{"p:" + project.id, "Only " + project.name + "'s", "Its walls' lists lose them", {}, false};
        for (const Asset& asset : assets)
            if (auto found = users.find(asset.id); found != users.end() && found->second == std::set{project.id})
                only.items.push_back(itemOf(asset));
        addGroup(groups, std::move(only));
    }

    CleanupGroup orphans{"orphans", "Masters, nothing made from them here", "What was made from them is gone", {}, true};
    CleanupGroup kept{"masters", "Masters", "What was made stays; a changed master can't be made again without it", {}, false};
    for (const KeptMaster& master : masters)
        (outputMissing(master, library) ? orphans : kept).items.push_back(itemOf(master));
    addGroup(groups, std::move(orphans));
    addGroup(groups, std::move(kept));
    return groups;
}

std::vector<CleanupItem> Cleanup::chosen(const std::vector<CleanupGroup>& groups) {
    std::vector<CleanupItem> items;
    std::set<std::string> taken;
    for (const CleanupGroup& group : groups) {
        if (!group.on) continue;
        for (const CleanupItem& item : group.items)
            if (taken.insert(item.id).second) items.push_back(item);
    }
    return items;
}

std::vector<std::string> Cleanup::run(const std::vector<CleanupItem>& items, const fs::path& library,
                                      Projects& projects, const Library::Trash& trash) {
    const Library::Trash inside = [&](const fs::path& path) {
        if (!Files::beneath(library, path)) throw std::runtime_error("not in the library");
        trash(path);
    };
    std::vector<std::string> failed;
    std::set<std::string> removed;
    for (const CleanupItem& item : items) {
        try {
            if (const auto* asset = std::get_if<Asset>(&item.thing)) {
                Library::remove(*asset, inside);
                removed.insert(asset->id);
            } else {
                inside(std::get<fs::path>(item.thing));
            }
        } catch (const std::exception&) {
            failed.push_back(item.name);
        }
    }
    if (!removed.empty()) projects.removeAssets(removed);
    return failed;
}
