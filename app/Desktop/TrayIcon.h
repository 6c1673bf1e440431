#pragma once
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's tray, on the road the desktop offers: a StatusNotifierItem
// over D-Bus with its menu exported, or the older XEmbed tray of X11. A panel that starts after
// the program still gets the icon, on either road.
// Qt chooses its road once and for all, at the first question about the tray, and off X11 it
// has no other road. So while no panel is there, nothing is asked: the icon is made once one
// comes, and Qt itself registers it again with a panel that restarts.
class TrayIcon : public QObject {
public:
    TrayIcon(QMenu& menu, std::function<void()> showManager);
    ~TrayIcon() override;

    // A panel shows the icon now.
    bool shown() const;
    // The tray's picture in the desktop's text colour, so that it reads on light and dark panels.
    static QIcon picture();

protected:
    // Draws the icon again when the desktop's colours change, as from a light theme to a dark one.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void make();
    void activated(int reason);

    QMenu& menu;
    std::function<void()> showManager;
    std::unique_ptr<QSystemTrayIcon> tray;
    bool onDBus = false;
    QDBusServiceWatcher panels;
    QTimer lookAgain; // for an XEmbed panel, which says nothing when it comes
};
