#pragma once
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class CleanupSheet;
class DesktopServices;
class DropSheet;
class LibraryPane;
class QMenu;
class WindowModel;
class WallsPane;

// The application's one window: the library and the walls side by side, and the sheets the
// model asks for. It is made when opened and goes when closed; the service runs on.
class ManagerWindow : public QMainWindow {
    Q_OBJECT
public:
    // commands: the tray's menu, for a desktop without a tray to show it on; may be none.
    ManagerWindow(WindowModel& model, DesktopServices& desktop, QMenu* commands = nullptr);

    // The window made once and shown, or brought to the front; none after it was closed.
    static void open(QPointer<ManagerWindow>& window, WindowModel& model, DesktopServices& desktop, QMenu* commands = nullptr);

private:
    void addCommands(QMenu& commands);
    void refreshSoon();
    void refresh();
    // A drop plan or a clean-up plan waiting shows as its sheet, one at a time.
    void showSheets();

    WindowModel& model;
    LibraryPane* library;
    WallsPane* walls;
    QPointer<DropSheet> dropSheet;
    QPointer<CleanupSheet> cleanupSheet;
    QTimer refreshTimer;
};
