#pragma once
#include "TrelkCore/Library/Asset.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Taking an asset's files out of the library, to the Trash by default.
namespace Library {

// Moves one file or folder away; throws when it cannot.
using Trash = std::function<void(const std::filesystem::path&)>;
enum class Confirmed { yes, no };

// Moves the asset's files to the Trash; the first failure ends it and is thrown on.
void remove(const Asset& asset, const Trash& trash);
// Removes the asset when confirmed or used by nothing; false when the user must be asked first.
bool trash(const Asset& asset, const std::vector<std::string>& usedBy, Confirmed confirmed, const Trash& trash);
// The user's Trash: the default trash operation.
void toTrash(const std::filesystem::path& path);

} // namespace Library
