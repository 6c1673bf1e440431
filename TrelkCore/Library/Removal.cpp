#include "TrelkCore/Library/Removal.h"

#include "TrelkCore/Library/Library.h"

#include "TrelkCore/Platform/Files.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// The visible names in a folder; a folder that cannot be listed counts as empty.
std::vector<std::string> visibleNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (!name.starts_with(".")) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ignored;
    return fs::absolute(a, ignored).lexically_normal() == fs::absolute(b, ignored).lexically_normal();
}

bool onlyHolds(const fs::path& folder, const std::vector<std::string>& names) {
    return std::ranges::all_of(visibleNames(folder), [&](const std::string& name) {
        return std::ranges::find(names, name) != names.end();
    });
}

void removeSet(const Asset& asset, const Library::Trash& trash) {
    for (const Asset::Part& part : asset.parts) {
        const fs::path folder = part.url.parent_path();
        // A part's folder goes whole only when nothing else lives in it.
        bool shared = !onlyHolds(folder, {part.file}) || sameFolder(folder, asset.folder) ||
                      sameFolder(folder, Library::defaultFolder());
        trash(shared ? part.url : folder);
    }
    if (asset.manifest) trash(*asset.manifest);
}

void removeFiles(const Asset& asset, const Library::Trash& trash) {
    std::vector<std::string> names{asset.file};
    for (const Asset::Strip& strip : asset.strips) names.push_back(strip.file);
    if (asset.isPackage())
        for (const std::string& name : visibleNames(asset.folder))
            if (name.ends_with(".vorlane.json")) names.push_back(name);
    if (asset.isPackage() && onlyHolds(asset.folder, names) && !sameFolder(asset.folder, Library::defaultFolder())) {
        trash(asset.folder);
        return;
    }
    for (const std::string& name : names) trash(asset.folder / name);
}

} // namespace

namespace Library {

void remove(const Asset& asset, const Trash& trash) {
    if (asset.isSet()) removeSet(asset, trash);
    else removeFiles(asset, trash);
}

bool trash(const Asset& asset, const std::vector<std::string>& usedBy, Confirmed confirmed, const Trash& trash) {
    if (confirmed == Confirmed::no && !usedBy.empty()) return false;
    remove(asset, trash);
    return true;
}

void toTrash(const fs::path& path) { Files::moveToTrash(path); }

} // namespace Library
