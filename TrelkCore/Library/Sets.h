#pragma once
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One part of a set as its manifest names it: the part's file is at manifest folder / dir / file.
struct SetPart {
    std::string dir;
    std::string file;
    int64_t w = 0;
    int64_t h = 0;
    double duration = 0;

    // As a manifest lists it; none when the value is not such a part.
    static std::optional<SetPart> decoded(const nlohmann::json& value);
    nlohmann::json encoded() const;

    bool operator==(const SetPart&) const = default;
};

// The ".vorlane-set.json" file that makes several parts one asset.
struct SetManifest {
    std::string format = "vorlane-set";
    int64_t version = 1;
    std::string name;
    std::vector<SetPart> parts; // left to right
    std::optional<bool> ordered;

    SetManifest() = default;
    SetManifest(std::string name, std::vector<SetPart> parts);

    // None when the file cannot be read or decoded, is not a version 1 set, or has under 2 parts.
    static std::optional<SetManifest> read(const std::filesystem::path& path);
    // Pretty-printed JSON with sorted keys; empty when it cannot be written.
    std::string data() const;

    bool operator==(const SetManifest&) const = default;
};

// What file names tell of the sets they belong to: position words, keys, order, labels, names.
namespace SetName {

std::optional<std::string> key(std::string_view fileName);
// Key → indices into names, for groups of at least 2 with all different positions.
std::map<std::string, std::vector<size_t>> groups(const std::vector<std::string>& names);
// A permutation of the indices: left to right, then the rest by name.
std::vector<size_t> order(const std::vector<std::string>& names);
std::vector<std::string> labels(const std::vector<std::string>& names);
std::string common(const std::vector<std::string>& names);
std::string fileName(std::string_view setName);

} // namespace SetName
