#include "TrelkCore/Projects/Fit.h"

#include "TrelkCore/FrameRate.h"
#include "TrelkCore/Platform/Text.h"

#include <algorithm>
#include <cmath>

namespace Fit {

namespace {

// The relative difference of aspect ratios beyond which a picture is another shape.
constexpr double shapeTolerance = 0.01;
constexpr double rateTolerance = 0.05;

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " × " + std::to_string(h); }

std::vector<double> wallRates(std::string_view text) {
    std::vector<double> rates;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_not_of("0123456789.", start), text.size());
        const std::optional<double> rate = Text::parseDecimal(text.substr(start, end - start));
        if (rate && *rate > 0) rates.push_back(*rate);
        start = end + 1;
    }
    return rates;
}

std::optional<std::string> sizeNote(int64_t assetW, int64_t assetH, const WallInfo& wall) {
    if (assetW == wall.w && assetH == wall.h) return std::nullopt;
    const double wallRatio = double(wall.w) / double(wall.h);
    if (std::abs(double(assetW) / double(assetH) - wallRatio) / wallRatio > shapeTolerance)
        return "Shape " + sizeText(assetW, assetH) + " · the wall is " + sizeText(wall.w, wall.h);
    const bool larger = assetW >= wall.w;
    return std::string(larger ? "Larger · " : "Smaller · ") + sizeText(assetW, assetH) + " on a " +
           sizeText(wall.w, wall.h) + (larger ? " wall, scaled down" : " wall, scaled up");
}

} // namespace

std::vector<std::string> notes(int64_t assetW, int64_t assetH, std::optional<double> assetFps, const WallInfo& wall) {
    if (assetW <= 0 || assetH <= 0 || wall.w <= 0 || wall.h <= 0) return {};
    std::vector<std::string> found;
    if (std::optional<std::string> note = sizeNote(assetW, assetH, wall)) found.push_back(std::move(*note));
    if (assetFps && *assetFps > 0 && !fpsMatches(*assetFps, wall.fps))
        found.push_back(fpsLabel(*assetFps) + " fps · the wall asks for " + wall.fps);
    return found;
}

bool fpsMatches(double fps, std::string_view wallFps) {
    const std::vector<double> rates = wallRates(wallFps);
    if (rates.empty()) return true;
    return std::ranges::any_of(rates, [&](double rate) { return std::abs(rate - fps) < rateTolerance; });
}

std::string fpsLabel(double fps) { return FrameRate::label(fps); }

} // namespace Fit
