#pragma once
#include "TrelkCore/Jobs/DropPlan.h"

#include <QDialog>

class QButtonGroup;
class QLabel;
class QListWidget;
class WindowModel;

// How several dropped masters become jobs: the user picks the grouping and, for one cue, the
// order of the pieces. It edits its own copy of the model's drop plan; "Make" hands that copy to
// the model, and closing it any other way cancels the drop.
class DropSheet : public QDialog {
    Q_OBJECT
public:
    // Window-modal on parent, when there is one.
    explicit DropSheet(WindowModel& model, QWidget* parent = nullptr);

    const DropPlan& plan() const { return edited; }

    void done(int result) override;

private:
    // A file dragged to just before the row now at before (the count of files: the end); only
    // the pieces of one cue have an order to change.
    void moveFile(int from, int before);
    QWidget* choiceBar();
    void choose(Grouping grouping);
    void showPlan();

    WindowModel& model;
    DropPlan edited;
    QLabel* summary;
    QButtonGroup* choices;
    QLabel* setName;
    QListWidget* files;
    bool closed = false; // the model hears of the sheet's end once
};
