#include "app/CommandLine.h"

#include "app/QuitSignals.h"
#include "app/TerminalDesktop.h"
#include "app/TrelkModel.h"

#include "TrelkCore/Version.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: vorlane-trelk [COMMAND]\n"
    "\n"
    "commands:\n"
    "  serve       run the service for paired browser pages (the default)\n"
    "  --version   print the version\n"
    "  --help      print this help\n";

int usageError() {
    std::fputs(usage, stderr);
    return 2;
}

// The service without windows: dialogs are asked on the terminal.
int serve(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QuitSignals quitSignals;
    TerminalDesktop desktop(STDIN_FILENO, stdout, quitSignals.descriptor());
    TrelkModel model(desktop);
    QObject::connect(&model, &TrelkModel::serverReady, [&model] {
        if (std::optional<uint16_t> port = model.port())
            std::printf("listening on 127.0.0.1:%u\n", unsigned(*port));
        else
            std::printf("%s\n", model.status().c_str());
        std::fflush(stdout);
    });
    return application.exec();
}

} // namespace

int runCommandLine(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return serve(argc, argv);
    std::string_view command = arguments.front();
    if (arguments.size() == 1) {
        if (command == "serve") return serve(argc, argv);
        if (command == "--version") {
            std::printf("vorlane Trelk %s\n", TrelkInfo::current().description().c_str());
            return 0;
        }
        if (command == "--help" || command == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    return usageError();
}
