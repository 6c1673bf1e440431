#include "app/Desktop/TrayIcon.h"

#include "app/Desktop/MenuIcon.h"
#include "app/Desktop/XEmbedTray.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QPalette>
#include <QSystemTrayIcon>

namespace {

const QString watcherService = "org.kde.StatusNotifierWatcher";

bool onX11() {
    return QGuiApplication::platformName() == "xcb";
}

bool watcherThere() {
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(watcherService);
}

} // namespace

TrayIcon::TrayIcon(QMenu& menu, std::function<void()> showManager)
    : menu(menu), showManager(std::move(showManager)),
      panels(watcherService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration) {
    connect(&panels, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (!tray) make();
    });
    connect(&lookAgain, &QTimer::timeout, this, [this] {
        if (XEmbedTray::there()) make();
    });
    QApplication::instance()->installEventFilter(this);
    if (watcherThere() || (onX11() && XEmbedTray::there())) make();
    else if (onX11()) lookAgain.start(std::chrono::seconds(5));
}

TrayIcon::~TrayIcon() = default;

QIcon TrayIcon::picture() {
    return MenuIcon::make(QApplication::palette().color(QPalette::WindowText));
}

bool TrayIcon::shown() const {
    return tray && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::make() {
    lookAgain.stop();
    onDBus = watcherThere();
    tray = std::make_unique<QSystemTrayIcon>(picture());
    tray->setToolTip("vorlane Trelk");
    tray->setContextMenu(&menu);
    connect(tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        activated(reason);
    });
    tray->show(); // Qt shows it again in a tray that restarts
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QApplication::instance() && event->type() == QEvent::ApplicationPaletteChange && tray)
        tray->setIcon(picture());
    return false;
}

// A panel of the D-Bus road shows the exported menu itself on a right click, and its users expect
// a left click to bring up the application's window. An XEmbed tray only reports the click: there
// the menu opens, as on a right click.
void TrayIcon::activated(int reason) {
    if (reason != QSystemTrayIcon::Trigger) return;
    if (onDBus) showManager();
    else menu.popup(QCursor::pos());
}
