#pragma once
#include "app/Desktop/Icons.h"

#include <QStyledItemDelegate>

#include <map>
#include <vector>

// Draws the library list's rows, job rows and asset rows, with their buttons: drawn, not widgets,
// so that a list of thousands scrolls smoothly. A click on a button is told by clicked.
class LibraryDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Button { stop, tryAgain, remove, trash };

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    void clicked(const QModelIndex& index, LibraryDelegate::Button button);

private:
    struct Placed {
        Button button;
        QRect rect;
    };
    struct Tones;
    static std::vector<Placed> buttons(const QStyleOptionViewItem& option, const QModelIndex& index);
    // Where the row's texts end: before its buttons.
    static int textEnd(const QStyleOptionViewItem& option, const QModelIndex& index);
    void paintJob(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                  const Tones& tones) const;
    void paintAsset(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                    const Tones& tones) const;
    void paintButtons(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                      const Tones& tones) const;
    void paintIcon(QPainter& painter, const QRect& room, Icons::Symbol symbol, const QColor& colour) const;

    // Icons are looked up or drawn once per symbol and colour, not on every paint.
    mutable std::map<std::pair<Icons::Symbol, QRgb>, QIcon> icons;
};
