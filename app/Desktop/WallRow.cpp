#include "app/Desktop/WallRow.h"

#include "app/Desktop/Icons.h"
#include "app/Desktop/MimeItems.h"
#include "app/Desktop/SheetLook.h"
#include "app/Window/WindowModel.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

using Symbol = Icons::Symbol;
using Look = WallRow::DragLook;

constexpr int radius = 6;
constexpr int iconSide = 16;

QColor accent(const QWidget& widget) { return widget.palette().color(QPalette::Highlight); }

void tint(QLabel& label, const QColor& colour) {
    QPalette colours = label.palette();
    colours.setColor(QPalette::WindowText, colour);
    label.setPalette(colours);
}

QLabel* captionLabel(const std::string& text, const QColor& colour) {
    auto* label = new QLabel(SheetLook::text(text));
    SheetLook::caption(*label, SheetLook::Digits::proportional, SheetLook::Tone::primary);
    tint(*label, colour);
    return label;
}

QLabel* secondaryCaption(const std::string& text) {
    auto* label = new QLabel(SheetLook::text(text));
    SheetLook::caption(*label);
    return label;
}

// Numbers and icons at the start of a line, in a column of their own.
QLabel* leadingBox(QLabel* label) {
    label->setFixedWidth(18);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return label;
}

QToolButton* borderless(const QString& text) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setText(text);
    return button;
}

QBoxLayout* bareLine(QWidget* owner) {
    auto* line = new QHBoxLayout(owner);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    return line;
}

bool holdsFiles(const DraggedItems& items) {
    return std::ranges::any_of(items, [](const auto& item) { return item->hasFileURL(); });
}

} // namespace

// Paints what a drag shows over the row and its children, without taking their events or their room.
class WallRow::Overlay : public QWidget {
public:
    explicit Overlay(WallRow& row) : QWidget(&row), row(row) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (row.look == Look::none) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (row.look == Look::outline) return outline(painter);
        const QRect inner = rect().adjusted(2, 2, -2, -2);
        constexpr int gap = 6;
        const int half = (inner.width() - gap) / 2;
        zone(painter, QRect(inner.left(), inner.top(), half, inner.height()), Symbol::set, WallRows::oneCueZone,
             row.look == Look::oneCue);
        zone(painter, QRect(inner.left() + half + gap, inner.top(), inner.width() - half - gap, inner.height()),
             Symbol::separate, WallRows::separateZone, row.look == Look::separate);
    }

