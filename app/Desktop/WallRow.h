#pragma once
#include "app/Window/WallRows.h"

#include <QWidget>

#include <string>
#include <vector>

class QVBoxLayout;
class WindowModel;

// One wall of a project: its list when the project's list belongs to it, the additions still
// being made, and its "Add" button. It is a drop target of its own: library rows dragged onto it
// join its list; files become one cue on its left half and separate cues on its right.
class WallRow : public QWidget {
    Q_OBJECT
public:
    // What the row shows over itself while something is dragged onto it.
    enum class DragLook { none, outline, oneCue, separate };

    // selected (the library's selected assets, for "Add") must outlive the row.
    WallRow(WindowModel& model, std::string project, const WallRows::Row& row, const std::vector<Asset>& selected,
            QWidget* parent = nullptr);

    DragLook dragLook() const { return look; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Overlay;

    QWidget* header(const WallRows::Row& row);
    QWidget* entryLine(const WallRows::Entry& entry);
    QWidget* pendingLine(const std::string& name);
    bool oneCueAt(const QPointF& position) const;
    void showDrag(DragLook shown);

    WindowModel& model;
    const std::string project;
    const std::string wall;
    const std::vector<Asset>& selected;
    Overlay* overlay;
    DragLook look = DragLook::none;
};
