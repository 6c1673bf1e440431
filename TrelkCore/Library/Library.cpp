#include "TrelkCore/Library/Library.h"

#include "TrelkCore/Library/Package.h"
#include "TrelkCore/Library/Sets.h"
#include "TrelkCore/Library/StillSizes.h"
#include "TrelkCore/LibraryFolders.h"
#include "TrelkCore/Platform/Crypto.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view setSuffix = ".vorlane-set.json";
constexpr std::string_view packageSuffix = ".vorlane.json";
// Where the newest time of several files starts: before any file's time, 1970 included.
constexpr auto distantPast = std::chrono::system_clock::time_point::min();

// What one scan has found so far, and which files are already taken by a package or set.
struct Scan {
    std::string root; // the standardised library folder, as text
    std::vector<Asset> assets;
    std::unordered_set<std::string> used; // paths as text: far cheaper to compare than paths

    std::string idOf(const fs::path& path) const {
        std::string relative = path.string().substr(std::min(root.size(), path.string().size()));
        size_t first = relative.find_first_not_of('/');
        size_t last = relative.find_last_not_of('/');
        return Library::id(first == std::string::npos ? "" : relative.substr(first, last - first + 1));
    }

    Asset plain(const Files::Entry& entry) const {
        Asset asset;
        asset.id = idOf(entry.path);
        asset.name = asset.file = entry.path.filename().string();
        asset.folder = entry.path.parent_path();
        asset.bytes = entry.facts.size;
        asset.modified = entry.facts.modified;
        return asset;
    }
};

// The set's parts as they are on disk, or none when one of them is not.
std::optional<Asset> setAsset(const Scan& scan, const fs::path& manifestPath, std::vector<fs::path>& files) {
    std::optional<SetManifest> manifest = SetManifest::read(manifestPath);
    if (!manifest) return std::nullopt;
    const fs::path folder = manifestPath.parent_path();
    Asset asset;
    asset.modified = distantPast;
    std::set<std::string> seen; // parts are served by file name alone, so names must differ
    for (const SetPart& part : manifest->parts) {
        if (!Library::safeName(part.dir) || !Library::safeName(part.file) || !seen.insert(part.file).second)
            return std::nullopt;
        const fs::path url = folder / part.dir / part.file;
        std::optional<Files::Facts> facts = Files::isRealFolder(folder / part.dir) ? Files::facts(url) : std::nullopt;
        if (!facts) return std::nullopt;
        asset.bytes += facts->size;
        asset.modified = std::max(asset.modified, facts->modified);
        asset.parts.push_back({part.file, url, part.w, part.h, part.duration});
        files.push_back(url);
    }
    asset.id = scan.idOf(manifestPath);
    asset.name = manifest->name;
    asset.folder = folder;
    asset.file = asset.parts.front().file;
    asset.manifest = manifestPath;
    asset.ordered = manifest->ordered.value_or(false);
    return asset;
}

std::optional<Asset> packageAsset(const Scan& scan, const fs::path& manifestPath, std::vector<fs::path>& files) {
    std::optional<Library::Package> package = Library::package(manifestPath);
    if (!package) return std::nullopt;
    const fs::path folder = manifestPath.parent_path();
    Asset asset;
    asset.modified = distantPast;
    std::vector<std::string> names{package->wide};
    for (const Asset::Strip& strip : package->strips) names.push_back(strip.file);
    for (const std::string& name : names) {
        std::optional<Files::Facts> facts = Files::facts(folder / name);
        if (!facts) return std::nullopt; // gone since the manifest was read
        asset.bytes += facts->size;
        asset.modified = std::max(asset.modified, facts->modified);
        files.push_back(folder / name);
    }
    asset.id = scan.idOf(manifestPath);
    asset.name = package->name;
    asset.folder = folder;
    asset.file = package->wide;
    asset.master = package->master;
    asset.strips = package->strips;
    asset.fps = package->fps;
    asset.alpha = MediaKinds::alphaTypes.contains(MediaKinds::extension(package->wide)) &&
                  Library::webmAlpha(folder / package->wide);
    return asset;
}

using Reader = std::optional<Asset> (*)(const Scan&, const fs::path&, std::vector<fs::path>&);

