#include "app/Window/LibraryRows.h"

#include "app/Window/WindowModel.h"

#include "TrelkCore/Library/Details.h"
#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Projects/Fit.h"

#include <algorithm>
#include <numeric>

namespace {

std::string items(size_t count) { return std::to_string(count) + " item" + (count == 1 ? "" : "s"); }

Details::Facts factsOf(const MasterInfo& info) {
    return {info.w, info.h, info.fps, info.duration, info.codec, info.audio};
}

std::string shape(const Asset& asset, const std::optional<MasterInfo>& info) {
    if (asset.isSet()) {
        std::vector<std::string> sizes;
        for (const Asset::Part& part : asset.parts) sizes.push_back(std::to_string(part.w) + "×" + std::to_string(part.h));
        return "Set · " + std::to_string(asset.parts.size()) + " parts · " + Text::joined(sizes, " + ");
    }
    if (asset.master)
        return std::to_string(asset.master->w) + " × " + std::to_string(asset.master->h) + " · " +
               std::to_string(asset.strips.size()) + " strips";
    if (asset.still) return "Still · " + std::to_string(asset.still->w) + " × " + std::to_string(asset.still->h);
    if (info) return std::to_string(info->w) + " × " + std::to_string(info->h);
    return "";
}

bool onList(const Project& project, const Asset& asset) {
    return project.list && std::ranges::any_of(project.list->items, [&](const ListItem& item) { return item.lib == asset.id; });
}

} // namespace

LibraryRows LibraryRows::of(const WindowModel& model, std::string_view search) {
    LibraryRows rows;
    const auto showing = std::ranges::find(model.service().projects(), model.libraryProject(), [](const Project& p) {
        return std::optional(p.id);
    });
    if (showing != model.service().projects().end()) rows.showing = *showing;
    rows.groups = JobGroup::of(model.service().jobs());
    const std::set<std::string> files = rows.showing ? rows.showing->files() : std::set<std::string>{};
    const std::string_view sought = Text::trim(search, " \t\r\n");
    std::ranges::copy_if(model.service().assets(), std::back_inserter(rows.shown), [&](const Asset& asset) {
        return (!rows.showing || files.contains(asset.id)) &&
               (sought.empty() || Text::containsIgnoringCase(asset.name, sought));
    });
    const int64_t bytes = std::accumulate(rows.shown.begin(), rows.shown.end(), int64_t(0),
                                          [](int64_t sum, const Asset& asset) { return sum + asset.bytes; });
    rows.summary = rows.showing ? items(rows.shown.size()) + " · " + Text::byteCount(bytes) : model.service().librarySummary();
    rows.sayWhenEmpty(model, sought);
    return rows;
}

void LibraryRows::refreshJobs(const WindowModel& model, std::string_view search) {
    groups = JobGroup::of(model.service().jobs());
    sayWhenEmpty(model, Text::trim(search, " \t\r\n"));
}

void LibraryRows::sayWhenEmpty(const WindowModel& model, std::string_view sought) {
    emptyText.reset();
    if (!shown.empty() || !groups.empty()) return;
    if (model.service().assets().empty()) emptyText = "Drop masters here, or into Drop here, or Add masters…";
    else if (showing && sought.empty())
        emptyText = "Nothing in " + showing->name + " yet · drop masters here, or right-click a file in All files";
    else emptyText = "Nothing matches";
}

std::vector<Asset> LibraryRows::selected(const std::set<std::string>& selection) const {
    std::vector<Asset> found;
    std::ranges::copy_if(shown, std::back_inserter(found), [&](const Asset& asset) { return selection.contains(tag(asset)); });
    return found;
}

// A probe that found no rate says 0.
std::optional<double> LibraryRows::rate(const Asset& asset, const std::optional<MasterInfo>& info) {
    if (asset.fps) return asset.fps;
    if (info && info->fps > 0) return info->fps;
    return std::nullopt;
}

std::string LibraryRows::detail(const Asset& asset, const std::optional<MasterInfo>& info) {
    std::vector<std::string> parts;
    if (std::string text = shape(asset, info); !text.empty()) parts.push_back(std::move(text));
    const bool moving = !asset.still.has_value();
    if (info && moving && !info->codec.empty()) parts.push_back(Details::codec(info->codec));
    if (const std::optional<double> shownRate = rate(asset, info); shownRate && moving)
        parts.push_back(Fit::fpsLabel(*shownRate) + " fps");
    if (info && moving && info->duration > 0) parts.push_back(Details::clock(info->duration));
    parts.push_back(Text::byteCount(asset.bytes));
    parts.push_back(Text::monthDay(asset.modified));
    return Text::joined(parts, " · ");
}

std::string LibraryRows::help(const Asset& asset, const std::optional<MasterInfo>& info) {
    std::vector<std::string> lines;
    for (const auto& [label, value] : Details::lines(asset, info ? std::optional(factsOf(*info)) : std::nullopt))
        lines.push_back(label + ": " + value);
    return Text::joined(lines, "\n");
}

std::vector<LibraryRows::ProjectEntry> LibraryRows::projectEntries(const std::vector<Project>& projects,
                                                                   const std::vector<Asset>& targets) {
    std::vector<ProjectEntry> entries;
    for (const Project& project : projects) {
        if (std::ranges::all_of(targets, [&](const Asset& asset) { return onList(project, asset); })) {
            entries.push_back({project.id, "✓ " + project.name + " · on its walls", false, false});
            continue;
        }
        const std::set<std::string> files = project.files();
        const bool kept = std::ranges::all_of(targets, [&](const Asset& asset) { return files.contains(asset.id); });
        entries.push_back({project.id, (kept ? "✓ " : "") + project.name, true, kept});
    }
    return entries;
}

std::vector<Asset> LibraryRows::deleteSelection(WindowModel& model, const std::set<std::string>& selection) {
    std::vector<JobGroup> ended;
    for (const JobGroup& group : JobGroup::of(model.service().jobs())) {
        if (!selection.contains(tag(group))) continue;
        if (group.active()) model.stop(group);
        else ended.push_back(group);
    }
    model.dismiss(ended);
    std::vector<Asset> removing;
    std::ranges::copy_if(model.service().assets(), std::back_inserter(removing),
                         [&](const Asset& asset) { return selection.contains(tag(asset)); });
    return removing;
}

std::string LibraryRows::trashTitle(const std::vector<Asset>& assets) {
    if (assets.size() == 1) return "Move " + assets.front().name + " to the Trash?";
    return "Move " + std::to_string(assets.size()) + " items to the Trash?";
}

std::string LibraryRows::trashMessage(const WindowModel& model, const std::vector<Asset>& assets) {
    std::vector<std::string> users, lines;
    for (const Asset& asset : assets)
        for (std::string& user : model.stores().projects.users(asset.id)) users.push_back(std::move(user));
    if (!users.empty()) lines.push_back("In use · " + Text::joined(users, ", "));
    if (assets.size() == 1) {
        const Asset& asset = assets.front();
        if (asset.isSet()) lines.push_back("Its " + std::to_string(asset.parts.size()) + " parts and manifest go too.");
        else if (!asset.master) lines.push_back("The file goes to the Trash.");
        else lines.push_back("Its wide file, strips and manifest go too.");
    }
    return Text::joined(lines, "\n");
}
