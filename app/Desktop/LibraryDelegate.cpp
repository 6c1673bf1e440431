#include "app/Desktop/LibraryDelegate.h"

#include "app/Desktop/SheetLook.h"
#include "app/Window/LibraryListModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

using Kind = LibraryListModel::Kind;
using RowIcon = LibraryListModel::RowIcon;
using Symbol = Icons::Symbol;
using Button = LibraryDelegate::Button;

constexpr int sideRoom = 10;
constexpr int endRoom = 6;
constexpr int edgeRoom = 5;
constexpr int gap = 6;
constexpr int iconSide = 16;
constexpr int buttonSide = 20;
constexpr int partGap = 2;
constexpr int buttonGap = 2;

// The first line of a row: tall enough for its buttons.
int lineHeight(const QFont& font) { return std::max(QFontMetrics(font).height(), buttonSide); }
int captionHeight(const QFont& font) { return QFontMetrics(SheetLook::captionFont(font)).height(); }

Kind kindOf(const QModelIndex& index) { return Kind(index.data(LibraryListModel::KindRole).toInt()); }

std::optional<Symbol> symbolOf(RowIcon icon) {
    switch (icon) {
    case RowIcon::set: return Symbol::set;
    case RowIcon::still: return Symbol::still;
    case RowIcon::video: return Symbol::video;
    case RowIcon::none: return std::nullopt;
    }
    return std::nullopt;
}

Symbol symbolOf(Button button) {
    switch (button) {
    case Button::stop: return Symbol::stop;
    case Button::tryAgain: return Symbol::tryAgain;
    case Button::remove: return Symbol::remove;
    case Button::trash: return Symbol::trash;
    }
    return Symbol::trash;
}

QString tooltipOf(Button button) {
    switch (button) {
    case Button::stop: return "Stop";
    case Button::tryAgain: return "Try again";
    case Button::remove: return "Remove";
    case Button::trash: return "Move to Trash";
    }
    return {};
}

std::vector<Button> buttonsOf(const QModelIndex& index) {
    if (kindOf(index) == Kind::asset) return {Button::trash};
    if (index.data(LibraryListModel::ActiveRole).toBool()) return {Button::stop};
    if (index.data(LibraryListModel::StoppedRole).toBool()) return {Button::tryAgain, Button::remove};
    return {};
}

void drawText(QPainter& painter, const QRect& room, const QFont& font, const QColor& colour, const QString& text,
              Qt::Alignment alignment = Qt::AlignLeft, Qt::TextElideMode elide = Qt::ElideRight) {
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(room, int(alignment | Qt::AlignVCenter), QFontMetrics(font).elidedText(text, elide, room.width()));
}

int advance(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

} // namespace

// The colours of one row; on a selected row, shades of the highlighted text.
struct LibraryDelegate::Tones {
    QColor primary, secondary, accent, warning;

    explicit Tones(const QStyleOptionViewItem& option) {
        const bool selected = option.state & QStyle::State_Selected;
        primary = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        secondary = option.palette.color(QPalette::PlaceholderText);
        accent = option.palette.color(QPalette::Highlight);
        warning = SheetLook::warning();
        if (!selected) return;
        secondary = primary;
        secondary.setAlphaF(0.75);
        accent = primary;
        warning = SheetLook::warning().lighter(150);
    }
};

std::vector<LibraryDelegate::Placed> LibraryDelegate::buttons(const QStyleOptionViewItem& option,
                                                              const QModelIndex& index) {
    const QRect row = option.rect;
    const int middle = kindOf(index) == Kind::job ? row.top() + endRoom + lineHeight(option.font) / 2 : row.center().y();
    std::vector<Placed> placed;
    int right = row.right() - sideRoom + 1;
    const std::vector<Button> shown = buttonsOf(index);
    for (auto button = shown.rbegin(); button != shown.rend(); ++button) {
        right -= buttonSide;
        placed.insert(placed.begin(), {*button, QRect(right, middle - buttonSide / 2, buttonSide, buttonSide)});
        right -= buttonGap;
    }
    return placed;
}

int LibraryDelegate::textEnd(const QStyleOptionViewItem& option, const QModelIndex& index) {
    const std::vector<Placed> placed = buttons(option, index);
    return (placed.empty() ? option.rect.right() - sideRoom : placed.front().rect.left() - gap) + 1;
}

void LibraryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    panel.text.clear(); // the row's own drawing below; the style only draws selection and focus
    panel.icon = {};
    const QWidget* view = option.widget;
    QStyle* style = view ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &panel, painter, view);

    painter->save();
    const Tones tones(option);
    if (kindOf(index) == Kind::job) paintJob(*painter, option, index, tones);
    else paintAsset(*painter, option, index, tones);
    paintButtons(*painter, option, index, tones);
    painter->restore();
}