private:
    void outline(QPainter& painter) {
        painter.setPen(QPen(accent(*this), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius, radius);
    }

    void zone(QPainter& painter, const QRect& area, Symbol symbol, std::string_view text, bool active) {
        const QColor accentColour = accent(*this);
        QColor fill = active ? accentColour : palette().color(QPalette::Window);
        fill.setAlphaF(active ? 0.85f : 0.92f);
        painter.setPen(QPen(accentColour, 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

        const QColor ink = active ? QColor(Qt::white) : accentColour;
        QFont font = SheetLook::captionFont(this->font());
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        painter.setPen(ink);
        // Icon and text side by side, centred, the text shortened when the half is narrow.
        const QRect room = area.adjusted(4, 4, -4, -4);
        const QString label = painter.fontMetrics().elidedText(SheetLook::text(text), Qt::ElideRight,
                                                               room.width() - iconSide - 4);
        const int width = iconSide + 4 + painter.fontMetrics().horizontalAdvance(label);
        const QPoint start(room.center().x() - width / 2, room.center().y() - iconSide / 2);
        painter.drawPixmap(start, Icons::drawn(symbol, ink).pixmap(iconSide)); // the theme's would not be white
        painter.drawText(QRect(start.x() + iconSide + 4, room.top(), width, room.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, label);
    }

    WallRow& row;
};

WallRow::WallRow(WindowModel& model, std::string project, const WallRows::Row& row,
                 const std::vector<Asset>& selected, QWidget* parent)
    : QWidget(parent), model(model), project(std::move(project)), wall(row.id), selected(selected) {
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);
    column->addWidget(header(row));
    for (const WallRows::Entry& entry : row.entries)
        column->addWidget(entryLine(entry));
    for (const std::string& name : row.pending)
        column->addWidget(pendingLine(name));
    overlay = new Overlay(*this); // last, so that it lies over the lines
}

QWidget* WallRow::header(const WallRows::Row& row) {
    auto* header = new QWidget;
    QBoxLayout* line = bareLine(header);
    auto* name = new SheetLook::OneLine(SheetLook::text(row.name));
    QFont medium = name->font();
    medium.setWeight(QFont::Medium);
    name->setFont(medium);
    line->addWidget(name);
    line->addWidget(secondaryCaption(row.size));
    if (row.count) line->addWidget(captionLabel(*row.count, accent(*this)));
    line->addStretch();
    QToolButton* add = borderless("Add");
    add->setToolTip(SheetLook::text(row.addTip));
    connect(add, &QToolButton::clicked, this, [this] { model.add(selected, wall, project); });
    line->addWidget(add);
    return header;
}

QWidget* WallRow::entryLine(const WallRows::Entry& entry) {
    auto* entryWidget = new QWidget;
    QBoxLayout* line = bareLine(entryWidget);
    auto* position = leadingBox(new QLabel(QString::number(entry.position)));
    SheetLook::caption(*position, SheetLook::Digits::monospaced);
    line->addWidget(position);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(new SheetLook::OneLine(SheetLook::text(entry.name)));
    for (const std::string& note : entry.notes) {
        QLabel* noted = captionLabel(note, SheetLook::warning());
        noted->setWordWrap(true);
        texts->addWidget(noted);
    }
    if (entry.remark)
        texts->addWidget(entry.remark->tone == WallRows::Remark::Tone::warning ? captionLabel(entry.remark->text, SheetLook::warning())
                                                                                : secondaryCaption(entry.remark->text));
    line->addLayout(texts, 1);

    const QColor ink = palette().color(QPalette::WindowText);
    // Icons only, so their tooltips name them, for the pointer and for screen readers.
    const auto button = [&](const char* name, const char* tip, Symbol symbol, bool enabled,
                            std::function<void()> act) {
        QToolButton* pressed = borderless({});
        pressed->setObjectName(name);
        pressed->setToolTip(tip);
        pressed->setAccessibleName(tip);
        pressed->setIcon(Icons::icon(symbol, ink));
        pressed->setEnabled(enabled);
        connect(pressed, &QToolButton::clicked, this, std::move(act));
        line->addWidget(pressed, 0, Qt::AlignTop);
    };
    const std::string item = entry.id;
    button("up", "Move up", Symbol::up, entry.canMoveUp, [this, item] { model.stores().projects.move(item, -1, project); });
    button("down", "Move down", Symbol::down, entry.canMoveDown, [this, item] { model.stores().projects.move(item, 1, project); });
    button("remove", "Remove from this wall", Symbol::removeItem, true, [this, item] { model.stores().projects.remove(item, project); });
    return entryWidget;
}

QWidget* WallRow::pendingLine(const std::string& name) {
    auto* pending = new QWidget;
    QBoxLayout* line = bareLine(pending);
    auto* hourglass = leadingBox(new QLabel);
    hourglass->setPixmap(Icons::icon(Symbol::making, palette().color(QPalette::PlaceholderText)).pixmap(iconSide));
    line->addWidget(hourglass);
    line->addWidget(new SheetLook::OneLine(SheetLook::text(name)), 1);
    line->addWidget(secondaryCaption("making…"));
    return pending;
}

// A card on the pane, so that walls stand apart from each other.
void WallRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
}

void WallRow::resizeEvent(QResizeEvent*) { overlay->setGeometry(rect()); }

bool WallRow::oneCueAt(const QPointF& position) const { return WallRows::oneCue(position.x(), width()); }

void WallRow::showDrag(DragLook shown) {
    look = shown;
    const bool zones = shown == Look::oneCue || shown == Look::separate;
    setMinimumHeight(zones ? 64 : 0); // room for the zones' labels on a wall without a list
    overlay->update();
}

void WallRow::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData& data = *event->mimeData();
    if (!data.hasUrls() && !data.hasText()) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (!holdsFiles(mimeItems(data))) return showDrag(Look::outline);
    showDrag(oneCueAt(event->position()) ? Look::oneCue : Look::separate);
}

void WallRow::dragMoveEvent(QDragMoveEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (look == Look::oneCue || look == Look::separate)
        showDrag(oneCueAt(event->position()) ? Look::oneCue : Look::separate);
}

void WallRow::dragLeaveEvent(QDragLeaveEvent*) { showDrag(Look::none); }

// Always taken: what brings nothing usable the model leaves out.
void WallRow::dropEvent(QDropEvent* event) {
    showDrag(Look::none);
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const DraggedItems items = mimeItems(*event->mimeData());
    if (holdsFiles(items))
        model.dropFiles(items, wall, project, oneCueAt(event->position()));
    else
        model.drop(items, wall, project);
}
