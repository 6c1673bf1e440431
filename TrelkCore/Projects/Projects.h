#pragma once
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Projects/Project.h"
#include "TrelkCore/StoreFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The browser's projects as last posted, with what the desktop changed in their wall lists since,
// kept in projects.json. Operations on a project that is not there change nothing.
class Projects {
public:
    // The most recently seen projects are always kept; older ones only while they have ties.
    static constexpr size_t keep = 20;
    // Adding from the desktop stops at this many items in a list.
    static constexpr size_t mostItems = 60;

    // Loads the store; one that cannot be read starts empty. No store: memory only.
    explicit Projects(std::optional<std::filesystem::path> store);

    std::function<void()> onChange;          // set before use; called after a saved change, never under the lock
    std::function<double()> now = wallClock; // milliseconds since 1970

    std::vector<Project> all() const; // most recently seen first
    std::optional<Project> project(const std::string& id) const;

    // Merges a posted project. Returns the stored list when the browser should take it over: the
    // desktop changed it after the list the browser posted.
    std::optional<WallList> sync(Project posted);
    // Changes a project's list (a new one for its first wall when it has none); the list counts as
    // changed after the browser's. The change runs under the store's lock: it must not call the store.
    void edit(const std::string& project, const std::function<void(WallList& list, const Project& project)>& change);
    // Ties the assets to the project, then appends them to the wall's list; nothing is added to a
    // wall the project does not have.
    void add(const std::vector<Asset>& assets, const std::string& project, const std::string& wall);
    void remove(const std::string& item, const std::string& project);
    void move(const std::string& item, int64_t offset, const std::string& project);
    void tie(const std::vector<std::string>& assets, const std::string& project);
    void untie(const std::set<std::string>& assets, const std::string& project);
    // Drops the assets from every project's ties and lists.
    void removeAssets(const std::set<std::string>& assets);
    // "project · wall" for each project whose list plays the asset, most recently seen first.
    std::vector<std::string> users(const std::string& asset) const;
    // The projects whose files hold the asset, most recently seen first.
    std::vector<Project> owners(const std::string& asset) const;
    void forget(const std::string& project);

private:
    static double wallClock();

    std::vector<Project> allLocked() const;
    void trimLocked();
    // Runs the change under the lock; when it reports a change, saves and notifies after unlocking.
    void update(const std::function<bool()>& changeLocked);
    // Writes the projects unless a later version was written meanwhile.
    void save(const std::vector<Project>& projects, uint64_t changed);

    mutable std::mutex lock; // guards byId and version
    std::map<std::string, Project> byId;
    uint64_t version = 0; // of the content, counted at each change

    std::mutex writing;             // orders the writes of the file, never held with lock
    std::optional<StoreFile> store; // guarded by writing once loaded
    uint64_t written = 0;           // guarded by writing
};
