#include "app/Desktop/LibraryPane.h"

#include "app/Service/DesktopServices.h"
#include "app/Desktop/Confirmation.h"
#include "app/Desktop/Icons.h"
#include "app/Desktop/MimeItems.h"
#include "app/Desktop/SheetLook.h"
#include "app/Window/WindowModel.h"

#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using SheetLook::text;

// The accent outline drawn over the whole pane while files are dragged over it.
class DropOutline : public QWidget {
public:
    explicit DropOutline(QWidget& pane) : QWidget(&pane) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 6, 6);
    }
};

QToolButton& headerButton(Icons::Symbol symbol, const QString& title, const QString& tooltip) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIcon(Icons::icon(symbol, button->palette().color(QPalette::ButtonText)));
    button->setText(title);
    button->setToolTip(tooltip);
    return *button;
}

bool holdsFiles(const QMimeData& data) {
    return std::ranges::any_of(mimeItems(data), &DraggedItem::hasFileURL);
}

} // namespace

LibraryPane::LibraryPane(WindowModel& model, DesktopServices& desktop, QWidget* parent)
    : QWidget(parent), model(model), desktop(desktop) {
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(&header());
    column->addWidget(&projectLine());
    column->addWidget(&searchLine());
    buildList();
    column->addWidget(list, 1);
    empty = new QLabel;
    empty->setWordWrap(true);
    empty->setAlignment(Qt::AlignCenter);
    empty->setContentsMargins(20, 20, 20, 20);
    SheetLook::secondary(*empty);
    column->addWidget(empty, 1);
    outline = new DropOutline(*this);
    refresh();
}

// The summary stands under the title: at the pane's usual width one line cannot hold the title,
// both buttons and the summary.
QWidget& LibraryPane::header() {
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(10, 10, 10, 10);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = new QLabel("Library");
    SheetLook::headline(*title);
    titles->addWidget(title);
    summary = new SheetLook::OneLine({});
    SheetLook::caption(*summary);
    titles->addWidget(summary);
    row->addLayout(titles, 1);
    clearFailed = &headerButton(Icons::Symbol::clearFailed, "Clear failed", "Remove every failed or stopped row");
    connect(clearFailed, &QToolButton::clicked, this, [this] { model.stores().queue.clearFailed(); });
    row->addWidget(clearFailed);
    QToolButton& cleanUp =
        headerButton(Icons::Symbol::cleanUp, "Clean up…", "What the library holds that could go, with sizes");
    connect(&cleanUp, &QToolButton::clicked, this, [this] { model.openCleanup(); });
    row->addWidget(&cleanUp);
    return *line;
}

QWidget& LibraryPane::projectLine() {
    projectRow = new QWidget;
    auto* row = new QHBoxLayout(projectRow);
    row->setContentsMargins(10, 6, 10, 6);
    projects = new QComboBox;
    projects->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    projects->setToolTip("One project's files: on its walls, or kept with it. Masters added while a project shows are "
                         "kept with it");
    projects->setAccessibleName("Show");
    connect(projects, &QComboBox::activated, this, [this](int index) {
        const QVariant id = projects->itemData(index);
        model.setLibraryProject(id.isNull() ? std::nullopt : std::optional(id.toString().toStdString()));
        refresh();
    });
    row->addWidget(projects);
    row->addStretch();
    return *projectRow;
}

QWidget& LibraryPane::searchLine() {
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(10, 0, 10, 8);
    search = new QLineEdit;
    search->setPlaceholderText("Search");
    search->setClearButtonEnabled(true);
    search->setAcceptDrops(false); // files dropped here are masters for the library, not text
    connect(search, &QLineEdit::textChanged, this, &LibraryPane::refresh);
    row->addWidget(search);
    return *line;
}

void LibraryPane::buildList() {
    list = new QListView;
    list->setModel(&listModel);
    list->setItemDelegate(&delegate);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setLayoutMode(QListView::Batched); // a long library lays out without holding up the window
    list->setDragDropMode(QAbstractItemView::DragOnly);
    list->setDefaultDropAction(Qt::CopyAction);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QListView::customContextMenuRequested, this, &LibraryPane::showMenu);
    connect(&delegate, &LibraryDelegate::clicked, this, &LibraryPane::pressed);
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &LibraryPane::selectionChanged);
    connect(&listModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { keptSelection = selectedTags(); });
    connect(&listModel, &QAbstractItemModel::modelReset, this, [this] { select(keptSelection); });

    auto* remove = new QAction("Delete", list);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QAction::triggered, this, &LibraryPane::deleteSelection);
    list->addAction(remove);
}

// While only jobs change, as they do all along while making, the asset rows are left as they are.
void LibraryPane::refresh() {
    const std::string searched = search->text().toStdString();
    const bool assetsAsBefore = shownFor == std::pair(model.libraryRevision(), searched);
    if (assetsAsBefore) rows.refreshJobs(model, searched);
    else rows = LibraryRows::of(model, searched);
    shownFor = {model.libraryRevision(), searched};
    clearFailed->setVisible(model.anyStopped());
    summary->setText(text(rows.summary));
    summary->setToolTip(summary->text());
    refreshProjects();
    if (assetsAsBefore) listModel.updateJobs(rows, model.probed());
    else listModel.update(rows, model.probed());
    list->setVisible(!rows.emptyText);
    empty->setVisible(rows.emptyText.has_value());
    empty->setText(text(rows.emptyText.value_or("")));
}

