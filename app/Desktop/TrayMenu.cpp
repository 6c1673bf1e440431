#include "app/Desktop/TrayMenu.h"

#include "app/Service/DesktopServices.h"
#include "app/Window/WindowModel.h"
#include "app/UpdateChecker.h"

#include "TrelkCore/Version.h"

#include <QScreen>

#include <algorithm>
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

TrayMenu::TrayMenu(WindowModel& model, UpdateChecker& updates, DesktopServices& desktop, std::function<void()> openManager,
                   std::chrono::milliseconds pace)
    : model(model), updates(updates), desktop(desktop), openManager(std::move(openManager)), pace(pace) {
    pending.setSingleShot(true);
    connect(&pending, &QTimer::timeout, this, &TrayMenu::refresh);
    connect(&model, &WindowModel::changed, this, &TrayMenu::refreshSoon);
    connect(&updates, &UpdateChecker::changed, this, &TrayMenu::refreshSoon);
    refresh();
}

// Later, once for a burst of changes, and never inside the action that caused the change: an
// action must not be deleted while it is being triggered.
void TrayMenu::refreshSoon() {
    if (pending.isActive()) return;
    const auto since = std::chrono::milliseconds(sinceRefresh.elapsed());
    pending.start(since >= pace ? std::chrono::milliseconds(0) : pace - since);
}

void TrayMenu::refresh() {
    sinceRefresh.start();
    std::vector<Entry> next = entries();
    reshape(next);
    shown = std::move(next);
    update();
    if (items.isVisible()) keepOnScreen();
}

// An open menu that grows with a longer line grows to the right: it is moved back to show whole.
void TrayMenu::keepOnScreen() {
    items.adjustSize();
    const QRect screen = items.screen()->availableGeometry();
    const QRect place = items.geometry();
    items.move(std::clamp(place.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - place.width())),
               std::clamp(place.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - place.height())));
}

std::vector<TrayMenu::Entry> TrayMenu::entries() const {
    std::vector<Entry> lines{{"vorlane Trelk " + TrelkInfo::current().description(), {}, false},
                             {model.service().status(), {}, false},
                             {model.service().librarySummary(), {}, false}};
    const std::vector<Job> open = model.service().openJobs();
    if (!open.empty()) lines.push_back({});
    for (const Job& each : open) lines.push_back(job(each));
    lines.push_back({});
    lines.push_back({"Media manager…", [this] {
                         desktop.activate();
                         openManager();
                     }});
    lines.push_back({"Add masters…", [this] { model.addMasters(); }});
    lines.push_back({"Open Drop here folder", [this] { desktop.open(model.stores().queue.dropFolder()); }});
    lines.push_back({"Open library folder", [this] { desktop.open(model.service().folder()); }});
    lines.push_back({"Forget paired browsers", [this] { model.service().forgetPairedBrowsers(); },
                     model.service().paired() != 0});
    lines.push_back({});
    if (const std::optional<Version>& version = updates.available())
        lines.push_back({"Download " + version->description() + "…", [this] {
                             if (updates.downloadURL()) desktop.open(*updates.downloadURL());
                         }});
    lines.push_back({updates.checking() ? "Checking…" : "Check for updates…", [this] { updates.check(false); },
                     !updates.checking()});
    lines.push_back({});
    lines.push_back({"Quit vorlane Trelk", [this] { desktop.quit(); }, true, true});
    return lines;
}

namespace {

bool sameKind(const auto& one, const auto& other) {
    return one.text.empty() == other.text.empty() && bool(one.action) == bool(other.action) && one.quits == other.quits;
}

} // namespace

// Each item added or taken away is a layout the panel fetches again: only the lines between the
// first and the last that changed their kind are made again, as when a job comes or goes.
void TrayMenu::reshape(const std::vector<Entry>& next) {
    const QList<QAction*> actions = items.actions();
    const size_t before = shown.size();
    size_t same = 0;
    while (same < before && same < next.size() && sameKind(shown[same], next[same])) ++same;
    size_t sameAtEnd = 0;
    while (sameAtEnd < before - same && sameAtEnd < next.size() - same &&
           sameKind(shown[before - 1 - sameAtEnd], next[next.size() - 1 - sameAtEnd]))
        ++sameAtEnd;
    for (size_t i = same; i < before - sameAtEnd; ++i) delete actions[qsizetype(i)];
    QAction* following = sameAtEnd ? actions[qsizetype(before - sameAtEnd)] : nullptr;
    for (size_t i = same; i < next.size() - sameAtEnd; ++i) items.insertAction(following, item(next[i]));
}

QAction* TrayMenu::item(const Entry& entry) {
    auto* made = new QAction(&items);
    made->setSeparator(entry.text.empty());
    if (entry.quits) made->setShortcut(QKeySequence::Quit);
    // The entry's action as it is when chosen, not as it was when the item was made.
    if (entry.action)
        connect(made, &QAction::triggered, this, [this, made] {
            const qsizetype at = items.actions().indexOf(made);
            if (at >= 0 && size_t(at) < shown.size() && shown[size_t(at)].action) shown[size_t(at)].action();
        });
    return made;
}

// Qt tells the panel of an item only when its text or state really changes.
void TrayMenu::update() {
    const QList<QAction*> actions = items.actions();
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].text.empty()) continue;
        actions[qsizetype(i)]->setText(QString::fromStdString(shown[i].text));
        actions[qsizetype(i)]->setEnabled(shown[i].enabled);
    }
}

TrayMenu::Entry TrayMenu::job(const Job& job) const {
    const bool running = job.is<Job::Queued>() || job.is<Job::Making>();
    return {jobText(job), [this, id = job.id, running] {
                if (running) model.cancel(id);
                else model.stores().queue.retry(id);
            }};
}
