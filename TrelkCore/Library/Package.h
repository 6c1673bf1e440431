#pragma once
#include "TrelkCore/MediaKinds.h"

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Readers of what made files carry: the package manifest, frame rates and the WebM alpha mark.
namespace Library {

// What a ".vorlane.json" manifest says of its package.
struct Package {
    std::string name;
    std::string wide;
    MediaKinds::Size master;
    std::vector<MediaKinds::Strip> strips;
    std::optional<double> fps;
};

std::optional<Package> package(const std::filesystem::path& manifest);
// A frame rate from a number or a text such as "25" or "30000/1001".
std::optional<double> rate(const nlohmann::json& value);
bool webmAlpha(const std::filesystem::path& path);

} // namespace Library
