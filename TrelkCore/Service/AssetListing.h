#pragma once
#include "TrelkCore/Library/Asset.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The last scan's assets as the router serves them, their JSON array written once: a page that
// polls the library while nothing changes costs a copy of the text, not a rebuild of it.
struct AssetListing {
    std::shared_ptr<const std::vector<Asset>> assets; // never null
    std::optional<std::string> json; // the assets' array as the reply carries it; none if it could not be written

    // Null reads as no assets.
    static std::shared_ptr<const AssetListing> of(std::shared_ptr<const std::vector<Asset>> assets);
};
