#include "app/Desktop/TrayMenu.h"

#include "app/Service/DesktopServices.h"
#include "app/Window/WindowModel.h"
#include "app/UpdateChecker.h"

#include "TrelkCore/Version.h"

#include <QTimer>

#include <cmath>
#include <utility>

std::string TrayMenu::jobText(const Job& job) {
    const std::string name = job.master.filename().string();
    return std::visit(
        [&](const auto& state) -> std::string {
            using State = std::decay_t<decltype(state)>;
            if constexpr (std::is_same_v<State, Job::Queued>) return "Cancel · " + name + " · waiting";
            else if constexpr (std::is_same_v<State, Job::Making>)
                return "Cancel · " + name + " · making " + std::to_string(int(std::floor(state.fraction * 100))) + "%";
            else if constexpr (std::is_same_v<State, Job::Failed>) return "Retry · " + name + " · " + state.message;
            else if constexpr (std::is_same_v<State, Job::Cancelled>) return "Retry · " + name + " · cancelled";
            else return "";
        },
        job.state);
}

TrayMenu::TrayMenu(WindowModel& model, UpdateChecker& updates, DesktopServices& desktop, std::function<void()> openManager)
    : model(model), updates(updates), desktop(desktop), openManager(std::move(openManager)) {
    connect(&model, &WindowModel::changed, this, &TrayMenu::rebuildSoon);
    connect(&updates, &UpdateChecker::changed, this, &TrayMenu::rebuildSoon);
    rebuild();
}

// Later, once for a burst of changes, and never inside the action that caused the change: an
// action must not be deleted while it is being triggered.
void TrayMenu::rebuildSoon() {
    if (std::exchange(rebuildPending, true)) return;
    QTimer::singleShot(0, this, [this] {
        rebuildPending = false;
        rebuild();
    });
}

void TrayMenu::rebuild() {
    items.clear();
    addText("vorlane Trelk " + TrelkInfo::current().description());
    addText(model.service().status());
    addText(model.service().librarySummary());
    const std::vector<Job> open = model.service().openJobs();
    if (!open.empty()) items.addSeparator();
    for (const Job& job : open) addJob(job);
    items.addSeparator();
    addCommand("Media manager…", [this] {
        desktop.activate();
        openManager();
    });
    addCommand("Add masters…", [this] { model.addMasters(); });
    addCommand("Open Drop here folder", [this] { desktop.open(model.stores().queue.dropFolder()); });
    addCommand("Open library folder", [this] { desktop.open(model.service().folder()); });
    addCommand("Forget paired browsers", [this] { model.service().forgetPairedBrowsers(); })->setEnabled(model.service().paired() != 0);
    items.addSeparator();
    if (const std::optional<Version>& version = updates.available())
        addCommand("Download " + version->description() + "…", [this] {
            if (updates.downloadURL()) desktop.open(*updates.downloadURL());
        });
    addCommand(updates.checking() ? "Checking…" : "Check for updates…", [this] {
        updates.check(false);
    })->setEnabled(!updates.checking());
    items.addSeparator();
    addCommand("Quit vorlane Trelk", [this] { desktop.quit(); })->setShortcut(QKeySequence::Quit);
}

// A line that says how things stand; choosing it does nothing.
void TrayMenu::addText(const std::string& text) {
    items.addAction(QString::fromStdString(text))->setEnabled(false);
}

QAction* TrayMenu::addCommand(const std::string& text, std::function<void()> action) {
    QAction* item = items.addAction(QString::fromStdString(text));
    connect(item, &QAction::triggered, this, std::move(action));
    return item;
}

void TrayMenu::addJob(const Job& job) {
    const bool running = job.is<Job::Queued>() || job.is<Job::Making>();
    addCommand(jobText(job), [this, id = job.id, running] {
        if (running) model.cancel(id);
        else model.stores().queue.retry(id);
    });
}
