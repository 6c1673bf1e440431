#include "app/Desktop/ManagerWindow.h"

#include "app/Desktop/CleanupSheet.h"
#include "app/Desktop/DropSheet.h"
#include "app/Desktop/LibraryPane.h"
#include "app/Desktop/WallsPane.h"
#include "app/Window/WindowModel.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>

namespace {

constexpr int libraryWidth = 380, wallsWidth = 460;
// Changes come in bursts while jobs make: one redraw for each burst, at most this often.
constexpr std::chrono::milliseconds redrawPause{40};

} // namespace

ManagerWindow::ManagerWindow(WindowModel& model, DesktopServices& desktop, QMenu* commands)
    : model(model), library(new LibraryPane(model, desktop)), walls(new WallsPane(model)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("vorlane Trelk");
    setMinimumSize(700, 420);

    library->setMinimumWidth(300);
    walls->setMinimumWidth(340);
    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->addWidget(library);
    split->addWidget(walls);
    split->setSizes({libraryWidth, wallsWidth});
    split->setStretchFactor(0, libraryWidth);
    split->setStretchFactor(1, wallsWidth);
    setCentralWidget(split);
    resize(libraryWidth + wallsWidth + split->handleWidth(), 560);

    auto* search = new QAction(this);
    search->setShortcut(QKeySequence::Find);
    connect(search, &QAction::triggered, library, &LibraryPane::focusSearch);
    addAction(search);
    if (commands) addCommands(*commands);

    connect(library, &LibraryPane::selectionChanged, this, [this] { walls->setSelected(library->selectedAssets()); });
    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(redrawPause);
    connect(&refreshTimer, &QTimer::timeout, this, &ManagerWindow::refresh);
    connect(&model, &WindowModel::changed, this, &ManagerWindow::refreshSoon);
    refresh();
}

// Without a tray, the tray's commands are the window's menu.
void ManagerWindow::addCommands(QMenu& commands) {
    commands.setTitle("vorlane &Trelk");
    menuBar()->addMenu(&commands);
}

void ManagerWindow::refreshSoon() {
    if (!refreshTimer.isActive()) refreshTimer.start();
}

void ManagerWindow::refresh() {
    library->refresh();
    walls->refresh();
    showSheets();
}

void ManagerWindow::showSheets() {
    if (dropSheet || cleanupSheet) return;
    if (model.dropPlan()) {
        dropSheet = new DropSheet(model, this);
        dropSheet->setAttribute(Qt::WA_DeleteOnClose);
        dropSheet->open();
    } else if (model.cleanup()) {
        cleanupSheet = new CleanupSheet(model, this);
        cleanupSheet->setAttribute(Qt::WA_DeleteOnClose);
        cleanupSheet->open();
    }
}

void ManagerWindow::open(QPointer<ManagerWindow>& window, WindowModel& model, DesktopServices& desktop, QMenu* commands) {
    if (!window) window = new ManagerWindow(model, desktop, commands);
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
