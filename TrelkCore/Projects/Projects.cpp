#include "TrelkCore/Projects/Projects.h"

#include "TrelkCore/Platform/Crypto.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

using nlohmann::json;

namespace {

constexpr int64_t storeLimit = int64_t(64) << 20; // far beyond 20 projects of 64 KiB

// Every project or none: a store that does not read as a whole is set aside, not half taken.
std::optional<std::vector<Project>> projectsIn(const std::string& text) {
    json value = json::parse(text, nullptr, false);
    if (!value.is_array()) return std::nullopt;
    std::vector<Project> projects;
    for (const json& element : value) {
        std::optional<Project> project = Project::fromJSON(element);
        if (!project) return std::nullopt;
        projects.push_back(std::move(*project));
    }
    return projects;
}

// The desktop changed the list after the one the browser posted, so the browser is behind.
bool browserBehind(const std::optional<WallList>& stored, const std::optional<WallList>& posted) {
    if (!stored) return false;
    if (!posted) return true;
    return stored->at > posted->at && (stored->wall != posted->wall || stored->items != posted->items);
}

std::string newItemID() { return "k" + Crypto::randomUUID().substr(0, 10); }

bool playsAny(const Project& project, const std::set<std::string>& assets) {
    return project.list && std::ranges::any_of(project.list->items, [&](const ListItem& item) {
               return item.lib && assets.contains(*item.lib);
           });
}

} // namespace

Projects::Projects(std::optional<std::filesystem::path> path) {
    if (!path) return;
    store.emplace(std::move(*path), storeLimit, 0600);
    std::optional<std::string> text = store->read();
    if (!text) return;
    std::optional<std::vector<Project>> projects = projectsIn(*text);
    if (!projects) {
        store->unreadable();
        return;
    }
    for (Project& project : *projects)
        byId.insert_or_assign(project.id, std::move(project));
}

double Projects::wallClock() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<Project> Projects::all() const {
    std::lock_guard guard(lock);
    return allLocked();
}

std::optional<Project> Projects::project(const std::string& id) const {
    std::lock_guard guard(lock);
    auto found = byId.find(id);
    if (found == byId.end()) return std::nullopt;
    return found->second;
}

std::optional<WallList> Projects::sync(Project posted) {
    std::optional<WallList> reply;
    update([&] {
        auto stored = byId.find(posted.id);
        const Project base =
            stored != byId.end() ? stored->second : Project{posted.id, posted.name, 0, {}, std::nullopt, {}};
        if (browserBehind(base.list, posted.list)) reply = base.list;
        Project merged{posted.id, posted.name, now(), posted.walls, reply ? reply : posted.list, base.ties};
        // A new seen alone is kept in memory and written with the next change.
        const bool changed = merged.name != base.name || merged.walls != base.walls || merged.list != base.list;
        byId.insert_or_assign(merged.id, std::move(merged));
        trimLocked();
        return changed;
    });
    return reply;
}

void Projects::edit(const std::string& id, const std::function<void(WallList& list, const Project& project)>& change) {
    update([&] {
        auto found = byId.find(id);
        if (found == byId.end()) return false;
        Project& project = found->second;
        const WallList before =
            project.list.value_or(WallList{project.walls.empty() ? "" : project.walls.front().id, 0, {}});
        WallList list = before;
        change(list, project);
        if (list == before) return false;
        // Newer than the list it was made from, even when the clock is behind the browser's.
        list.at = std::max(now(), before.at + 1);
        project.list = std::move(list);
        return true;
    });
}

void Projects::add(const std::vector<Asset>& assets, const std::string& project, const std::string& wall) {
    std::vector<std::string> ids;
    for (const Asset& asset : assets)
        ids.push_back(asset.id);
    tie(ids, project);
    edit(project, [&](WallList& list, const Project& owner) {
        if (std::ranges::none_of(owner.walls, [&](const WallInfo& info) { return info.id == wall; })) return;
        list.wall = wall;
        for (const Asset& asset : assets) {
            if (list.items.size() >= mostItems) break;
            list.items.push_back(ListItem{newItemID(), asset.file, asset.id});
        }
    });
}

