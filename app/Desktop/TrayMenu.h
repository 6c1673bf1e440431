#pragma once
#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class DesktopServices;
class WindowModel;
class UpdateChecker;
struct Job;

// The tray's menu: the service's state, the open jobs and the commands. It follows the model
// and the update check at a pace a panel can bear: a desktop panel fetches the exported menu
// again for every change it is told of, so changes are gathered for `pace`, and only the items
// whose text or state changed are touched.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultPace{500};

    TrayMenu(WindowModel& model, UpdateChecker& updates, DesktopServices& desktop, std::function<void()> openManager,
             std::chrono::milliseconds pace = defaultPace);

    QMenu& menu() { return items; }
    // "Cancel · show.mov · making 42%", "Retry · show.mov · cancelled"; empty for a job done.
    static std::string jobText(const Job& job);

private:
    // One line of the menu: a separator when `text` is empty, a status line when it has no action.
    struct Entry {
        std::string text;
        std::function<void()> action;
        bool enabled = true;
        bool quits = false;
    };

    void refreshSoon();
    void refresh();
    std::vector<Entry> entries() const;
    void reshape(const std::vector<Entry>& next);
    QAction* item(const Entry& entry);
    void update();
    void keepOnScreen();
    Entry job(const Job& job) const;

    WindowModel& model;
    UpdateChecker& updates;
    DesktopServices& desktop;
    std::function<void()> openManager;
    QMenu items;
    std::vector<Entry> shown;
    QTimer pending;
    QElapsedTimer sinceRefresh;
    std::chrono::milliseconds pace;
};
