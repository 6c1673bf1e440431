#include "app/Desktop/DropSheet.h"

#include "app/Desktop/SheetLook.h"
#include "app/Window/WindowModel.h"

#include <QButtonGroup>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

// Drops rows at a place between rows and leaves the moving to the sheet, which rebuilds the
// list from its plan.
class FileList : public QListWidget {
public:
    explicit FileList(std::function<void(int from, int before)> moved) : moved(std::move(moved)) {
        setDefaultDropAction(Qt::MoveAction);
        setSelectionMode(SingleSelection);
    }

protected:
    // Only this list's own rows, never files dragged in from elsewhere.
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (dragDropMode() != InternalMove || !event->mimeData()->hasFormat(model()->mimeTypes().constFirst()))
            return event->ignore();
        event->acceptProposedAction();
        setState(DraggingState);
    }
    void dropEvent(QDropEvent* event) override {
        const int from = currentRow();
        const QPoint at = event->position().toPoint();
        const QModelIndex onto = indexAt(at);
        const int before = !onto.isValid() ? count() : onto.row() + (at.y() > visualRect(onto).center().y() ? 1 : 0);
        // A copy, so that the drag does not remove the rows it started from afterwards.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        setState(NoState);
        if (from >= 0) moved(from, before);
    }

private:
    std::function<void(int, int)> moved;
};

QWidget* fileRow(int position, const std::string& name, bool handle) {
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(4, 3, 6, 3);
    auto* number = new QLabel(QString::number(position));
    SheetLook::caption(*number, SheetLook::Digits::monospaced);
    number->setFixedWidth(18);
    number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line->addWidget(number);
    line->addWidget(new SheetLook::OneLine(SheetLook::text(name)), 1);
    if (handle) {
        auto* grip = new QLabel;
        grip->setObjectName("handle");
        const QIcon icon = QIcon::fromTheme("open-menu-symbolic", QIcon::fromTheme("view-list"));
        if (icon.isNull())
            grip->setText("≡");
        else
            grip->setPixmap(icon.pixmap(16));
        SheetLook::caption(*grip);
        line->addWidget(grip);
    }
    return row;
}

} // namespace

DropSheet::DropSheet(WindowModel& model, QWidget* parent)
    : QDialog(parent), model(model), edited(model.dropPlan().value_or(DropPlan({}))) {
    QVBoxLayout& column = SheetLook::column(*this, {460, 360});

    summary = new QLabel;
    SheetLook::headline(*summary);
    column.addWidget(summary);
    column.addWidget(choiceBar());
    setName = new QLabel;
    SheetLook::caption(*setName);
    column.addWidget(setName);
    files = new FileList([this](int from, int before) { moveFile(from, before); });
    column.addWidget(files, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    SheetLook::addButtons(*this, *buttons, "Make");
    column.addLayout(buttons);
    showPlan();
}

// One segment a choice, side by side.
QWidget* DropSheet::choiceBar() {
    auto* bar = new QWidget;
    auto* line = new QHBoxLayout(bar);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(0);
    // The chosen segment must stand out at a glance, in any style.
    bar->setStyleSheet("QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); }");
    choices = new QButtonGroup(bar);
    for (Grouping grouping : edited.choices) {
        auto* segment = new QPushButton(SheetLook::text(label(grouping)));
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setChecked(grouping == edited.grouping);
        choices->addButton(segment, int(grouping));
        line->addWidget(segment);
    }
    connect(choices, &QButtonGroup::idClicked, this, [this](int id) { choose(Grouping(id)); });
    return bar;
}

void DropSheet::choose(Grouping grouping) {
    edited.grouping = grouping;
    showPlan();
}

void DropSheet::moveFile(int from, int before) {
    if (edited.grouping != Grouping::oneCue) return;
    // The file goes before the row that stood there, which moves up one when the file came from above.
    const int to = from < before ? before - 1 : before;
    edited.move(from, to);
    showPlan();
    files->setCurrentRow(std::min(to, files->count() - 1));
}

void DropSheet::showPlan() {
    const bool oneCue = edited.grouping == Grouping::oneCue;
    summary->setText(SheetLook::text(edited.summary()));
    setName->setText(SheetLook::text(edited.setName() + " · left to right · drag to reorder"));
    setName->setVisible(oneCue);
    files->setDragDropMode(oneCue ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
    files->clear();
    const std::vector<std::string> names = edited.names();
    for (size_t index = 0; index < names.size(); ++index) {
        auto* item = new QListWidgetItem(files);
        QWidget* row = fileRow(int(index) + 1, names[index], oneCue);
        item->setSizeHint(row->sizeHint());
        files->setItemWidget(item, row);
    }
}

void DropSheet::done(int result) {
    QDialog::done(result);
    if (std::exchange(closed, true)) return;
    if (result == Accepted)
        model.confirmDrop(edited);
    else
        model.cancelDrop();
}
