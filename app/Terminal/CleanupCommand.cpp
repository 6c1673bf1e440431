#include "app/Terminal/CleanupCommand.h"

#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/Service/ServiceSetup.h"

#include "TrelkCore/Jobs/Jobs.h"
#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Text.h"
#include "TrelkCore/Projects/Cleanup.h"
#include "TrelkCore/Projects/Projects.h"

#include <cstdio>
#include <set>
#include <string>

namespace {

void print(const std::vector<CleanupGroup>& groups) {
    if (groups.empty()) std::printf("Nothing to clean up.\n");
    for (const CleanupGroup& group : groups) {
        std::printf("%s  %s · %s · %s\n", group.on ? "[on] " : "[off]", group.id.c_str(),
                    Text::terminalSafe(group.title).c_str(), Text::byteCount(group.bytes()).c_str());
        std::printf("       %s\n", group.detail.c_str());
        for (const CleanupItem& item : group.items)
            std::printf("       - %s · %s\n", Text::terminalSafe(item.name).c_str(), Text::byteCount(item.bytes).c_str());
    }
}

// The groups named switched on and only those; false when a name is not in the plan.
bool choose(std::vector<CleanupGroup>& groups, const std::set<std::string_view>& names) {
    for (std::string_view name : names)
        if (std::ranges::find(groups, name, &CleanupGroup::id) == groups.end()) {
            std::fprintf(stderr, "no group \"%.*s\" in the plan\n", int(name.size()), name.data());
            return false;
        }
    for (CleanupGroup& group : groups) group.on = names.contains(group.id);
    return true;
}

int trash(std::vector<CleanupGroup>& groups, const std::set<std::string_view>& names, Projects& projects,
          const std::filesystem::path& library) {
    // Two writers of the same stores would lose each other's changes. The instance lock is this
    // user's own: another user's service, or another program on the ports, is no matter; held
    // until the end, it keeps a service from starting meanwhile.
    SingleInstance instance;
    if (!instance.claimLock()) {
        std::fputs("vorlane Trelk is running: use its clean-up, or quit it first\n", stderr);
        return 1;
    }
    if (!choose(groups, names)) return 1;
    const std::vector<std::string> failed = Cleanup::run(Cleanup::chosen(groups), library, projects, Library::toTrash);
    for (const std::string& name : failed)
        std::fprintf(stderr, "Couldn't move to the Trash: %s\n", Text::terminalSafe(name).c_str());
    return failed.empty() ? 0 : 1;
}

} // namespace

int cleanupCommand(const std::vector<std::string_view>& arguments) {
    const bool trashing = !arguments.empty() && arguments.front() == "--trash";
    if ((trashing && arguments.size() < 2) || (!trashing && !arguments.empty())) return 2;
    QuitSignals quitSignals;
    quitSignals.endProcessOnQuit();
    const ServiceSetup setup = ServiceSetup::standard();
    Projects projects(setup.serviceFolder / "projects.json");
    std::vector<CleanupGroup> groups =
        Cleanup::plan(Library::scan(setup.library), projects.all(),
                      Jobs::keptMasters(setup.library, setup.serviceFolder / "masters.json"), setup.library);
    if (!trashing) {
        print(groups);
        return 0;
    }
    return trash(groups, {arguments.begin() + 1, arguments.end()}, projects, setup.library);
}
