#pragma once
#include "app/Window/WallRows.h"

#include <QTimer>
#include <QWidget>

#include <vector>

class QLabel;
class QScrollArea;
class WindowModel;

// The right side of the manager window: each project the browser showed, with its walls. The
// window calls refresh when the model changes; the pane rebuilds its walls only when what they
// show changed, and keeps the projects' seen texts current on its own.
class WallsPane : public QWidget {
    Q_OBJECT
public:
    explicit WallsPane(WindowModel& model, QWidget* parent = nullptr);

    // Redraws from the model's published fields.
    void refresh();
    // The library's selected shown assets, which "Add" adds.
    void setSelected(std::vector<Asset> assets);

private:
    QWidget* header();
    QWidget* sectionWidget(const WallRows::Section& section);
    void showSections(std::vector<WallRows::Section> sections);
    void forget(const WallRows::Section& section);

    WindowModel& model;
    std::vector<Asset> selected;
    std::vector<WallRows::Section> shown;
    QLabel* empty;
    QScrollArea* scroll;
    QTimer seenClock;
};
