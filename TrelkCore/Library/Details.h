#pragma once
#include "TrelkCore/Library/Asset.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The texts that describe an asset in the window: its detail line and the facts shown on hover.
namespace Details {

// The probed facts of an asset's file that the texts use. The library does not see the making's
// master info; whoever holds one fills this in.
struct Facts {
    int64_t w = 0;
    int64_t h = 0;
    double fps = 0;
    double duration = 0; // seconds
    std::string codec;   // as the probes report it
    bool audio = false;
    bool operator==(const Facts&) const = default;
};

// (label, value)
using Line = std::pair<std::string, std::string>;

// Codec codes as the probes report them, compared exactly, and their display names.
extern const std::array<std::pair<std::string_view, std::string_view>, 26> codecs;

// The display name; a code not in the table as it is, without white space around it.
std::string codec(std::string_view code);

// Whole seconds, rounded half away from zero: "1:05", "1:02:05". Negative is 0.
std::string clock(double seconds);

// "12.34 Gb/s", "10.0 Mb/s", "850 kb/s"; none unless both size and duration are positive.
std::optional<std::string> bitrate(int64_t bytes, double seconds);

// The labelled facts in display order; added defaults to the asset's modification time.
std::vector<Line> lines(const Asset& asset, const std::optional<Facts>& info,
                        std::optional<std::chrono::system_clock::time_point> added = std::nullopt);

} // namespace Details
