#pragma once
#include <QMenu>
#include <QObject>

#include <functional>
#include <string>

class DesktopServices;
class WindowModel;
class UpdateChecker;
struct Job;

// The tray's menu: the service's state, the open jobs and the commands. It follows the model
// and the update check, and is built again whenever either changes.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    TrayMenu(WindowModel& model, UpdateChecker& updates, DesktopServices& desktop, std::function<void()> openManager);

    QMenu& menu() { return items; }
    // "Cancel · show.mov · making 42%", "Retry · show.mov · cancelled"; empty for a job done.
    static std::string jobText(const Job& job);

private:
    void rebuildSoon();
    void rebuild();
    void addText(const std::string& text);
    QAction* addCommand(const std::string& text, std::function<void()> action);
    void addJob(const Job& job);

    WindowModel& model;
    UpdateChecker& updates;
    DesktopServices& desktop;
    std::function<void()> openManager;
    QMenu items;
    bool rebuildPending = false;
};
