#include "app/Window/WindowModel.h"

#include "app/Service/DesktopServices.h"

#include "TrelkCore/Library/Removal.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <chrono>

namespace {

// The facts found are written this long after the first of them, together with those found
// meanwhile.
constexpr int probeSavingMilliseconds = 2000;

} // namespace

WindowModel::WindowModel(TrelkModel& service)
    : followed(service),
      desktop(service.desktopServices()),
      queue(service.stores().queue),
      projectStore(service.stores().projects),
      library(service.folder()),
      settings(service.setup().settings),
      shownProject(settings.libraryProject()),
      probeCache(service.setup().serviceFolder / "probed.json") {
    probes.setMaxThreadCount(1); // in the background, beside the making
    probeSaving.setSingleShot(true);
    probeSaving.setInterval(probeSavingMilliseconds);
    connect(&probeSaving, &QTimer::timeout, this, &WindowModel::saveProbed);
    connect(&followed, &TrelkModel::jobsUpdated, this, [this] {
        resolveAdds();
        probeNext(); // a making that ended lets the probes go on
    });
    connect(&followed, &TrelkModel::refreshed, this, [this](bool assetsRead) {
        if (assetsRead) probe();
        resolveAdds();
    });
    connect(&followed, &TrelkModel::projectsUpdated, this, &WindowModel::followProjects);
    connect(&followed, &TrelkModel::changed, this, &WindowModel::changed);
    followProjects();
    probe();
}

// The batch under way stops at its next file, before what it uses goes; what it found is lost.
WindowModel::~WindowModel() {
    probesHeld = true;
    probes.waitForDone();
    saveProbed();
}

void WindowModel::setLibraryProject(std::optional<std::string> project) {
    if (project == shownProject) return;
    shownProject = std::move(project);
    ++revision;
    settings.keepLibraryProject(shownProject);
    emit changed();
}

// A project that is gone is no longer shown.
void WindowModel::followProjects() {
    const std::vector<Project>& projects = followed.projects();
    if (shownProject && std::ranges::none_of(projects, [&](const Project& p) { return p.id == *shownProject; }))
        setLibraryProject(std::nullopt);
}

// Against the queue's own list: the published one may not hold yet the jobs of an addition made
// a moment ago, and an addition whose jobs are not found is settled as having nothing to add.
void WindowModel::resolveAdds() {
    if (publishedWallAdds.empty() && wallAdds.all().empty()) return;
    wallAdds.resolve(queue.jobs(), followed.assets(), projectStore, std::chrono::system_clock::now());
    setWallPending(wallAdds.all());
}

void WindowModel::setWallPending(std::vector<WallAdd> adds) {
    if (adds == publishedWallAdds) return;
    publishedWallAdds = std::move(adds);
    emit changed();
}

// A stopped set stops with all its parts.
void WindowModel::cancel(const std::string& job) {
    const std::vector<Job>& jobs = followed.jobs();
    const auto found = std::ranges::find(jobs, job, &Job::id);
    if (found != jobs.end() && found->set && found->batch) queue.cancelSet(*found->batch);
    else queue.cancel(job);
}

void WindowModel::stop(const JobGroup& group) {
    if (group.batch) return queue.cancelSet(*group.batch);
    for (const Job& job : group.jobs)
        if (job.active()) queue.cancel(job.id);
}

void WindowModel::retry(const JobGroup& group) {
    if (group.batch) return queue.retrySet(*group.batch);
    for (const Job& job : group.jobs)
        if (job.is<Job::Failed>() || job.is<Job::Cancelled>()) queue.retry(job.id);
}

void WindowModel::moveToTrash(const std::vector<Asset>& assets) {
    for (const Asset& asset : assets) {
        try {
            Library::trash(asset, projectStore.users(asset.id), Library::Confirmed::yes, Library::toTrash);
        } catch (const std::exception& failure) {
            desktop.alert({"Couldn't move " + asset.name + " to the Trash: " + failure.what()});
        }
    }
    followed.rescan();
}

void WindowModel::dismiss(const std::vector<JobGroup>& groups) {
    std::set<std::string> ids;
    for (const JobGroup& group : groups)
        if (!group.active())
            for (const Job& job : group.jobs) ids.insert(job.id);
    queue.remove(ids);
}

bool WindowModel::anyStopped() const {
    return std::ranges::any_of(JobGroup::of(followed.jobs()), &JobGroup::stopped);
}

std::optional<Asset> WindowModel::asset(const std::optional<std::string>& id) const {
    if (!id) return std::nullopt;
    const std::vector<Asset>& assets = followed.assets();
    const auto found = std::ranges::find(assets, *id, &Asset::id);
    if (found == assets.end()) return std::nullopt;
    return *found;
}

void WindowModel::openCleanup() {
    cleanupPlan = Cleanup::plan(followed.assets(), projectStore.all(), queue.keptMasters(), library);
    emit changed();
}

void WindowModel::cancelCleanup() {
    cleanupPlan.reset();
    emit changed();
}

void WindowModel::runCleanup(const std::vector<CleanupGroup>& groups) {
    cancelCleanup();
    const std::vector<std::string> failed = Cleanup::run(Cleanup::chosen(groups), library, projectStore, Library::toTrash);
    followed.rescan();
    if (!failed.empty()) desktop.alert({"Couldn't move to the Trash: " + Text::joined(failed, ", ")});
}
