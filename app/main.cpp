#include "app/CommandLine.h"
#include "app/QuitSignals.h"

int main(int argc, char** argv) {
    QuitSignals::block(); // before any thread exists
    return runCommandLine(argc, argv);
}
