#include "app/Desktop/TrayApp.h"

#include "app/Desktop/ManagerWindow.h"
#include "app/Desktop/MenuIcon.h"
#include "app/Desktop/Notifications.h"
#include "app/Desktop/QtDesktop.h"
#include "app/Desktop/TrayMenu.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/UpdateChecker.h"
#include "app/Window/WindowModel.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

// The icon in the desktop's text colour, so that it reads on light and dark panels alike.
QIcon trayIcon() {
    return MenuIcon::make(QApplication::palette().color(QPalette::WindowText));
}

// Calls back when the desktop's colours change, as from a light theme to a dark one.
class PaletteWatch : public QObject {
public:
    explicit PaletteWatch(std::function<void()> changed) : changed(std::move(changed)) {
        QApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) changed();
        return false;
    }

private:
    std::function<void()> changed;
};

} // namespace

bool TrayApp::displayThere() {
    return set("WAYLAND_DISPLAY") || set("DISPLAY");
}

namespace {

// The application once it is the one instance.
int runAlone(QApplication& application, SingleInstance& instance) {
    QuitSignals quitSignals;
    quitSignals.quitEventLoop(application);

    QApplication::setWindowIcon(QIcon::fromTheme("vorlane-trelk", trayIcon()));
    QtDesktop desktop;
    TrelkModel service(desktop);
    WindowModel model(service);
    UpdateChecker updates(desktop);
    Notifications notifications;
    notifications.follow(service);
    // Without a tray the window is the way in: it opens at launch and carries the menu.
    const bool trayThere = QSystemTrayIcon::isSystemTrayAvailable();
    QPointer<ManagerWindow> window;
    QMenu* windowMenu = nullptr;
    const auto openManager = [&] { ManagerWindow::open(window, model, desktop, windowMenu); };
    QObject::connect(&instance, &SingleInstance::openAsked, [&](const QString& activationToken) {
        // Qt's Wayland platform takes the token from here when it activates the window.
        if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toLatin1());
        openManager();
    });
    TrayMenu menu(model, updates, desktop, openManager);
    if (!trayThere) windowMenu = &menu.menu();

    QSystemTrayIcon tray(trayIcon());
    tray.setToolTip("vorlane Trelk");
    tray.setContextMenu(&menu.menu());
    // A click shows the menu too, as a right click does.
    QObject::connect(&tray, &QSystemTrayIcon::activated, [&](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu.menu().popup(QCursor::pos());
    });
    PaletteWatch colours([&] { tray.setIcon(trayIcon()); });
    tray.show(); // a tray that comes later, once the panel has started, still gets the icon
    if (!trayThere) {
        std::fputs("vorlane Trelk: this desktop shows no tray; its menu is in the window\n", stderr);
        openManager();
    }
    const int status = application.exec();
    delete window; // before the model it shows
    return status;
}

} // namespace

// A later start hands over to the one running: that one opens its window.
int TrayApp::run(int argc, char** argv) {
    try {
        QApplication application(argc, argv);
        application.setQuitOnLastWindowClosed(false); // it lives in the tray
        QApplication::setDesktopFileName("vorlane-trelk");
        SingleInstance instance;
        if (instance.claim()) return runAlone(application, instance);
        switch (instance.askToOpen(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").toStdString())) {
        case SingleInstance::Answer::opened: return 0;
        case SingleInstance::Answer::headless:
            std::fputs("vorlane Trelk is running as a service without windows (serve); stop it to use the tray\n", stderr);
            return 1;
        case SingleInstance::Answer::none: break;
        }
        std::fputs("vorlane Trelk is already running\n", stderr);
        return 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
