#include "app/Terminal/CommandLine.h"
#include "app/Desktop/TrayApp.h"
#include "app/QuitSignals.h"

int main(int argc, char** argv) {
    QuitSignals::block(); // before any thread exists
    if (argc == 1 && TrayApp::displayThere()) return TrayApp::run(argc, argv);
    return runCommandLine(argc, argv);
}
