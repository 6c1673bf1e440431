// What a run killed in the middle of a making leaves in the library, set right before anything
// new is made. Work folders hold nothing that is not also elsewhere: they go. An earlier output
// moved aside goes back where its successor never arrived, and goes where it did. A dropped
// master that is its own rendition and was already in place lets go of its "Drop here" name.
#include "TrelkCore/Jobs/Jobs.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/FileMoves.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view asidePrefix = ".old-";
constexpr size_t uuidLength = 36;

// The output folder an aside folder was moved from: ".old-" + UUID + "-" + its name.
std::optional<std::string> placeOf(const std::string& aside) {
    const size_t start = asidePrefix.size() + uuidLength + 1;
    if (aside.size() <= start || aside[start - 1] != '-') return std::nullopt;
    std::string name = aside.substr(start);
    return Library::safeName(name) ? std::optional(name) : std::nullopt;
}

void restore(const fs::path& aside, const fs::path& place) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(place, error))) {
        fs::remove_all(aside, error);
        return;
    }
    try {
        Files::moveNoReplace(aside, place);
    } catch (const std::exception&) {
        // Left as it is: never removed while it may be the only copy.
    }
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether some output folder of the library holds this very file under the same name.
bool placed(const fs::path& library, const std::string& name, const struct stat& file) {
    std::error_code error;
    for (fs::directory_iterator entry(library, error), end; !error && entry != end; entry.increment(error)) {
        const std::string folder = entry->path().filename().string();
        if (folder.starts_with(".") || folder == LibraryFolders::drop || folder == LibraryFolders::masters) continue;
        struct stat output;
        if (::lstat((entry->path() / name).c_str(), &output) == 0 && sameFile(output, file)) return true;
    }
    return false;
}

void letGoOfPlaced(const fs::path& library, const fs::path& drop) {
    std::error_code error;
    for (fs::directory_iterator entry(drop, error), end; !error && entry != end; entry.increment(error)) {
        struct stat file;
        const std::string name = entry->path().filename().string();
        if (::lstat(entry->path().c_str(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink < 2) continue;
        if (placed(library, name, file)) ::unlink(entry->path().c_str());
    }
}

} // namespace

void Jobs::tidyLeftovers() {
    letGoOfPlaced(library, dropFolder());
    std::error_code error;
    for (fs::directory_iterator entry(library, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path path = entry->path();
        const std::string name = path.filename().string();
        std::error_code ignored;
        if (name.starts_with(LibraryFolders::workPrefix) && entry->is_directory(ignored)) fs::remove_all(path, ignored);
        else if (name.starts_with(asidePrefix))
            if (std::optional<std::string> place = placeOf(name)) restore(path, library / *place);
    }
}
