#include "app/Desktop/TrayApp.h"

#include "app/Desktop/ManagerWindow.h"
#include "app/Desktop/Notifications.h"
#include "app/Desktop/QtDesktop.h"
#include "app/Desktop/TrayIcon.h"
#include "app/Desktop/TrayMenu.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/UpdateChecker.h"
#include "app/Window/WindowModel.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>

#include <cstdio>
#include <cstdlib>

namespace {

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
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

    QApplication::setWindowIcon(QIcon::fromTheme("vorlane-trelk", TrayIcon::picture()));
    QtDesktop desktop;
    TrelkModel service(desktop);
    WindowModel model(service);
    UpdateChecker updates(desktop);
    Notifications notifications;
    notifications.follow(service);
    QPointer<ManagerWindow> window;
    QMenu* windowMenu = nullptr;
    const auto openManager = [&] { ManagerWindow::open(window, model, desktop, windowMenu); };
    QObject::connect(&instance, &SingleInstance::openAsked, [&](const QString& activationToken) {
        // Qt's Wayland platform takes the token from here when it activates the window.
        if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toLatin1());
        openManager();
    });
    const auto showManager = [&] {
        desktop.activate();
        openManager();
    };
    TrayMenu menu(model, updates, desktop, openManager);
    TrayIcon tray(menu.menu(), showManager);
    // Without a tray the window is the way in: it opens at launch and carries the menu. A panel
    // that comes later gets the icon, and the window stays.
    if (!tray.shown()) {
        windowMenu = &menu.menu();
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
        // What panels list the tray item by; the X11 instance name stays the command's.
        QApplication::setApplicationName("vorlane Trelk");
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
