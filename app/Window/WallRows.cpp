#include "app/Window/WallRows.h"

#include "app/Window/LibraryRows.h"

#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Projects/Fit.h"

#include <cmath>

namespace WallRows {
namespace {

using Clock = std::chrono::system_clock;

// Posted this recently, the project is taken to be open in the browser.
constexpr double openSeconds = 15;

std::string seenText(double seen, Clock::time_point now) {
    // In whole milliseconds, as seen is kept: the rounding of the doubles must not make an hour 59 minutes.
    const double milliseconds = std::chrono::duration<double, std::milli>(now.time_since_epoch()).count();
    const double elapsed = std::round(milliseconds - seen) / 1000;
    if (elapsed < openSeconds) return "· open";
    return "· seen " + Text::relativeTime(-elapsed);
}

std::optional<ForgetAsk> forgetAsk(const Project& project) {
    if (project.ties.empty()) return std::nullopt;
    return ForgetAsk{"Forget " + project.name + "?",
                     "Its " + std::to_string(project.ties.size()) + " kept files stay in the library, in no project"};
}

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

// The asset's size: made, still or probed; 0 × 0 when nothing tells it, which Fit leaves unnoted.
MediaKinds::Size sizeOf(const Asset& asset, const MasterInfo* info) {
    if (asset.master) return *asset.master;
    if (asset.still) return *asset.still;
    if (info) return {info->w, info->h};
    return {};
}

std::vector<std::string> fitNotes(const WindowModel& model, const std::optional<Asset>& asset, const WallInfo& wall) {
    if (!asset || asset->isSet()) return {};
    const auto probed = model.probed().find(asset->id);
    const MasterInfo* info = probed == model.probed().end() ? nullptr : &probed->second;
    const MediaKinds::Size size = sizeOf(*asset, info);
    return Fit::notes(size.w, size.h, LibraryRows::rate(*asset, info ? std::optional(*info) : std::nullopt), wall);
}

std::optional<Remark> remark(const ListItem& item, const std::optional<Asset>& asset) {
    if (!item.lib) return Remark{"a file in that browser", Remark::Tone::secondary};
    if (!asset) return Remark{"not in this library", Remark::Tone::warning};
    return std::nullopt;
}

std::vector<Entry> entries(const WindowModel& model, const WallList& list, const WallInfo& wall) {
    std::vector<Entry> found;
    const size_t count = list.items.size();
    for (size_t index = 0; index < count; ++index) {
        const ListItem& item = list.items[index];
        const std::optional<Asset> asset = model.asset(item.lib);
        found.push_back({item.id, index + 1, asset ? asset->name : item.name, fitNotes(model, asset, wall),
                         remark(item, asset), index > 0, index + 1 < count});
    }
    return found;
}

std::vector<std::string> pending(const WindowModel& model, const std::string& project, const std::string& wall) {
    std::vector<std::string> names;
    for (const WallAdd& add : model.wallPending())
        if (add.project == project && add.wall == wall) names.push_back(add.name);
    return names;
}

std::string addTip(size_t selected) {
    if (selected == 0) return "Choose videos or stills to add to this wall";
    return "Add the " + std::to_string(selected) + " selected to this wall";
}

Row row(const WindowModel& model, const Project& project, const WallInfo& wall, size_t selected) {
    Row made{.id = wall.id,
             .name = wall.name,
             .size = sizeText(wall.w, wall.h) + " · " + wall.fps,
             .addTip = addTip(selected),
             .pending = pending(model, project.id, wall.id)};
    if (project.list && project.list->wall == wall.id) {
        made.count = "list · " + std::to_string(project.list->items.size());
        made.entries = entries(model, *project.list, wall);
    }
    return made;
}

} // namespace

bool oneCue(double x, double width) { return x < width * 0.5; }

std::vector<Section> sections(const WindowModel& model, size_t selected, Clock::time_point now) {
    std::vector<Section> found;
    for (const Project& project : model.service().projects()) {
        Section section{project.id, project.name, seenText(project.seen, now), forgetAsk(project), {}};
        for (const WallInfo& wall : project.walls)
            section.rows.push_back(row(model, project, wall, selected));
        found.push_back(std::move(section));
    }
    return found;
}

} // namespace WallRows
