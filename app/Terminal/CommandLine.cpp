#include "app/Terminal/CommandLine.h"

#include "app/Terminal/CleanupCommand.h"
#include "app/Terminal/Journal.h"
#include "app/Terminal/MakeCommand.h"
#include "app/QuitSignals.h"
#include "app/Terminal/ServeChecks.h"
#include "app/Terminal/ServeLog.h"
#include "app/Terminal/ServiceManager.h"
#include "app/SingleInstance.h"
#include "app/Terminal/TerminalDesktop.h"
#include "app/Service/TrelkModel.h"

#include "TrelkCore/Error.h"
#include "TrelkCore/Jobs/Stills.h"
#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Library/StillSizes.h"
#include "TrelkCore/Making/AVEngine.h"
#include "TrelkCore/Making/Decode.h"
#include "TrelkCore/MediaKinds.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Version.h"

#include <nlohmann/json.hpp>

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: vorlane-trelk [COMMAND]\n"
    "\n"
    "commands:\n"
    "  serve          run the service for paired browser pages (the default)\n"
    "  scan [FOLDER]  print the library listing (default: the library folder)\n"
    "  probe FILE     print the facts of a master as JSON\n"
    "  make FILE... [--into FOLDER] [--force] [--background]\n"
    "                 make the renditions of masters (default: into the current folder);\n"
    "                 refuses to replace files already there unless --force is given;\n"
    "                 --background makes at low CPU and disk priority, as the service does\n"
    "  cleanup [--trash GROUP...]\n"
    "                 print what could go from the library, in groups by reason with sizes;\n"
    "                 --trash moves the named groups to the Trash (not while the service runs)\n"
    "  --version      print the version\n"
    "  --help         print this help\n";

int usageError() {
    std::fputs(usage, stderr);
    return 2;
}

std::string errorPrefix() { return Journal::prefix(stderr, Journal::Priority::error); }

// The service without windows: dialogs are asked on the terminal.
int serve(int argc, char** argv) {
    if (const std::optional<ServeProblem> problem = serveProblem(Files::home(), Library::defaultFolder())) {
        std::fprintf(stderr, "%s%s\n", errorPrefix().c_str(), problem->message.c_str());
        return problem->status;
    }
    if (!std::getenv("XDG_RUNTIME_DIR"))
        std::fprintf(stderr, "%sXDG_RUNTIME_DIR is not set: the lock of the one service is kept in %s instead\n",
                     Journal::prefix(stderr, Journal::Priority::warning).c_str(), SingleInstance::standardFolder().c_str());
    QCoreApplication application(argc, argv);
    SingleInstance instance;
    instance.withoutWindows();
    if (!instance.claim()) {
        std::fprintf(stderr, "%svorlane Trelk is already running\n", errorPrefix().c_str());
        return 1;
    }
    QuitSignals quitSignals;
    quitSignals.quitEventLoop(application);
    TerminalDesktop desktop(STDIN_FILENO, stdout, quitSignals.descriptor());
    TrelkModel model(desktop);
    ServeLog log(model, stdout);
    ServiceManager manager(model);
    return application.exec();
}

// The listing the browser gets, on one line.
int scan(const std::filesystem::path& folder) {
    QuitSignals quitSignals;
    quitSignals.endProcessOnQuit();
    nlohmann::json listing = nlohmann::json::array();
    for (const Asset& asset : Library::scan(folder)) listing.push_back(asset.json());
    std::printf("%s\n", listing.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
}

// A still as the service sees it: its size, orientation applied, and the file it becomes.
nlohmann::json stillFacts(const std::filesystem::path& still) {
    const std::optional<MediaKinds::Size> size = Library::stillSize(still);
    if (!size) throw TrelkError("couldn't read this picture");
    const Stills::Made made = Stills::planned(still, Ladder::base(still.filename().string()));
    return {{"kind", "still"}, {"w", size->w}, {"h", size->h}, {"file", made.file}, {"asItIs", made.asItIs}};
}

int probe(const std::filesystem::path& master) {
    QuitSignals quitSignals;
    quitSignals.endProcessOnQuit();
    try {
        if (MediaKinds::isStill(master)) {
            std::printf("%s\n", stillFacts(master).dump().c_str());
            return 0;
        }
        const MasterInfo info = AVEngine().probe(master);
        for (const std::string& assumed : info.picture.assumed)
            std::fprintf(stderr, "%s: %s\n", master.c_str(), assumed.c_str());
        std::printf("%s\n", info.json().dump().c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s: %s\n", master.c_str(), Decode::unreadable(failure).c_str());
        return 1;
    }
}

int run(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return serve(argc, argv);
    std::string_view command = arguments.front();
    if (command == "scan" && arguments.size() <= 2 && !(arguments.size() == 2 && arguments[1].starts_with("-")))
        return scan(arguments.size() == 2 ? std::filesystem::path(arguments[1]) : Library::defaultFolder());
    if (command == "probe" && arguments.size() == 2) return probe(arguments[1]);
    if (command == "make") {
        int status = makeCommand({arguments.begin() + 1, arguments.end()});
        return status == 2 ? usageError() : status;
    }
    if (command == "cleanup") {
        int status = cleanupCommand({arguments.begin() + 1, arguments.end()});
        return status == 2 ? usageError() : status;
    }
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

} // namespace

int runCommandLine(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s%s\n", errorPrefix().c_str(), failure.what());
        return 1;
    }
}
