#include "app/Terminal/ServeChecks.h"

namespace fs = std::filesystem;

namespace {

// The first folder on the way to path that is a link leading nowhere, as a link to a disk that
// is not mounted does.
std::optional<fs::path> brokenLinkOnTheWay(const fs::path& path) {
    std::optional<fs::path> broken;
    for (fs::path step = path; step.has_relative_path(); step = step.parent_path()) {
        std::error_code error;
        if (fs::is_symlink(step, error) && !fs::exists(step, error)) broken = step;
    }
    return broken;
}

} // namespace

std::optional<ServeProblem> serveProblem(const fs::path& home, const fs::path& library) {
    std::error_code error;
    if (home == "/" || !fs::is_directory(home, error))
        return ServeProblem{"no home folder to keep the library and the paired browsers in (HOME is " +
                            (home == "/" ? std::string("not set") : home.string()) + ")"};
    if (const std::optional<fs::path> broken = brokenLinkOnTheWay(library))
        return ServeProblem{"the library folder " + library.string() + " is not there: " + broken->string() +
                                " leads to " + fs::read_symlink(*broken, error).string() +
                                ", which does not exist (a disk not mounted yet?)",
                            ServeProblem::passing};
    return std::nullopt;
}
