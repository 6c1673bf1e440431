#pragma once
#include "TrelkCore/Projects/Cleanup.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPushButton;
class WindowModel;

// What the library holds that could go, by reason, with sizes: the user switches reasons on or
// off and may look inside each. It edits its own copy of the model's clean-up plan; "Move to
// Trash" hands that copy to the model, and closing it any other way cancels the clean-up.
class CleanupSheet : public QDialog {
    Q_OBJECT
public:
    // Window-modal on parent, when there is one.
    explicit CleanupSheet(WindowModel& model, QWidget* parent = nullptr);

    void done(int result) override;

private:
    QWidget* groupList();
    QWidget* groupEntry(CleanupGroup& group);
    void showTotal();

    WindowModel& model;
    std::vector<CleanupGroup> edited;
    QLabel* total;
    QPushButton* trash;
    bool closed = false; // the model hears of the sheet's end once
};
