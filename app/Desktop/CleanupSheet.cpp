#include "app/Desktop/CleanupSheet.h"

#include "app/Desktop/SheetLook.h"
#include "app/Window/WindowModel.h"

#include "TrelkCore/Platform/Text.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace {

QString sizeText(int64_t bytes) { return SheetLook::text(Text::byteCount(bytes)); }

// One line a thing that would go: its name, and its size at the far end.
QWidget* itemList(const CleanupGroup& group) {
    auto* list = new QWidget;
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(20, 2, 0, 2);
    column->setSpacing(2);
    for (const CleanupItem& item : group.items) {
        auto* line = new QHBoxLayout;
        auto* name = new SheetLook::OneLine(SheetLook::text(item.name));
        SheetLook::caption(*name, SheetLook::Digits::proportional, SheetLook::Tone::primary);
        auto* bytes = new QLabel(sizeText(item.bytes));
        SheetLook::caption(*bytes, SheetLook::Digits::monospaced);
        line->addWidget(name, 1);
        line->addWidget(bytes);
        column->addLayout(line);
    }
    return list;
}

} // namespace

CleanupSheet::CleanupSheet(WindowModel& model, QWidget* parent)
    : QDialog(parent), model(model), edited(model.cleanup().value_or(std::vector<CleanupGroup>{})) {
    QVBoxLayout& column = SheetLook::column(*this, {520, 420});

    auto* headline = new QLabel("Clean up the library");
    SheetLook::headline(*headline);
    column.addWidget(headline);
    if (edited.empty()) {
        auto* nothing = new QLabel("Nothing to clean up");
        SheetLook::secondary(*nothing);
        column.addWidget(nothing);
        column.addStretch();
    } else {
        column.addWidget(groupList(), 1);
    }

    auto* bottom = new QHBoxLayout;
    total = new QLabel;
    SheetLook::caption(*total);
    bottom->addWidget(total, 1);
    trash = &SheetLook::addButtons(*this, *bottom, "Move to Trash");
    column.addLayout(bottom);
    showTotal();
}

QWidget* CleanupSheet::groupList() {
    auto* list = new QWidget;
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(8, 6, 8, 6);
    column->setSpacing(10);
    for (CleanupGroup& group : edited)
        column->addWidget(groupEntry(group));
    column->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(list);
    return scroll;
}

// The group stays where it is in edited for the sheet's life: the switch writes to it.
QWidget* CleanupSheet::groupEntry(CleanupGroup& group) {
    auto* entry = new QWidget;
    auto* column = new QVBoxLayout(entry);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(2);

    auto* line = new QHBoxLayout;
    auto* on = new QCheckBox(SheetLook::text(group.title));
    QFont medium = on->font();
    medium.setWeight(QFont::Medium);
    on->setFont(medium);
    on->setChecked(group.on);
    connect(on, &QCheckBox::toggled, this, [this, &group](bool checked) {
        group.on = checked;
        showTotal();
    });
    auto* size = new QLabel(QString::number(group.items.size()) + " · " + sizeText(group.bytes()));
    SheetLook::caption(*size, SheetLook::Digits::monospaced);
    auto* show = new QToolButton;
    show->setAutoRaise(true);
    show->setArrowType(Qt::DownArrow);
    show->setToolTip("Show what's in it");
    line->addWidget(on);
    line->addStretch();
    line->addWidget(size);
    line->addWidget(show);
    column->addLayout(line);

    auto* detail = new QLabel(SheetLook::text(group.detail));
    SheetLook::caption(*detail);
    detail->setIndent(20);
    detail->setWordWrap(true);
    column->addWidget(detail);

    QWidget* items = itemList(group);
    items->hide();
    column->addWidget(items);
    connect(show, &QToolButton::clicked, items, [show, items] {
        items->setVisible(!items->isVisible());
        show->setArrowType(items->isVisible() ? Qt::UpArrow : Qt::DownArrow);
    });
    return entry;
}

void CleanupSheet::showTotal() {
    // The chosen items as one group, to be summed as groups are.
    CleanupGroup chosen;
    chosen.items = Cleanup::chosen(edited);
    const int64_t bytes = chosen.bytes();
    total->setText(bytes >= 1 ? "To the Trash: " + sizeText(bytes) : "Nothing chosen");
    trash->setEnabled(bytes >= 1);
}

// Hidden before the clean-up runs: a failure it reports shows over the window, not the sheet.
void CleanupSheet::done(int result) {
    QDialog::done(result);
    if (std::exchange(closed, true)) return;
    if (result == Accepted)
        model.runCleanup(edited);
    else
        model.cancelCleanup();
}
