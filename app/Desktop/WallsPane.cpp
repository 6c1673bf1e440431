#include "app/Desktop/WallsPane.h"

#include "app/Desktop/Confirmation.h"
#include "app/Desktop/SheetLook.h"
#include "app/Desktop/WallRow.h"
#include "app/Window/WindowModel.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

namespace {

// "· open" turns into "· seen …" after 15 seconds, and the relative time moves on.
constexpr std::chrono::seconds seenInterval{15};

} // namespace

WallsPane::WallsPane(WindowModel& model, QWidget* parent) : QWidget(parent), model(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header());

    empty = new QLabel(SheetLook::text(WallRows::empty));
    SheetLook::secondary(*empty);
    empty->setWordWrap(true);
    empty->setContentsMargins(10, 0, 10, 10);
    empty->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(empty, 1);

    scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(scroll, 1); // one of the two shows at a time

    showSections(WallRows::sections(model, selected.size(), std::chrono::system_clock::now()));
    seenClock.setInterval(seenInterval);
    connect(&seenClock, &QTimer::timeout, this, &WallsPane::refresh);
    seenClock.start();
}

QWidget* WallsPane::header() {
    auto* header = new QWidget;
    auto* line = new QHBoxLayout(header);
    line->setContentsMargins(10, 10, 10, 10);
    line->setSpacing(10);
    auto* title = new QLabel(SheetLook::text(WallRows::title));
    SheetLook::headline(*title);
    auto* hint = new SheetLook::OneLine(SheetLook::text(WallRows::hint));
    SheetLook::caption(*hint);
    line->addWidget(title);
    line->addWidget(hint, 1);
    return header;
}

void WallsPane::refresh() {
    std::vector<WallRows::Section> sections =
        WallRows::sections(model, selected.size(), std::chrono::system_clock::now());
    if (sections != shown) showSections(std::move(sections));
}

void WallsPane::setSelected(std::vector<Asset> assets) {
    selected = std::move(assets);
    refresh();
}

void WallsPane::showSections(std::vector<WallRows::Section> sections) {
    shown = std::move(sections);
    empty->setVisible(shown.empty());
    scroll->setVisible(!shown.empty());

    auto* list = new QWidget;
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(10, 0, 10, 10);
    column->setSpacing(14);
    for (const WallRows::Section& section : shown)
        column->addWidget(sectionWidget(section));
    column->addStretch();
    // Later: the rebuild may come from a click on one of the old rows' buttons.
    if (QWidget* old = scroll->takeWidget()) old->deleteLater();
    scroll->setWidget(list);
}

QWidget* WallsPane::sectionWidget(const WallRows::Section& section) {
    auto* widget = new QWidget;
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    auto* name = new SheetLook::OneLine(SheetLook::text(section.name));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* seen = new QLabel(SheetLook::text(section.seen));
    SheetLook::secondary(*seen);
    auto* forget = new QToolButton;
    forget->setAutoRaise(true);
    forget->setText("Forget");
    forget->setFont(SheetLook::captionFont(forget->font()));
    connect(forget, &QToolButton::clicked, this, [this, section] { this->forget(section); });
    line->addWidget(name);
    line->addWidget(seen);
    line->addStretch();
    line->addWidget(forget);
    column->addLayout(line);

    for (const WallRows::Row& row : section.rows)
        column->addWidget(new WallRow(model, section.id, row, selected));
    return widget;
}

// Kept files would lose their project: asked first when there are any.
void WallsPane::forget(const WallRows::Section& section) {
    if (!section.forgetAsk) return model.stores().projects.forget(section.id);
    WindowModel& store = model;
    confirm(*window(), section.forgetAsk->title, section.forgetAsk->message, "Forget",
            [&store, project = section.id] { store.stores().projects.forget(project); });
}