// The entries are built again only when the projects change, so an open pop-up stays as it is.
void LibraryPane::refreshProjects() {
    projectRow->setVisible(!model.service().projects().empty());
    QStringList names{"All files"};
    for (const Project& project : model.service().projects()) names << text(project.name);
    QStringList shown;
    for (int index = 0; index < projects->count(); ++index) shown << projects->itemText(index);
    const QSignalBlocker quiet(projects);
    if (names != shown) {
        projects->clear();
        projects->addItem(names.front());
        for (const Project& project : model.service().projects()) projects->addItem(text(project.name), text(project.id));
    }
    const auto chosen = model.libraryProject();
    projects->setCurrentIndex(chosen ? std::max(0, projects->findData(text(*chosen))) : 0);
}

std::vector<Asset> LibraryPane::selectedAssets() const { return rows.selected(selectedTags()); }

void LibraryPane::focusSearch() {
    search->setFocus(Qt::ShortcutFocusReason);
    search->selectAll();
}

std::set<std::string> LibraryPane::selectedTags() const {
    std::set<std::string> tags;
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        tags.insert(index.data(LibraryListModel::TagRole).toString().toStdString());
    return tags;
}

// Rows that left the list drop out; neighbours go in as one range each.
void LibraryPane::select(const std::set<std::string>& tags) {
    QItemSelection selection;
    for (int row = 0; row < listModel.rowCount(); ++row) {
        if (!tags.contains(listModel.row(row).tag)) continue;
        int last = row;
        while (last + 1 < listModel.rowCount() && tags.contains(listModel.row(last + 1).tag)) ++last;
        selection.select(listModel.index(row), listModel.index(last));
        row = last;
    }
    list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void LibraryPane::pressed(const QModelIndex& index, LibraryDelegate::Button button) {
    const auto& item = listModel.row(index.row()).item;
    if (const auto* asset = std::get_if<Asset>(&item)) {
        confirmTrash({*asset});
        return;
    }
    const JobGroup& group = std::get<JobGroup>(item);
    switch (button) {
    case LibraryDelegate::Button::stop: model.stop(group); break;
    case LibraryDelegate::Button::tryAgain: model.retry(group); break;
    case LibraryDelegate::Button::remove: model.dismiss({group}); break;
    case LibraryDelegate::Button::trash: break;
    }
}

void LibraryPane::deleteSelection() {
    const std::vector<Asset> removing = LibraryRows::deleteSelection(model, selectedTags());
    list->clearSelection();
    if (!removing.empty()) confirmTrash(removing);
}

void LibraryPane::confirmTrash(const std::vector<Asset>& assets) {
    confirm(*window(), LibraryRows::trashTitle(assets), LibraryRows::trashMessage(model, assets), "Move to Trash",
            [&model = model, assets] { model.moveToTrash(assets); });
}

// An asset row's menu acts on the selection when the row is in it, else on the row alone. A job
// row's menu holds its buttons, so that the menu key reaches them too.
void LibraryPane::showMenu(const QPoint& at) {
    const QModelIndex index = list->indexAt(at);
    if (!index.isValid()) return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (const auto* asset = std::get_if<Asset>(&listModel.row(index.row()).item)) {
        const std::vector<Asset> targets =
            list->selectionModel()->isSelected(index) ? selectedAssets() : std::vector<Asset>{*asset};
        // Named for whichever file manager the desktop has.
        menu->addAction("Show in File Manager", this,
                        [this, file = asset->folder / asset->file] { desktop.reveal({file}); });
        if (!model.service().projects().empty()) addProjects(*menu->addMenu("Projects"), targets);
        menu->addAction("Move to Trash…", this, [this, alone = *asset] { confirmTrash({alone}); });
    } else {
        addJobButtons(*menu, index);
    }
    if (menu->isEmpty()) return menu->deleteLater();
    menu->popup(list->viewport()->mapToGlobal(at));
}

void LibraryPane::addJobButtons(QMenu& menu, const QPersistentModelIndex& index) {
    using Button = LibraryDelegate::Button;
    const JobGroup& group = std::get<JobGroup>(listModel.row(index.row()).item);
    const auto add = [&](const char* title, Button button) {
        menu.addAction(title, this, [this, index, button] {
            if (index.isValid()) pressed(index, button);
        });
    };
    if (group.active()) add("Stop", Button::stop);
    if (group.stopped()) {
        add("Try again", Button::tryAgain);
        add("Remove", Button::remove);
    }
}

void LibraryPane::addProjects(QMenu& menu, const std::vector<Asset>& targets) {
    std::vector<std::string> ids;
    for (const Asset& target : targets) ids.push_back(target.id);
    for (const LibraryRows::ProjectEntry& entry : LibraryRows::projectEntries(model.service().projects(), targets)) {
        QAction* action = menu.addAction(text(entry.title), this, [this, entry, ids] {
            if (entry.untie) model.stores().projects.untie({ids.begin(), ids.end()}, entry.project);
            else model.stores().projects.tie(ids, entry.project);
        });
        action->setEnabled(entry.actionable);
    }
}

void LibraryPane::dragEnterEvent(QDragEnterEvent* event) {
    if (!holdsFiles(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setOver(true);
}

void LibraryPane::dragLeaveEvent(QDragLeaveEvent*) { setOver(false); }

void LibraryPane::dropEvent(QDropEvent* event) {
    setOver(false);
    if (model.dropMasters(mimeItems(*event->mimeData()))) event->acceptProposedAction();
    else event->ignore();
}

void LibraryPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    outline->setGeometry(rect());
}

void LibraryPane::setOver(bool over) {
    outline->setVisible(over);
    if (over) outline->raise();
}
