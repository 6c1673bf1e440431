#pragma once
#include "TrelkCore/Jobs/JobGroup.h"
#include "TrelkCore/Library/Asset.h"
#include "TrelkCore/Making/Ladder.h"
#include "TrelkCore/Projects/Project.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class WindowModel;

// What the library pane lists, and the texts of its rows: the job groups, then the assets of
// the project shown that match the search. Rows are named by tags: "g:" + group id, "a:" +
// asset id.
struct LibraryRows {
    // One entry of an asset row's "Projects" menu.
    struct ProjectEntry {
        std::string project;
        std::string title;
        bool actionable = false; // every target on the project's list: nothing to do
        bool untie = false;      // every target kept with the project: choosing unties them
        bool operator==(const ProjectEntry&) const = default;
    };

    std::optional<Project> showing;
    std::vector<JobGroup> groups;
    std::vector<Asset> shown;
    std::string summary;
    std::optional<std::string> emptyText; // when there is no row at all

    static LibraryRows of(const WindowModel& model, std::string_view search);
    // The jobs as they are now, for a change of the model that left everything else as it was.
    void refreshJobs(const WindowModel& model, std::string_view search);

    static std::string tag(const JobGroup& group) { return "g:" + group.id; }
    static std::string tag(const Asset& asset) { return "a:" + asset.id; }
    // The shown assets whose rows are selected.
    std::vector<Asset> selected(const std::set<std::string>& selection) const;

    // The asset's frame rate, else the probed one.
    static std::optional<double> rate(const Asset& asset, const std::optional<MasterInfo>& info);
    // "Set · 2 parts · 1920×1080 + 1920×1080 · 25 fps · 1.2 MB · Mar 4"
    static std::string detail(const Asset& asset, const std::optional<MasterInfo>& info);
    // The labelled facts, a line each.
    static std::string help(const Asset& asset, const std::optional<MasterInfo>& info);

    static std::vector<ProjectEntry> projectEntries(const std::vector<Project>& projects,
                                                    const std::vector<Asset>& targets);

    // The delete command: selected job rows stop, or go when stopped; the selected assets come
    // back, to be confirmed before they go to the Trash.
    static std::vector<Asset> deleteSelection(WindowModel& model, const std::set<std::string>& selection);
    static std::string trashTitle(const std::vector<Asset>& assets);
    static std::string trashMessage(const WindowModel& model, const std::vector<Asset>& assets);

private:
    void sayWhenEmpty(const WindowModel& model, std::string_view sought);
};
