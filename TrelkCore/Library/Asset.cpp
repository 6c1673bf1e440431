#include "TrelkCore/Library/Asset.h"

#include "TrelkCore/Platform/Text.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale; // std::round goes half away from zero
}

std::string_view kindOf(const Asset& asset) {
    if (asset.isSet()) return "set";
    if (asset.isPackage()) return "package";
    if (asset.isStill()) return "still";
    return "video";
}

} // namespace

nlohmann::json Asset::json() const {
    nlohmann::json object{{"id", id},          {"name", name},
                          {"file", file},      {"bytes", bytes},
                          {"kind", kindOf(*this)}, {"modified", Text::iso8601(modified)}};
    if (fps) object["fps"] = rounded(*fps, 3);
    if (isSet()) {
        nlohmann::json list = nlohmann::json::array();
        for (const Part& part : parts)
            list.push_back({{"file", part.file}, {"w", part.w}, {"h", part.h}, {"dur", rounded(part.duration, 3)}});
        object["parts"] = std::move(list);
        if (ordered) object["ordered"] = true;
    }
    if (still) {
        object["w"] = still->w;
        object["h"] = still->h;
    }
    if (alpha) object["alpha"] = true;
    if (master) {
        object["master"] = {{"w", master->w}, {"h", master->h}};
        nlohmann::json list = nlohmann::json::array();
        for (const Strip& strip : strips) list.push_back({{"file", strip.file}, {"x", strip.x}, {"w", strip.w}});
        object["strips"] = std::move(list);
    }
    return object;
}
