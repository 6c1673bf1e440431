#include "app/Desktop/TrayApp.h"

#include "app/Desktop/MenuIcon.h"
#include "app/Desktop/Notifications.h"
#include "app/Desktop/QtDesktop.h"
#include "app/Desktop/TrayMenu.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/TrelkModel.h"
#include "app/UpdateChecker.h"

#include <QApplication>
#include <QCursor>
#include <QPalette>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>

namespace {

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

// The icon in the desktop's text colour, so that it reads on light and dark panels alike.
QIcon trayIcon() {
    return MenuIcon::make(QApplication::palette().color(QPalette::WindowText));
}

} // namespace

bool TrayApp::displayThere() {
    return set("WAYLAND_DISPLAY") || set("DISPLAY");
}

namespace {

// The application once it is the one instance.
int runAlone(QApplication& application, SingleInstance& instance) {
    QuitSignals quitSignals;
    quitSignals.quitEventLoop(application);

    QtDesktop desktop;
    TrelkModel model(desktop);
    UpdateChecker updates(desktop);
    Notifications notifications;
    notifications.follow(model);
    const auto openManager = [] {}; // the manager window comes with its own change
    QObject::connect(&instance, &SingleInstance::openAsked, openManager);
    TrayMenu menu(model, updates, desktop, openManager);

    QSystemTrayIcon tray(trayIcon());
    tray.setToolTip("vorlane Trelk");
    tray.setContextMenu(&menu.menu());
    // A click shows the menu too, as a right click does.
    QObject::connect(&tray, &QSystemTrayIcon::activated, [&](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu.menu().popup(QCursor::pos());
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        std::fputs("vorlane Trelk: this desktop shows no tray; the service runs without its menu\n", stderr);
    tray.show();
    return application.exec();
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
        if (instance.askToOpen()) return 0;
        std::fputs("vorlane Trelk is already running\n", stderr);
        return 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
