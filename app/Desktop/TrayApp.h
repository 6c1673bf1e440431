#pragma once

// The application with a display: the service, with its menu in the desktop's tray and its
// dialogs as windows.
namespace TrayApp {

// Whether a display (X11 or Wayland) is there to show windows on.
bool displayThere();
int run(int argc, char** argv);

} // namespace TrayApp