// Adds the asset of every manifest with that suffix, and marks its files as used.
void addManifests(Scan& scan, const std::vector<Files::Entry>& entries, std::string_view suffix, Reader read) {
    for (const Files::Entry& entry : entries) {
        if (!entry.path.filename().string().ends_with(suffix)) continue;
        std::vector<fs::path> files;
        std::optional<Asset> asset = read(scan, entry.path, files);
        if (!asset) continue;
        for (const fs::path& file : files) scan.used.insert(file.string());
        scan.used.insert(entry.path.string());
        scan.assets.push_back(std::move(*asset));
    }
}

bool isMadeFileName(const std::string& name) {
    return name.find(".wide-") != std::string::npos || name.find(".strip-") != std::string::npos;
}

void addPlainFiles(Scan& scan, const std::vector<Files::Entry>& entries) {
    auto unused = [&](const Files::Entry& entry) { return !scan.used.contains(entry.path.string()); };
    for (const MediaKinds::Types* types : {&MediaKinds::videoTypes, &MediaKinds::alphaTypes}) {
        for (const Files::Entry& entry : entries) {
            if (!types->contains(MediaKinds::extension(entry.path)) || !unused(entry) ||
                isMadeFileName(entry.path.filename().string()))
                continue;
            Asset asset = scan.plain(entry);
            asset.alpha = types == &MediaKinds::alphaTypes && Library::webmAlpha(entry.path);
            scan.assets.push_back(std::move(asset));
        }
    }
    for (const Files::Entry& entry : entries) {
        if (!MediaKinds::stillTypes.contains(MediaKinds::extension(entry.path)) || !unused(entry)) continue;
        if (std::optional<Asset::Size> size = Library::stillSize(entry.path)) {
            Asset asset = scan.plain(entry);
            asset.still = size;
            scan.assets.push_back(std::move(asset));
        }
    }
}

// Stable by name in the file browser's order.
std::vector<Asset> sortedByName(std::vector<Asset> assets) {
    std::vector<std::string> keys;
    keys.reserve(assets.size());
    for (const Asset& asset : assets) keys.push_back(Text::nameSortKey(asset.name));
    std::vector<size_t> order(assets.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    std::vector<Asset> sorted;
    sorted.reserve(assets.size());
    for (size_t index : order) sorted.push_back(std::move(assets[index]));
    return sorted;
}

} // namespace

namespace Library {

fs::path defaultFolder() { return Files::home() / "Movies" / "vorlane Library"; }

std::vector<Asset> scan(const fs::path& folder, std::vector<std::string>* leftOut) {
    const fs::path root = fs::absolute(folder).lexically_normal();
    std::optional<std::vector<Files::Entry>> entries = Files::regularFiles(root, [](std::string_view name, int depth) {
        return depth == 1 && (name == LibraryFolders::drop || name == LibraryFolders::masters);
    });
    if (!entries) return {};
    // A name that is not UTF-8 (an old archive's Latin-1) could not be asked for again by the page.
    std::erase_if(*entries, [&](const Files::Entry& entry) {
        const std::string_view relative = std::string_view(entry.path.native()).substr(root.native().size() + 1);
        if (Text::validUTF8(relative)) return false;
        if (leftOut) leftOut->emplace_back(relative);
        return true;
    });
    Scan scan{root.string(), {}, {}};
    addManifests(scan, *entries, setSuffix, setAsset);
    addManifests(scan, *entries, packageSuffix, packageAsset);
    addPlainFiles(scan, *entries);
    return sortedByName(std::move(scan.assets));
}

std::string id(std::string_view relativePath) {
    return "a" + Crypto::sha256Hex(Text::composed(relativePath)).substr(0, 20);
}

bool safeName(std::string_view name) {
    return !name.empty() && name.size() <= 511 && name.find_first_of(std::string_view("/\\\0", 3)) == name.npos &&
           name != "." && name != ".." && !name.starts_with(".");
}

std::optional<fs::path> file(std::string_view name, const Asset& asset) {
    if (!safeName(name)) return std::nullopt;
    if (asset.isSet()) {
        for (const Asset::Part& part : asset.parts)
            if (part.file == name) return part.url;
        return std::nullopt;
    }
    bool own = name == asset.file ||
               std::ranges::any_of(asset.strips, [&](const Asset::Strip& strip) { return strip.file == name; });
    if (!own) return std::nullopt;
    return asset.folder / name;
}

} // namespace Library
