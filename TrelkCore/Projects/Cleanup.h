#pragma once
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Library/KeptMaster.h"
#include "TrelkCore/Library/Removal.h"
#include "TrelkCore/Projects/Project.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

class Projects;

// One thing the clean-up could move to the Trash.
struct CleanupItem {
    // An asset of the library, or a kept master's file.
    using Thing = std::variant<Asset, std::filesystem::path>;

    std::string id; // "a:" + asset id, or "m:" + the master's path
    std::string name;
    int64_t bytes = 0;
    Thing thing;

    bool operator==(const CleanupItem&) const = default;
};

// Items that could go for one reason, switched on or off as a whole.
struct CleanupGroup {
    std::string id; // "unused", "p:" + project id, "orphans" or "masters"
    std::string title;
    std::string detail;
    std::vector<CleanupItem> items; // never empty
    bool on = false;

    int64_t bytes() const;
    bool operator==(const CleanupGroup&) const = default;
};

// What could go from the library and why. It reads the projects and changes their store, so it
// lives beside them: the library wing knows nothing of projects.
namespace Cleanup {

// Empty when the library cannot be read: what cannot be seen is never offered as gone.
std::vector<CleanupGroup> plan(const std::vector<Asset>& assets, const std::vector<Project>& projects,
                               const std::vector<KeptMaster>& masters, const std::filesystem::path& library);
// The items of the groups switched on, each once.
std::vector<CleanupItem> chosen(const std::vector<CleanupGroup>& groups);
// Moves the items away; the names of those that could not be, in order. What no longer lies
// beneath the library without a link on the way (swapped since the plan was made) is left.
std::vector<std::string> run(const std::vector<CleanupItem>& items, const std::filesystem::path& library,
                             Projects& projects, const Library::Trash& trash);

} // namespace Cleanup