void Projects::remove(const std::string& item, const std::string& project) {
    edit(project, [&](WallList& list, const Project&) {
        std::erase_if(list.items, [&](const ListItem& entry) { return entry.id == item; });
    });
}

void Projects::move(const std::string& item, int64_t offset, const std::string& project) {
    edit(project, [&](WallList& list, const Project&) {
        auto found = std::ranges::find(list.items, item, &ListItem::id);
        if (found == list.items.end()) return;
        const int64_t from = found - list.items.begin();
        const int64_t last = int64_t(list.items.size()) - 1;
        // Clamping the offset first keeps a huge one from overflowing.
        const int64_t to = from + std::clamp(offset, -from, last - from);
        if (to == from) return;
        ListItem moving = std::move(*found);
        list.items.erase(found);
        list.items.insert(list.items.begin() + to, std::move(moving));
    });
}

void Projects::tie(const std::vector<std::string>& assets, const std::string& project) {
    update([&] {
        auto found = byId.find(project);
        if (found == byId.end()) return false;
        std::vector<std::string>& ties = found->second.ties;
        const size_t before = ties.size();
        for (const std::string& asset : assets)
            if (std::ranges::find(ties, asset) == ties.end()) ties.push_back(asset);
        return ties.size() > before;
    });
}

void Projects::untie(const std::set<std::string>& assets, const std::string& project) {
    update([&] {
        auto found = byId.find(project);
        return found != byId.end() &&
               std::erase_if(found->second.ties, [&](const std::string& tie) { return assets.contains(tie); }) > 0;
    });
}

void Projects::removeAssets(const std::set<std::string>& assets) {
    const std::vector<Project> projects = all();
    for (const Project& project : projects)
        if (std::ranges::any_of(project.ties, [&](const std::string& tie) { return assets.contains(tie); }))
            untie(assets, project.id);
    for (const Project& project : projects)
        if (playsAny(project, assets))
            edit(project.id, [&](WallList& list, const Project&) {
                std::erase_if(list.items, [&](const ListItem& item) { return item.lib && assets.contains(*item.lib); });
            });
}

std::vector<std::string> Projects::users(const std::string& asset) const {
    std::lock_guard guard(lock);
    std::vector<std::string> found;
    for (const Project& project : allLocked()) {
        if (!playsAny(project, {asset})) continue;
        auto wall = std::ranges::find(project.walls, project.list->wall, &WallInfo::id);
        found.push_back(project.name + " · " + (wall != project.walls.end() ? wall->name : "a wall"));
    }
    return found;
}

std::vector<Project> Projects::owners(const std::string& asset) const {
    std::lock_guard guard(lock);
    std::vector<Project> found;
    for (Project& project : allLocked())
        if (project.files().contains(asset)) found.push_back(std::move(project));
    return found;
}

void Projects::forget(const std::string& project) {
    update([&] { return byId.erase(project) > 0; });
}

std::vector<Project> Projects::allLocked() const {
    std::vector<Project> projects;
    projects.reserve(byId.size());
    for (const auto& [id, project] : byId)
        projects.push_back(project);
    std::ranges::stable_sort(projects, std::greater<>{}, &Project::seen);
    return projects;
}

void Projects::trimLocked() {
    if (byId.size() <= keep) return;
    const std::vector<Project> projects = allLocked();
    for (size_t at = keep; at < projects.size(); ++at)
        if (projects[at].ties.empty()) byId.erase(projects[at].id);
}

void Projects::update(const std::function<bool()>& changeLocked) {
    std::vector<Project> projects;
    uint64_t changed = 0;
    {
        std::lock_guard guard(lock);
        if (!changeLocked()) return;
        changed = ++version;
        projects = allLocked();
    }
    save(projects, changed);
    if (onChange) onChange();
}

void Projects::save(const std::vector<Project>& projects, uint64_t changed) {
    std::lock_guard guard(writing);
    if (!store || changed <= written) return;
    written = changed;
    json array = json::array();
    for (const Project& project : projects)
        array.push_back(project.json());
    // Replacing bad bytes keeps every project in the file even if a file name was not UTF-8.
    store->save(array.dump(-1, ' ', false, json::error_handler_t::replace));
}
