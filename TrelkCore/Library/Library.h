#pragma once
#include "TrelkCore/Library/Asset.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The library folder and what it lists.
namespace Library {

std::filesystem::path defaultFolder();
// Never fails: a folder that cannot be read gives no assets. Files whose paths in the folder are
// not UTF-8 are left out, as a page could never ask for them; leftOut gets those paths.
std::vector<Asset> scan(const std::filesystem::path& folder, std::vector<std::string>* leftOut = nullptr);
std::string id(std::string_view relativePath);
bool safeName(std::string_view name);
// The asset's own file of that name, if it may be served.
std::optional<std::filesystem::path> file(std::string_view name, const Asset& asset);

} // namespace Library
