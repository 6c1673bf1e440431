#include "TrelkCore/Service/AssetListing.h"

#include "TrelkCore/Service/HTTP.h"

#include <nlohmann/json.hpp>

std::shared_ptr<const AssetListing> AssetListing::of(std::shared_ptr<const std::vector<Asset>> assets) {
    if (!assets) assets = std::make_shared<const std::vector<Asset>>();
    nlohmann::json listed = nlohmann::json::array();
    for (const Asset& asset : *assets) listed.push_back(asset.json());
    return std::make_shared<const AssetListing>(AssetListing{std::move(assets), HTTPResponse::compactJSON(listed)});
}
