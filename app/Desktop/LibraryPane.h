#pragma once
#include "app/Desktop/LibraryDelegate.h"
#include "app/Window/LibraryListModel.h"
#include "app/Window/LibraryRows.h"

#include <QWidget>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class DesktopServices;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QToolButton;
class WindowModel;

// The library half of the manager window: its header, the project shown, the search, and the
// list of job rows and asset rows, which takes masters dropped on it. Drawn from the model's
// published fields whenever the window calls refresh.
class LibraryPane : public QWidget {
    Q_OBJECT
public:
    LibraryPane(WindowModel& model, DesktopServices& desktop, QWidget* parent = nullptr);

    void refresh();
    // The selected shown assets, in shown order.
    std::vector<Asset> selectedAssets() const;
    void focusSearch();

signals:
    void selectionChanged();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget& header();
    QWidget& projectLine();
    QWidget& searchLine();
    void buildList();
    void refreshProjects();
    std::set<std::string> selectedTags() const;
    void select(const std::set<std::string>& tags);
    void pressed(const QModelIndex& index, LibraryDelegate::Button button);
    void deleteSelection();
    void confirmTrash(const std::vector<Asset>& assets);
    void showMenu(const QPoint& at);
    void addProjects(QMenu& menu, const std::vector<Asset>& targets);
    void addJobButtons(QMenu& menu, const QPersistentModelIndex& index);
    void setOver(bool over);

    WindowModel& model;
    DesktopServices& desktop;
    LibraryRows rows;
    // The library revision and the search the rows were made for.
    std::optional<std::pair<uint64_t, std::string>> shownFor;
    LibraryListModel listModel;
    LibraryDelegate delegate;
    std::set<std::string> keptSelection; // across a reset of the list
    QToolButton* clearFailed = nullptr;
    QLabel* summary = nullptr;
    QWidget* projectRow = nullptr;
    QComboBox* projects = nullptr;
    QLineEdit* search = nullptr;
    QListView* list = nullptr;
    QLabel* empty = nullptr;
    QWidget* outline = nullptr;
};