void LibraryDelegate::paintJob(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                               const Tones& tones) const {
    const int left = option.rect.left() + sideRoom;
    const int end = textEnd(option, index);
    const QRect line(left, option.rect.top() + endRoom, end - left, lineHeight(option.font));
    if (const auto symbol = symbolOf(RowIcon(index.data(LibraryListModel::IconRole).toInt())))
        paintIcon(painter, QRect(left, line.center().y() - iconSide / 2 + 1, iconSide, iconSide), *symbol, tones.secondary);

    const QFont figures = SheetLook::captionFont(option.font, SheetLook::Digits::monospaced);
    const QString status = index.data(LibraryListModel::DetailRole).toString();
    const int textLeft = left + iconSide + gap;
    // A long failure gives way to the title at half the line; the tooltip has it whole.
    const int statusWidth = std::min(advance(figures, status) + 2, (end - textLeft) / 2);
    const bool stopped = index.data(LibraryListModel::StoppedRole).toBool();
    drawText(painter, QRect(end - statusWidth, line.top(), statusWidth, line.height()), figures,
             stopped ? tones.warning : tones.secondary, status, Qt::AlignRight);
    drawText(painter, QRect(textLeft, line.top(), end - statusWidth - gap - textLeft, line.height()), option.font,
             tones.primary, index.data(Qt::DisplayRole).toString());

    const QStringList parts = index.data(LibraryListModel::PartsRole).toStringList();
    const QFont caption = SheetLook::captionFont(option.font);
    QRect partLine(textLeft, line.bottom() + 1, end - textLeft, captionHeight(option.font) + partGap);
    for (qsizetype at = 0; at + 1 < parts.size(); at += 2) {
        const QString& state = parts[at + 1];
        const int stateWidth = std::min(advance(figures, state) + 2, partLine.width() / 2);
        drawText(painter, partLine.adjusted(0, 0, -stateWidth - gap, 0), caption, tones.primary, parts[at]);
        drawText(painter, partLine.adjusted(partLine.width() - stateWidth, 0, 0, 0), figures, tones.secondary, state,
                 Qt::AlignRight);
        partLine.translate(0, partLine.height());
    }
}

void LibraryDelegate::paintAsset(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                                 const Tones& tones) const {
    const int left = option.rect.left() + sideRoom;
    const int end = textEnd(option, index);
    const RowIcon icon = RowIcon(index.data(LibraryListModel::IconRole).toInt());
    if (const auto symbol = symbolOf(icon))
        paintIcon(painter, QRect(left, option.rect.center().y() - iconSide / 2 + 1, iconSide, iconSide), *symbol,
                  icon == RowIcon::set ? tones.accent : tones.secondary);

    // Names line up whether or not their row has an icon.
    const int textLeft = left + iconSide + gap;
    const int nameHeight = QFontMetrics(option.font).height();
    const QRect name(textLeft, option.rect.top() + edgeRoom, end - textLeft, nameHeight);
    drawText(painter, name, option.font, tones.primary, index.data(Qt::DisplayRole).toString(), Qt::AlignLeft,
             Qt::ElideMiddle);
    const QRect detail(textLeft, name.bottom() + 1 + partGap, name.width(), captionHeight(option.font));
    drawText(painter, detail, SheetLook::captionFont(option.font), tones.secondary,
             index.data(LibraryListModel::DetailRole).toString());
}

void LibraryDelegate::paintButtons(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                                   const Tones& tones) const {
    for (const Placed& placed : buttons(option, index)) {
        const QRect room(placed.rect.center() - QPoint(iconSide / 2 - 1, iconSide / 2 - 1), QSize(iconSide, iconSide));
        paintIcon(painter, room, symbolOf(placed.button), tones.secondary);
    }
}

void LibraryDelegate::paintIcon(QPainter& painter, const QRect& room, Icons::Symbol symbol, const QColor& colour) const {
    const auto key = std::pair(symbol, colour.rgba());
    auto found = icons.find(key);
    if (found == icons.end()) found = icons.emplace(key, Icons::icon(symbol, colour)).first;
    found->second.paint(&painter, room);
}

QSize LibraryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int caption = captionHeight(option.font);
    if (kindOf(index) == Kind::asset) {
        const int lines = QFontMetrics(option.font).height() + partGap + caption;
        return {0, edgeRoom * 2 + std::max(lines, buttonSide)};
    }
    const qsizetype parts = index.data(LibraryListModel::PartsRole).toStringList().size() / 2;
    return {0, endRoom * 2 + lineHeight(option.font) + int(parts) * (caption + partGap)};
}

// Presses on a button are the button's alone: they neither select the row nor start a drag.
bool LibraryDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    for (const Placed& placed : buttons(option, index)) {
        if (!placed.rect.contains(mouse->position().toPoint())) continue;
        if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) emit clicked(index, placed.button);
        return true;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool LibraryDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip)
        for (const Placed& placed : buttons(option, index))
            if (placed.rect.contains(event->pos())) {
                QToolTip::showText(event->globalPos(), tooltipOf(placed.button), view, placed.rect);
                return true;
            }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
