#pragma once
#include "TrelkCore/Projects/Project.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How an asset fits a wall: the texts the window and the asset details show.
namespace Fit {

// The size note first, then the frame-rate note; none when a size is not positive.
std::vector<std::string> notes(int64_t assetW, int64_t assetH, std::optional<double> assetFps, const WallInfo& wall);

// Whether the rate is one the wall asks for. Every run of digits and dots in the wall's text is a
// rate ("25/50" asks for both; "30000/1001" for 30000 and 1001, not their quotient); a text
// without one asks for none and accepts any rate.
bool fpsMatches(double fps, std::string_view wallFps);

// The rate to 2 decimals: "25", "29.97".
std::string fpsLabel(double fps);

} // namespace Fit
