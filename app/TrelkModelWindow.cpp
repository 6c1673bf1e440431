#include "app/TrelkModel.h"

#include "app/Desktop.h"

#include "TrelkCore/Library/Removal.h"
#include "TrelkCore/Platform/Text.h"

#include <QSettings>

#include <algorithm>
#include <chrono>

namespace {

constexpr const char* libraryProjectKey = "libraryProject";

} // namespace

std::optional<std::string> TrelkModel::storedLibraryProject() const {
    if (!settings) return std::nullopt;
    const QVariant value = QSettings(QString::fromStdString(*settings), QSettings::IniFormat).value(libraryProjectKey);
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void TrelkModel::keepLibraryProject() const {
    if (!settings) return;
    QSettings stored(QString::fromStdString(*settings), QSettings::IniFormat);
    if (shownProject) stored.setValue(libraryProjectKey, QString::fromStdString(*shownProject));
    else stored.remove(libraryProjectKey);
}

void TrelkModel::setLibraryProject(std::optional<std::string> project) {
    if (project == shownProject) return;
    shownProject = std::move(project);
    ++revision;
    keepLibraryProject();
    emit changed();
}

// A project that is gone is no longer shown.
void TrelkModel::publishProjects(std::vector<Project> list) {
    publishedProjects = std::move(list);
    ++revision;
    if (shownProject && std::ranges::none_of(publishedProjects, [&](const Project& p) { return p.id == *shownProject; }))
        setLibraryProject(std::nullopt);
}

// Against the queue's own list: the published one may not hold yet the jobs of an addition made
// a moment ago, and an addition whose jobs are not found is settled as having nothing to add.
void TrelkModel::resolveAdds() {
    if (publishedWallAdds.empty() && wallAdds.all().empty()) return;
    wallAdds.resolve(queue.jobs(), publishedAssets, projectStore, std::chrono::system_clock::now());
    setWallPending(wallAdds.all());
}

void TrelkModel::setWallPending(std::vector<WallAdd> adds) {
    if (adds == publishedWallAdds) return;
    publishedWallAdds = std::move(adds);
    emit changed();
}

// A stopped set stops with all its parts.
void TrelkModel::cancel(const std::string& job) {
    const auto found = std::ranges::find(publishedJobs, job, &Job::id);
    if (found != publishedJobs.end() && found->set && found->batch) queue.cancelSet(*found->batch);
    else queue.cancel(job);
}

void TrelkModel::retry(const std::string& job) {
    queue.retry(job);
}

void TrelkModel::forgetPairedBrowsers() {
    pairing.forgetAll();
    pairedCount = 0;
    emit changed();
}

void TrelkModel::stop(const JobGroup& group) {
    if (group.batch) return queue.cancelSet(*group.batch);
    for (const Job& job : group.jobs)
        if (job.active()) queue.cancel(job.id);
}

void TrelkModel::retry(const JobGroup& group) {
    if (group.batch) return queue.retrySet(*group.batch);
    for (const Job& job : group.jobs)
        if (job.is<Job::Failed>() || job.is<Job::Cancelled>()) queue.retry(job.id);
}

void TrelkModel::clearFailed() {
    queue.clearFailed();
}

std::vector<std::string> TrelkModel::usersOf(const std::string& asset) const {
    return projectStore.users(asset);
}

void TrelkModel::moveToTrash(const std::vector<Asset>& assets) {
    for (const Asset& asset : assets) {
        try {
            Library::trash(asset, usersOf(asset.id), Library::Confirmed::yes, Library::toTrash);
        } catch (const std::exception& failure) {
            desktop.alert({"Couldn't move " + asset.name + " to the Trash: " + failure.what()});
        }
    }
    rescan();
}

void TrelkModel::tie(const std::vector<std::string>& assets, const std::string& project) {
    projectStore.tie(assets, project);
}

void TrelkModel::untie(const std::set<std::string>& assets, const std::string& project) {
    projectStore.untie(assets, project);
}

void TrelkModel::moveItem(const std::string& item, int64_t offset, const std::string& project) {
    projectStore.move(item, offset, project);
}

void TrelkModel::removeItem(const std::string& item, const std::string& project) {
    projectStore.remove(item, project);
}

void TrelkModel::forget(const std::string& project) {
    projectStore.forget(project);
}

void TrelkModel::dismiss(const std::vector<JobGroup>& groups) {
    std::set<std::string> ids;
    for (const JobGroup& group : groups)
        if (!group.active())
            for (const Job& job : group.jobs) ids.insert(job.id);
    queue.remove(ids);
}

bool TrelkModel::anyStopped() const {
    return std::ranges::any_of(JobGroup::of(publishedJobs), &JobGroup::stopped);
}

std::optional<Asset> TrelkModel::asset(const std::optional<std::string>& id) const {
    if (!id) return std::nullopt;
    const auto found = std::ranges::find(publishedAssets, *id, &Asset::id);
    if (found == publishedAssets.end()) return std::nullopt;
    return *found;
}

void TrelkModel::openCleanup() {
    cleanupPlan = Cleanup::plan(publishedAssets, projectStore.all(), queue.keptMasters(), library);
    emit changed();
}

void TrelkModel::cancelCleanup() {
    cleanupPlan.reset();
    emit changed();
}

void TrelkModel::runCleanup(const std::vector<CleanupGroup>& groups) {
    cancelCleanup();
    const std::vector<std::string> failed = Cleanup::run(Cleanup::chosen(groups), library, projectStore, Library::toTrash);
    rescan();
    if (!failed.empty()) desktop.alert({"Couldn't move to the Trash: " + Text::joined(failed, ", ")});
}
