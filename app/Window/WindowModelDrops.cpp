#include "app/Window/WindowModel.h"

#include "app/Service/DesktopServices.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// The file a URL names; none for any other address.
std::optional<fs::path> localFile(const QUrl& url) {
    if (!url.isLocalFile() || url.toLocalFile().isEmpty()) return std::nullopt;
    return fs::path(QFile::encodeName(url.toLocalFile()).toStdString());
}

DraggedItems holdingFiles(const DraggedItems& items) {
    DraggedItems files;
    std::ranges::copy_if(items, std::back_inserter(files), [](const auto& item) { return item->hasFileURL(); });
    return files;
}

// Runs the task as one of the main thread's own, unless the model is gone by then.
void later(const QPointer<WindowModel>& model, std::function<void()> task) {
    if (model) QMetaObject::invokeMethod(model.data(), std::move(task), Qt::QueuedConnection);
}

// The items of one drop, asked for their files one after the other so that their order holds.
struct Loading {
    DraggedItems items;
    std::function<void(std::vector<fs::path>)> done;
    size_t next = 0;
    std::vector<fs::path> files = {};
};

// The item's file, or none when it gives no URL or one of another kind.
void loadURL(DraggedItem& item, std::function<void(std::optional<fs::path>)> done) {
    item.loadFileURL([done = std::move(done)](std::optional<QUrl> url) { done(url ? localFile(*url) : std::nullopt); });
}

// Each answer resumes as a task of its own: items that answer at once don't stack up a long drop.
void loadNext(const QPointer<WindowModel>& model, const std::shared_ptr<Loading>& loading) {
    if (!model) return;
    if (loading->next == loading->items.size()) return loading->done(std::move(loading->files));
    loadURL(*loading->items[loading->next++], [model, loading](std::optional<fs::path> file) {
        if (file) loading->files.push_back(*file);
        later(model, [model, loading] { loadNext(model, loading); });
    });
}

} // namespace

std::vector<std::string> WindowModel::masterKinds() {
    return {MediaKinds::masterTypes.begin(), MediaKinds::masterTypes.end()};
}

std::optional<std::vector<fs::path>> WindowModel::chooseMasters() {
    desktop.activate();
    std::optional<std::vector<fs::path>> chosen = desktop.chooseFiles({masterKinds(), "Add"});
    if (chosen && chosen->empty()) return std::nullopt;
    return chosen;
}

void WindowModel::addMasters() {
    if (std::optional<std::vector<fs::path>> files = chooseMasters())
        tieWhenMade(queue.addAll(*files, Origin::inPlace, Grouping::byName));
}

// While the library is shown for a project, what is made from it joins that project.
void WindowModel::tieWhenMade(const std::vector<std::optional<std::string>>& jobs) {
    if (!shownProject) return;
    wallAdds.add(*shownProject, "", jobs, "");
    setWallPending(wallAdds.all());
}

void WindowModel::videos(const DraggedItems& items, std::function<void(std::vector<fs::path>)> done) {
    loadNext(this, std::make_shared<Loading>(Loading{items, std::move(done)}));
}

bool WindowModel::dropMasters(const DraggedItems& items) {
    const DraggedItems files = holdingFiles(items);
    if (files.empty()) return false;
    videos(files, [this](const std::vector<fs::path>& dropped) { droppedOnLibrary(dropped); });
    return true;
}

// Several files wait for the user to choose how they group; one is made at once.
void WindowModel::droppedOnLibrary(const std::vector<fs::path>& files) {
    if (files.size() > 1) {
        pendingDrop = DropPlan(files);
        emit changed();
    } else if (files.size() == 1) {
        tieWhenMade(queue.addAll(files, Origin::inPlace, Grouping::byName));
    }
}

void WindowModel::confirmDrop(const DropPlan& plan) {
    cancelDrop();
    tieWhenMade(queue.addAll(plan.files, Origin::inPlace, plan.grouping));
}

void WindowModel::cancelDrop() {
    pendingDrop.reset();
    emit changed();
}

void WindowModel::dropFiles(const DraggedItems& items, const std::string& wall, const std::string& project,
                           bool oneCue) {
    const DraggedItems files = holdingFiles(items);
    if (files.empty()) return;
    videos(files, [this, wall, project, oneCue](const std::vector<fs::path>& dropped) {
        addFiles(dropped, wall, project, oneCue);
    });
}

// Each item on its own, in whatever order they answer; ids the library does not hold are left out.
void WindowModel::drop(const DraggedItems& items, const std::string& wall, const std::string& project) {
    const QPointer<WindowModel> model(this);
    for (const std::shared_ptr<DraggedItem>& item : items)
        item->loadText([model, wall, project](std::optional<std::string> id) {
            if (!id) return;
            later(model, [model, wall, project, id] {
                if (std::optional<Asset> found = model->asset(id)) model->projectStore.add({*found}, project, wall);
            });
        });
}

void WindowModel::add(const std::vector<Asset>& assets, const std::string& wall, const std::string& project) {
    if (!assets.empty()) projectStore.add(assets, project, wall);
    else if (std::optional<std::vector<fs::path>> files = chooseMasters()) addFiles(*files, wall, project, false);
}

// One cue needs two videos at least; the wall shows the addition by the name its result will have.
void WindowModel::addFiles(const std::vector<fs::path>& files, const std::string& wall, const std::string& project,
                          bool oneCue) {
    const DropPlan plan(files);
    if (plan.files.empty()) return;
    const std::vector<std::string> names = plan.names();
    const std::vector<std::string> videos = plan.videoNames();
    const bool cue = oneCue && videos.size() >= 2;
    const std::vector<std::optional<std::string>> jobs =
        queue.addAll(plan.files, Origin::inPlace, cue ? Grouping::oneCue : Grouping::separate);
    const std::string name = names.size() == 1                    ? names.front()
                             : cue && videos.size() == names.size() ? plan.setName()
                                                                    : DropPlan::things(names);
    wallAdds.add(project, wall, jobs, name);
    setWallPending(wallAdds.all());
}
